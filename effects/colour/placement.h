// Placement effects: Crop cuts a rectangle out of a frame or marks it on the
// frame, Translate shifts a frame by whole pixels, Paste lays one frame over
// another at a sub-pixel position. Each brings its own row driver.
#pragma once

#include <cstddef>

#include "engine/job.h"

namespace kve {

// Crop: mode 0 sizes the output to the rectangle; the marking modes keep the
// input size and run under the simple line driver.
unsigned CropPrepare(const ImageList &images, const CoordTexts &coords, ArgBlock &in,
                     const OutputList &outputs, EffectJob &job);
void CropDriver(LineOp lineOp, const ImageList &images, ArgBlock &in, const OutputList &outputs,
                ArgBlock &out);
KVE_LINE_OP(CropCutLineOp);
KVE_LINE_OP(CropMarkLineOp);
size_t CropScratch(const ArgBlock &in, const ArgBlock &out);

void TranslateDriver(LineOp lineOp, const ImageList &images, ArgBlock &in,
                     const OutputList &outputs, ArgBlock &out);
KVE_LINE_OP(TranslateLineOp);

void PasteDriver(LineOp lineOp, const ImageList &images, ArgBlock &in, const OutputList &outputs,
                 ArgBlock &out);
KVE_LINE_OP(PasteLineOp);
size_t PasteScratch(const ArgBlock &in, const ArgBlock &out);

}  // namespace kve
