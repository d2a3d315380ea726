// The filters' rows per CPU level, and the one place that picks them.
//
// The scalar level runs the plain references, so KVE_CPU=scalar reproduces
// the filters without any vector code; the SSE2 level runs the SSE2 rows, and
// the AVX2 and AVX-512 levels rows of their own for every filter: the kernels
// (fixed-point and double), Emboss, the medians, the outliers and the blurs'
// lines and column pass. All give the same words.
#include "effects/filter/filter_ops.h"

namespace kve {

namespace {

void KernelFixedPointPlain(const KernelWindow &k, int32_t, const Pixel *frame, int32_t width,
                           int32_t height, int32_t y, Pixel *dst) {
    KernelRowReference(k, frame, width, height, y, dst);
}
void KernelDoublesPlain(const KernelWindow &k, const Pixel *frame, int32_t width, int32_t height,
                        int32_t y, Pixel *dst, KernelRowCache &) {
    KernelRowReference(k, frame, width, height, y, dst);
}
void EmbossPlain(const EmbossKernels &e, const Pixel *frame, int32_t width, int32_t height,
                 int32_t y, Pixel *dst, KernelRowCache &) {
    EmbossRowReference(e, frame, width, height, y, dst);
}
void BlurLinePlain(const BlurLine &line, const Pixel *src, size_t srcStride, int32_t n, Pixel *dst,
                   size_t dstStride, double *) {
    BlurLineReference(line, src, srcStride, n, dst, dstStride);
}
// The column pass pixel by pixel, each the reference's sum down its column.
void BlurColumnsPlain(const BlurLine &line, const Pixel *a, int32_t width, int32_t height,
                      int32_t y0, int32_t y1, Pixel *dst, int32_t &, const BlurWork &) {
    for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = 0; x < width; ++x)
            *dst++ = BlurPointReference(line, a + x, static_cast<size_t>(width), height, y);
}

constexpr FilterRows kPlain = {KernelFixedPointPlain, KernelDoublesPlain,  EmbossPlain,
                               MedianRowReference,    OutlierRowReference, BlurLinePlain,
                               BlurColumnsPlain};
constexpr FilterRows kSse2 = {KernelRowFixedPoint, KernelRowDoubles, EmbossRowFast,
                              MedianRowFast,       OutlierRowFast,   BlurLineFast,
                              BlurColumnsAcross};
#if defined(__x86_64__)
constexpr FilterRows kAvx2 = {KernelRowFixedPointAvx2, KernelRowDoublesAvx2, EmbossRowAvx2,
                              MedianRowAvx2,           OutlierRowAvx2,       BlurLineAvx2,
                              BlurColumnsAvx2};
constexpr FilterRows kAvx512 = {KernelRowFixedPointAvx512, KernelRowDoublesAvx512, EmbossRowAvx512,
                                MedianRowAvx512,           OutlierRowAvx512,       BlurLineAvx512,
                                BlurColumnsAvx512};
constexpr CpuRows<FilterRows> kFilterRows = {{kPlain, kSse2, kAvx2, kAvx512}};
#else
constexpr CpuRows<FilterRows> kFilterRows = {{kPlain, kSse2, kSse2, kSse2}};
#endif

}  // namespace

const CpuRows<FilterRows> &FilterRowSets() {
    return kFilterRows;
}

}  // namespace kve
