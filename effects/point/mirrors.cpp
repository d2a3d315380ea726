// Mirrors: MirrorH flips each row left to right under the simple line driver;
// MirrorV flips the frame top to bottom with a driver of its own that hands
// the line op input row H - 1 - y for output row y, and the line op copies it.
//
// Rows are read in place and in order, with no copy of the input, so an
// output frame that is also the input gives a half-mirrored frame rather than
// a mirror.
#include <array>
#include <cstring>

#include "effects/point/point_ops.h"
#include "engine/drivers.h"
#include "engine/monitor.h"

namespace kve {

// Output pixel w - 1 - x is input pixel x, whole words.
KVE_LINE_OP(MirrorHLineOp) {
    const int32_t w = out.imageWidth[0];
    const Pixel *src = inLines[0];
    Pixel *dst = outLines[0];
    for (int32_t x = 0; x < w; ++x)
        dst[w - 1 - x] = src[x];
}

// One row copied whole. memmove: on an in-place call the middle row of an odd
// height is its own source.
KVE_LINE_OP(MirrorVLineOp) {
    std::memmove(outLines[0], inLines[0], static_cast<size_t>(out.imageWidth[0]) * sizeof(Pixel));
}

// Only the first input and the first output take part; `first` is 0 on every
// row. Reports after each row, like every driver.
void MirrorVDriver(LineOp lineOp, const ImageList &images, ArgBlock &in, const OutputList &outputs,
                   ArgBlock &out) {
    const int32_t rows = out.imageHeight[0];
    if (rows <= 0) return;
    std::array<const Pixel *, kMaxImages> inLines{};
    std::array<Pixel *, kMaxImages> outLines{};
    for (int32_t y = 0; y < rows; ++y) {
        inLines[0] = RowPtr(images[0], rows - 1 - y, in.imageWidth[0]);
        outLines[0] = RowPtr(outputs[0], y, out.imageWidth[0]);
        lineOp(0, 0, y, 1, inLines.data(), outLines.data(), in, out);
        if (!ReportRow(in, rows, y)) return;
    }
}

}  // namespace kve
