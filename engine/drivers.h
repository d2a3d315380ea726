// The simple line driver and row addressing shared by all drivers.
#pragma once

#include <cstddef>

#include "engine/job.h"

namespace kve {

// Start of row y of a frame `width` pixels wide. Index arithmetic is done in
// size_t so frames of any size are addressed without overflow.
inline Pixel *RowPtr(Pixel *frame, int32_t y, int32_t width) {
    return frame + static_cast<size_t>(y) * static_cast<size_t>(width);
}
inline const Pixel *RowPtr(const Pixel *frame, int32_t y, int32_t width) {
    return frame + static_cast<size_t>(y) * static_cast<size_t>(width);
}

// Hands the line op row y of every input and of every output, for each output
// row in turn, and reports progress after each row.
void SimpleLineDriver(LineOp lineOp, const ImageList &images, ArgBlock &in,
                      const OutputList &outputs, ArgBlock &out);

}  // namespace kve
