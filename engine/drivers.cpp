#include "engine/drivers.h"

#include "engine/monitor.h"

namespace kve {

void SimpleLineDriver(LineOp lineOp, const ImageList &images, ArgBlock &in,
                      const OutputList &outputs, ArgBlock &out) {
    const int32_t rows = out.imageHeight[0];
    if (rows <= 0) return;
    std::array<const Pixel *, kMaxImages> inLines{};
    std::array<Pixel *, kMaxImages> outLines{};
    for (int32_t y = 0; y < rows; ++y) {
        for (int k = 0; k < kMaxImages && images[k]; ++k)
            inLines[k] = RowPtr(images[k], y, in.imageWidth[k]);
        for (int k = 0; k < kMaxImages && outputs[k]; ++k)
            outLines[k] = RowPtr(outputs[k], y, out.imageWidth[k]);
        lineOp(y == 0 ? 1 : 0, 0, y, 1, inLines.data(), outLines.data(), in, out);
        if (!ReportRow(in, rows, y)) return;
    }
}

}  // namespace kve
