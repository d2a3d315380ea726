// Frames, the default size and crop sizes, for callers inside the library.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>

namespace kve {

struct FrameSize {
    int32_t width, height;
};

FrameSize DefaultFrameSize();
FrameSize DefaultOutputSize();

// A double as a 32-bit float; magnitudes beyond the float range become
// infinities instead of being converted out of range.
inline float NarrowToFloat(double value) {
    if (value > FLT_MAX) return INFINITY;
    if (value < -FLT_MAX) return -INFINITY;
    return static_cast<float>(value);
}

// Pixel corners of the centred rectangle (x1, y1)-(x2, y2) of a width x height
// frame, each a 32-bit float; both axes scale by half the frame WIDTH.
struct CropCorners {
    float x1, y1, x2, y2;
};
CropCorners CropPixelCorners(float x1, float y1, float x2, float y2, int32_t width,
                             int32_t height);

// The size Crop writes for the centred rectangle (x1, y1)-(x2, y2) of a
// width x height frame.
FrameSize CropSize(float x1, float y1, float x2, float y2, int32_t width, int32_t height);
// The same from corners already in pixels.
FrameSize CropSize(const CropCorners &corners);

}  // namespace kve
