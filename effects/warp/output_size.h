// The prepare step of the effects whose output size is their first [w h]
// parameter (Resize, ResizeX4Corner) rather than the input size.
#pragma once

#include "engine/job.h"

namespace kve {

// Copies the size parameter into the job's output size; the engine then only
// converts colours (there are no coordinates to convert).
unsigned SizeParameterPrepare(const ImageList &images, const CoordTexts &coords, ArgBlock &in,
                              const OutputList &outputs, EffectJob &job);

}  // namespace kve
