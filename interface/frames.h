// Frames, the default size and crop sizes, for callers inside the library.
#pragma once

#include <cstdint>

namespace kve {

struct FrameSize {
    int32_t width, height;
};

FrameSize DefaultFrameSize();
FrameSize DefaultOutputSize();

// The size Crop writes for the centred rectangle (x1, y1)-(x2, y2) of a
// width x height frame.
FrameSize CropSize(float x1, float y1, float x2, float y2, int32_t width, int32_t height);

}  // namespace kve
