#include "effects/warp/output_size.h"

namespace kve {

unsigned SizeParameterPrepare(const ImageList &, const CoordTexts &, ArgBlock &in,
                              const OutputList &, EffectJob &job) {
    job.outWidth = in.sizes[0][0];
    job.outHeight = in.sizes[0][1];
    return static_cast<unsigned>(-4);
}

}  // namespace kve
