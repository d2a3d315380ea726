// Neighbourhood filters: window filters under the neighbourhood driver
// (neighbourhood.cpp, medians.cpp) and the separable blurs under the blur
// driver (blurs.cpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/cpu.h"
#include "engine/job.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kve {

#if defined(__SSE2__)
// RoundHalfAway of each lane, packed as PackPixel packs: lanes are clamped to
// -1..256 first (a NaN lane becomes -1), which changes no packed result.
inline Pixel PackRoundedLanes(__m128d alphaRed, __m128d greenBlue) {
    const __m128d zero = _mm_setzero_pd();
    auto round = [&](__m128d s) {
        const __m128d positive = _mm_cmpgt_pd(s, zero);
        const __m128d half = _mm_or_pd(_mm_and_pd(positive, _mm_set1_pd(0.5)),
                                       _mm_andnot_pd(positive, _mm_set1_pd(-0.5)));
        __m128d t = _mm_add_pd(s, half);
        t = _mm_max_pd(t, _mm_set1_pd(-1.0));  // the second operand wins over a NaN
        t = _mm_min_pd(t, _mm_set1_pd(256.0));
        return _mm_cvttpd_epi32(t);
    };
    const __m128i v = _mm_unpacklo_epi64(round(alphaRed), round(greenBlue));
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(v, v), v);
    return static_cast<Pixel>(_mm_cvtsi128_si32(bytes));
}

#endif

// ---- neighbourhood.cpp -------------------------------------------------------

// Hands the line op the whole input frames (`inLines` are frame bases, not
// rows) and the output row y, for each output row, and reports each row.
// When the output shares storage with the input, finished rows are held back
// until no later row reads their input, so an in-place call gives the pixels
// a separate output would.
void NeighbourhoodDriver(LineOp lineOp, const ImageList &images, ArgBlock &in,
                         const OutputList &outputs, ArgBlock &out);

// The deepest a window reaches above its row (Convolve's 16-row kernel).
constexpr int32_t kMaxReachUp = 8;

using Kernel3x3 = std::array<double, 9>;
// The 3 x 3 kernel of a type at a direction, row-major, top-left first.
Kernel3x3 SelectKernel3x3(int32_t type, int32_t direction);

KVE_LINE_OP(ConvolveLineOp);
KVE_LINE_OP(EdgeLineOp);
KVE_LINE_OP(SharpenLineOp);
KVE_LINE_OP(EmbossLineOp);
size_t ConvolveScratch(const ArgBlock &in, const ArgBlock &out);
size_t EdgeScratch(const ArgBlock &in, const ArgBlock &out);
size_t SharpenScratch(const ArgBlock &in, const ArgBlock &out);
size_t EmbossScratch(const ArgBlock &in, const ArgBlock &out);

// A kernel of kw x kh taps over a frame of W x H pixels; the window of output
// row y covers rows y - kh/2 .. and columns x - kw/2 .., clamped to the frame.
struct KernelWindow {
    const double *taps;  // kw * kh, row-major
    int32_t kw, kh;
};

// A row or column index clamped to 0 .. n - 1.
inline int32_t ClampIndex(int64_t v, int32_t n) {
    return static_cast<int32_t>(v < 0 ? 0 : v >= n ? n - 1 : v);
}

// The kh rows of the window of row y, clamped to the frame.
inline void KernelWindowRows(const KernelWindow &k, const Pixel *frame, int32_t width,
                             int32_t height, int32_t y, const Pixel **rows) {
    const int64_t top = int64_t{y} - k.kh / 2;
    for (int32_t i = 0; i < k.kh; ++i)
        rows[i] =
            frame + static_cast<size_t>(ClampIndex(top + i, height)) * static_cast<size_t>(width);
}

// Row y filtered by the window, in doubles tap by tap (the reference).
void KernelRowReference(const KernelWindow &k, const Pixel *frame, int32_t width, int32_t height,
                        int32_t y, Pixel *dst);

// The shift s (0..8) for which every tap times 2^s is a whole number and 255
// times the sum of their sizes fits 15 bits, or -1. Every partial sum is then
// exact both in doubles and in 16-bit integers.
int32_t KernelFixedPointShift(const KernelWindow &k);
// The same words in 16-bit integer lanes, for a shift KernelFixedPointShift gave.
void KernelRowFixedPoint(const KernelWindow &k, int32_t shift, const Pixel *frame, int32_t width,
                         int32_t height, int32_t y, Pixel *dst);

// Window rows converted to doubles once and kept while later rows use them.
constexpr int32_t kKernelCacheRows = 16;
constexpr int32_t kKernelCachePad = 8;
struct KernelRowCache {
    double *rows;   // KernelCacheDoubles(width), any contents
    int32_t *tags;  // kKernelCacheRows entries, zeroed at the start of a frame
};
size_t KernelCacheDoubles(int32_t width);
// The same words in double lanes, for any kernel.
void KernelRowDoubles(const KernelWindow &k, const Pixel *frame, int32_t width, int32_t height,
                      int32_t y, Pixel *dst, KernelRowCache &cache);
#if defined(__x86_64__)
// The fixed-point rows eight and sixteen pixels at a time, the double rows
// two pixels at a time.
void KernelRowFixedPointAvx2(const KernelWindow &k, int32_t shift, const Pixel *frame,
                             int32_t width, int32_t height, int32_t y, Pixel *dst);
void KernelRowFixedPointAvx512(const KernelWindow &k, int32_t shift, const Pixel *frame,
                               int32_t width, int32_t height, int32_t y, Pixel *dst);
void KernelRowDoublesAvx2(const KernelWindow &k, const Pixel *frame, int32_t width, int32_t height,
                          int32_t y, Pixel *dst, KernelRowCache &cache);
void KernelRowDoublesAvx512(const KernelWindow &k, const Pixel *frame, int32_t width,
                            int32_t height, int32_t y, Pixel *dst, KernelRowCache &cache);
#endif

// Emboss: the two weighted kernels, the level and the colour flag.
struct EmbossKernels {
    const double *k1, *k2;  // 9 taps each
    double level;
    bool colour;
};
void EmbossRowReference(const EmbossKernels &e, const Pixel *frame, int32_t width, int32_t height,
                        int32_t y, Pixel *dst);
void EmbossRowFast(const EmbossKernels &e, const Pixel *frame, int32_t width, int32_t height,
                   int32_t y, Pixel *dst, KernelRowCache &cache);
#if defined(__x86_64__)
// The same two pixels at a time.
void EmbossRowAvx2(const EmbossKernels &e, const Pixel *frame, int32_t width, int32_t height,
                   int32_t y, Pixel *dst, KernelRowCache &cache);
void EmbossRowAvx512(const EmbossKernels &e, const Pixel *frame, int32_t width, int32_t height,
                     int32_t y, Pixel *dst, KernelRowCache &cache);
#endif

// ---- medians.cpp -------------------------------------------------------------

KVE_LINE_OP(Median3x3LineOp);
KVE_LINE_OP(MedianX5LineOp);
KVE_LINE_OP(Outlier3x3LineOp);
KVE_LINE_OP(OutlierX5LineOp);

// The nine window rows of output row y of a 3 x 3 square (x offsets -1, 0, 1
// on rows y-1, y, y+1) or of the 5 + 5 cross.
enum class MedianShape { kSquare, kCross };
using MedianRow = void (*)(MedianShape shape, const Pixel *frame, int32_t width, int32_t height,
                           int32_t y, Pixel *dst);
void MedianRowReference(MedianShape shape, const Pixel *frame, int32_t width, int32_t height,
                        int32_t y, Pixel *dst);
void MedianRowFast(MedianShape shape, const Pixel *frame, int32_t width, int32_t height, int32_t y,
                   Pixel *dst);
#if defined(__x86_64__)
// The same networks eight and (the square) sixteen pixels at a time.
void MedianRowAvx2(MedianShape shape, const Pixel *frame, int32_t width, int32_t height, int32_t y,
                   Pixel *dst);
void MedianRowAvx512(MedianShape shape, const Pixel *frame, int32_t width, int32_t height,
                     int32_t y, Pixel *dst);
#endif

// The outlier test of a threshold t: replace when threshold < the difference,
// channel by channel or (perChannel false) by brightness.
struct OutlierTest {
    int32_t threshold;
    bool perChannel;
};
OutlierTest OutlierTestOf(double t);
void OutlierRowReference(MedianShape shape, OutlierTest test, const Pixel *frame, int32_t width,
                         int32_t height, int32_t y, Pixel *dst);
void OutlierRowFast(MedianShape shape, OutlierTest test, const Pixel *frame, int32_t width,
                    int32_t height, int32_t y, Pixel *dst);
#if defined(__x86_64__)
// The same sums eight and sixteen pixels at a time.
void OutlierRowAvx2(MedianShape shape, OutlierTest test, const Pixel *frame, int32_t width,
                    int32_t height, int32_t y, Pixel *dst);
void OutlierRowAvx512(MedianShape shape, OutlierTest test, const Pixel *frame, int32_t width,
                      int32_t height, int32_t y, Pixel *dst);
#endif

// ---- blurs.cpp ---------------------------------------------------------------

// Three passes of calls: rows of the input into a scratch frame, a pass
// that sets up the column filter, then the output rows.
void BlurDriver(LineOp lineOp, const ImageList &images, ArgBlock &in, const OutputList &outputs,
                ArgBlock &out);

KVE_LINE_OP(BlurFilterLineOp);
KVE_LINE_OP(BlurMotionFilterLineOp);
size_t BlurScratch(const ArgBlock &in, const ArgBlock &out);

// Blur extents in pixels are capped to this.
constexpr int32_t kMaxBlurExtent = 255;

// The position read for position j of a line of n by the edge mode, or -1
// for a 0 word.
int64_t BlurEdgeIndex(int64_t n, int64_t j, int32_t edge);
// The pixel at that position (a 0 word for -1) of a line with a stride.
Pixel BlurEdgePixel(const Pixel *src, size_t stride, int64_t n, int64_t j, int32_t edge);
// Four channel sums rounded with halves away from zero and packed.
Pixel RoundedSumPixel(const double *sum);

// One line filter: output i = sum over o = lo .. hi of weight[o - lo] *
// pixel(i + o), in ascending o, with pixels beyond the line taken by the edge
// mode (1 repeat, 2 reflect, else a 0 word).
struct BlurLine {
    std::array<double, 511> weight;
    int32_t lo, hi;
    int32_t edge;
    // At least 1 when the kernel is symmetric and its taps out to this
    // distance are equal (any beyond are 0): the sum is then a mean of an odd
    // number of pixels, which integer running sums give exactly. 0 otherwise.
    int32_t boxRadius;
};

// Builds the line for a blur extent in pixels (already capped to 0..255):
// symmetric reaches both ways, otherwise the window runs from the pixel
// `extent` pixels forward (backward for a negative extent).
void BuildBlurLine(BlurLine &line, int filterIndex, double extent, bool symmetric, int32_t edge);

// Filters the n pixels src[i * srcStride] into dst[i * dstStride]. The fast
// variant works in `work`, BlurWorkDoubles(n) doubles.
size_t BlurWorkDoubles(int32_t n);
void BlurLineReference(const BlurLine &line, const Pixel *src, size_t srcStride, int32_t n,
                       Pixel *dst, size_t dstStride);
// The reference's output at position i alone.
Pixel BlurPointReference(const BlurLine &line, const Pixel *src, size_t srcStride, int32_t n,
                         int32_t i);
void BlurLineFast(const BlurLine &line, const Pixel *src, size_t srcStride, int32_t n, Pixel *dst,
                  size_t dstStride, double *work);
// The same with a box along a line stored in order two pixels at a time,
// and other kernels a pixel a double vector (AVX2 CPUs only).
void BlurLineAvx2(const BlurLine &line, const Pixel *src, size_t srcStride, int32_t n, Pixel *dst,
                  size_t dstStride, double *work);
// The same with a box of radius up to 127 eight pixels at a time, and other
// kernels into a line stored in order two pixels a vector (AVX-512 CPUs
// only).
void BlurLineAvx512(const BlurLine &line, const Pixel *src, size_t srcStride, int32_t n, Pixel *dst,
                    size_t dstStride, double *work);

// The column pass computed across rows: rows y0 .. y1 - 1 of the vertical
// filtering of `a` (width x height, stored by rows) into `dst` (row y0
// first, width apart), the words BlurLineReference gives column by column.
// A box carries its running sums from one call to the next in `work.sums`
// while `sumsRow` names the row they are for (-1 to start afresh).
constexpr int32_t kColumnStrip = 256;
struct BlurWork {
    double *line;   // BlurWorkDoubles(max(W, H)) and BlurColumnsLineDoubles()
    int32_t *sums;  // 4 W
    Pixel *zeros;   // W
};
size_t BlurColumnsLineDoubles();
void BlurColumnsAcross(const BlurLine &line, const Pixel *a, int32_t width, int32_t height,
                       int32_t y0, int32_t y1, Pixel *dst, int32_t &sumsRow, const BlurWork &work);
// The same with the box's rows four pixels at a time and other kernels' sums
// a pixel a double vector (AVX2 CPUs only), or four and two pixels a vector
// (AVX-512 CPUs only).
void BlurColumnsAvx2(const BlurLine &line, const Pixel *a, int32_t width, int32_t height,
                     int32_t y0, int32_t y1, Pixel *dst, int32_t &sumsRow, const BlurWork &work);
void BlurColumnsAvx512(const BlurLine &line, const Pixel *a, int32_t width, int32_t height,
                       int32_t y0, int32_t y1, Pixel *dst, int32_t &sumsRow, const BlurWork &work);

// The filters' rows at one CPU level: the plain references at the scalar
// level, then the SSE2, AVX2 and AVX-512 rows. Each entry takes the fast
// rows' arguments; rows that do not need the working storage ignore it.
struct FilterRows {
    void (*kernelFixedPoint)(const KernelWindow &k, int32_t shift, const Pixel *frame,
                             int32_t width, int32_t height, int32_t y, Pixel *dst);
    void (*kernelDoubles)(const KernelWindow &k, const Pixel *frame, int32_t width, int32_t height,
                          int32_t y, Pixel *dst, KernelRowCache &cache);
    void (*emboss)(const EmbossKernels &e, const Pixel *frame, int32_t width, int32_t height,
                   int32_t y, Pixel *dst, KernelRowCache &cache);
    MedianRow median;
    void (*outlier)(MedianShape shape, OutlierTest test, const Pixel *frame, int32_t width,
                    int32_t height, int32_t y, Pixel *dst);
    void (*blurLine)(const BlurLine &line, const Pixel *src, size_t srcStride, int32_t n,
                     Pixel *dst, size_t dstStride, double *work);
    void (*blurColumns)(const BlurLine &line, const Pixel *a, int32_t width, int32_t height,
                        int32_t y0, int32_t y1, Pixel *dst, int32_t &sumsRow, const BlurWork &work);
};
const CpuRows<FilterRows> &FilterRowSets();

}  // namespace kve
