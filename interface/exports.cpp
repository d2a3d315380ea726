// The library's ten exported functions. Each is a thin door: no exception
// leaves it, and null pointers are answered, never followed.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "engine/effect_run.h"
#include "engine/monitor.h"
#include "engine/scanner.h"
#include "interface/frames.h"
#include "libkve.h"

namespace kve {

namespace {

// Plain process-wide values with no lock around the pair, as hosts expect;
// atomics only keep each value whole when threads race on them.
std::atomic<int32_t> defaultWidth{352}, defaultHeight{240};
std::atomic<int32_t> defaultOutWidth{352}, defaultOutHeight{240};

// Frame-sequence file: a 64 KiB header, then one 352 x 240 frame at the start
// of every 384 KiB slot.
constexpr int64_t kSequenceHeaderBytes = 65536;
constexpr int64_t kSequenceSlotBytes = 393216;
constexpr size_t kSequenceFrameBytes = 352 * 240 * 4;

}  // namespace

FrameSize DefaultFrameSize() {
    return {defaultWidth.load(), defaultHeight.load()};
}
FrameSize DefaultOutputSize() {
    return {defaultOutWidth.load(), defaultOutHeight.load()};
}

CropCorners CropPixelCorners(float x1, float y1, float x2, float y2, int32_t width,
                             int32_t height) {
    const double hw = width * 0.5, hh = height * 0.5;
    return {NarrowToFloat(hw + hw * x1), NarrowToFloat(hh + hw * y1), NarrowToFloat(hw + hw * x2),
            NarrowToFloat(hh + hw * y2)};
}

FrameSize CropSize(const CropCorners &c) {
    const int64_t left = RoundHalfAway(c.x1 < c.x2 ? c.x1 : c.x2);
    const int64_t right = RoundHalfAway(c.x1 < c.x2 ? c.x2 : c.x1);
    const int64_t top = RoundHalfAway(c.y1 < c.y2 ? c.y1 : c.y2);
    const int64_t bottom = RoundHalfAway(c.y1 < c.y2 ? c.y2 : c.y1);
    auto span = [](int64_t low, int64_t high) {
        const int64_t count = high - low + 1;
        return static_cast<int32_t>(count > std::numeric_limits<int32_t>::max()
                                        ? std::numeric_limits<int32_t>::max()
                                        : count);
    };
    return {span(left, right), span(top, bottom)};
}

FrameSize CropSize(float x1, float y1, float x2, float y2, int32_t width, int32_t height) {
    return CropSize(CropPixelCorners(x1, y1, x2, y2, width, height));
}

}  // namespace kve

using kve::Pixel;

extern "C" {

KVE_API int KVE_EffectBySize(const char *text, uint32_t **inputs, int32_t width, int32_t height,
                             uint32_t *output, int32_t outWidth, int32_t outHeight,
                             MonitorHook *monitor) {
    return kve::Dispatch(text, inputs, width, height, output, outWidth, outHeight, monitor);
}

KVE_API int KVE_Effect(const char *text, uint32_t **inputs, uint32_t *output) {
    const kve::FrameSize in = kve::DefaultFrameSize(), out = kve::DefaultOutputSize();
    return kve::Dispatch(text, inputs, in.width, in.height, output, out.width, out.height, nullptr);
}

KVE_API uint32_t *KVE_FrameNewBySize(int32_t width, int32_t height) {
    if (width < 0 || height < 0) return nullptr;
    // Formed in 64 bits: the pixel count of any int32 size fits, and a block
    // too large for the address space is refused rather than wrapped.
    const uint64_t bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4u;
    if (bytes > static_cast<uint64_t>(std::numeric_limits<ptrdiff_t>::max())) return nullptr;
    // An empty frame is still a distinct block the host can delete.
    return static_cast<uint32_t *>(std::malloc(bytes ? static_cast<size_t>(bytes) : 4));
}

KVE_API uint32_t *KVE_FrameNew(void) {
    const kve::FrameSize size = kve::DefaultFrameSize();
    return KVE_FrameNewBySize(size.width, size.height);
}

KVE_API void KVE_FrameDelete(uint32_t *frame) {
    std::free(frame);
}

KVE_API int KVE_FrameGet(const char *path, uint32_t *frame, uint32_t frameNumber) {
    if (!path || !frame) return 1;
    // Frame 0 would start inside the header: there is no such frame.
    if (frameNumber == 0) return 1;
    std::FILE *file = std::fopen(path, "rb");
    if (!file) return 1;
    const int64_t offset = kve::kSequenceHeaderBytes +
                           (static_cast<int64_t>(frameNumber) - 1) * kve::kSequenceSlotBytes;
    size_t read = 0;
    if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0)
        read = std::fread(frame, 1, kve::kSequenceFrameBytes, file);
    std::fclose(file);
    return read == kve::kSequenceFrameBytes ? 0 : 1;
}

KVE_API void KVE_FrameSizeSet(int32_t width, int32_t height) {
    kve::defaultWidth = width;
    kve::defaultHeight = height;
    kve::defaultOutWidth = width;
    kve::defaultOutHeight = height;
}

KVE_API void KVE_GetCropSizeBySize(float x1, float y1, float x2, float y2, int32_t width,
                                   int32_t height, int32_t *outWidth, int32_t *outHeight) {
    const kve::FrameSize size = kve::CropSize(x1, y1, x2, y2, width, height);
    if (outWidth) *outWidth = size.width;
    if (outHeight) *outHeight = size.height;
}

KVE_API void KVE_GetCropSize(float x1, float y1, float x2, float y2, int32_t *width,
                             int32_t *height) {
    const kve::FrameSize size = kve::DefaultFrameSize();
    KVE_GetCropSizeBySize(x1, y1, x2, y2, size.width, size.height, width, height);
}

KVE_API MonitorHandler KVE_SetMonitorHandler(MonitorHandler handler) {
    return kve::SetProcessMonitor(handler);
}

}  // extern "C"
