// The blurs' fast lines and column pass (the references are in blurs.cpp):
// the SSE2 rows every x86-64 CPU runs and the AVX2 and AVX-512 rows picked
// through the CPU level.
//
// Sums run over the window in ascending position, channel by channel in
// doubles, and round with halves away from zero. The fast lines read a padded
// copy of the line already in doubles, or add whole rows tap by tap; a
// symmetric kernel of equal taps (the box) takes integer running sums
// instead: its window has an odd number of pixels, so the exact mean is never
// half way between two integers and the rounded double sum is that mean
// rounded.
#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "effects/filter/filter_ops.h"
#include "effects/filter/wide_rounding.h"
#include "engine/drivers.h"
#include "interface/pixel.h"

namespace kve {

namespace {

int32_t Reach(const BlurLine &line) {
    return std::max(-line.lo, line.hi);
}

// The line with `pad` positions on both sides, four doubles a pixel.
void PadLine(const Pixel *src, size_t srcStride, int32_t n, int32_t pad, int32_t edge,
             double *work) {
    for (int64_t j = -pad; j < int64_t{n} + pad; ++j) {
        const Pixel p = BlurEdgePixel(src, srcStride, n, j, edge);
        double *d = work + (j + pad) * 4;
        d[0] = AlphaOf(p);
        d[1] = RedOf(p);
        d[2] = GreenOf(p);
        d[3] = BlueOf(p);
    }
}

// The pixel at position j, read directly inside the line.
inline Pixel LinePixel(const Pixel *src, size_t stride, int64_t n, int64_t j, int32_t edge) {
    return j >= 0 && j < n ? src[static_cast<size_t>(j) * stride]
                           : BlurEdgePixel(src, stride, n, j, edge);
}

#if defined(__SSE2__)
// The four channels of a pixel in four 32-bit lanes.
inline __m128i Lanes(Pixel p) {
    const __m128i zero = _mm_setzero_si128();
    return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(p)), zero),
                              zero);
}

// The mean of a box, rounded half up (for an odd count, the nearest integer):
// trunc((2 sum + count) / (2 count)), for the four channels at once. The
// numerator (below 2^18) is exact in a float; the quotient, never an integer
// (odd over even), lies at least 1 / 1022 below the next integer. It is taken
// as a float product with 1 / (2 count) nudged up by 2^-20: the product then
// lies above the quotient by less than 1.2 * 2^-20 of it (under 3e-4 for
// quotients up to 256), so its truncation is the quotient's.
struct BoxDivisor {
    __m128 inverse;
    __m128i bias;
    explicit BoxDivisor(int32_t count)
        : inverse(_mm_set1_ps(static_cast<float>(1.0 / (2 * count) * (1 + 0x1p-20)))),
          bias(_mm_set1_epi32(count)) {}
    Pixel Mean(__m128i sum) const {
        const __m128i numerator = _mm_add_epi32(_mm_add_epi32(sum, sum), bias);
        const __m128i v = _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(numerator), inverse));
        return static_cast<Pixel>(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(v, v), v)));
    }
};

// Integer running sums over 2 r + 1 pixels, the four channels in four 32-bit
// lanes, read straight from the line.
void BoxLine(int32_t r, int32_t edge, const Pixel *src, size_t srcStride, int32_t n, Pixel *dst,
             size_t dstStride) {
    const BoxDivisor divisor(2 * r + 1);
    __m128i sum = _mm_setzero_si128();
    for (int64_t j = -r; j <= r; ++j)
        sum = _mm_add_epi32(sum, Lanes(LinePixel(src, srcStride, n, j, edge)));
    for (int64_t i = 0;; ++i) {
        dst[static_cast<size_t>(i) * dstStride] = divisor.Mean(sum);
        if (i + 1 == n) break;
        sum = _mm_sub_epi32(sum, Lanes(LinePixel(src, srcStride, n, i - r, edge)));
        sum = _mm_add_epi32(sum, Lanes(LinePixel(src, srcStride, n, i + r + 1, edge)));
    }
}
#else
// Integer running sums over 2 r + 1 pixels; the mean rounded half up, which
// for an odd count is the nearest integer.
void BoxLine(int32_t r, int32_t edge, const Pixel *src, size_t srcStride, int32_t n, Pixel *dst,
             size_t dstStride) {
    const int32_t count = 2 * r + 1;
    int32_t sum[4] = {0, 0, 0, 0};
    auto add = [&](Pixel p, int32_t sign) {
        for (int c = 0; c < 4; ++c)
            sum[c] += sign * static_cast<int32_t>(p >> (8 * c) & 0xFF);
    };
    for (int64_t j = -r; j <= r; ++j)
        add(LinePixel(src, srcStride, n, j, edge), 1);
    for (int64_t i = 0;; ++i) {
        Pixel word = 0;
        for (int c = 0; c < 4; ++c)
            word |= static_cast<Pixel>((2 * sum[c] + count) / (2 * count)) << (8 * c);
        dst[static_cast<size_t>(i) * dstStride] = word;
        if (i + 1 == n) break;
        add(LinePixel(src, srcStride, n, i - r, edge), -1);
        add(LinePixel(src, srcStride, n, i + r + 1, edge), 1);
    }
}
#endif

// Output i of the padded line, its sums tap by tap.
Pixel WeightedPixel(const BlurLine &line, const double *padded, int32_t pad, int32_t i) {
    const int32_t taps = line.hi - line.lo + 1;
    const double *p = padded + static_cast<size_t>(i + line.lo + pad) * 4;
#if defined(__SSE2__)
    // Two channels per lane pair; the same products and sums in the same
    // order as the scalar loop, with no fused operations.
    __m128d ar = _mm_setzero_pd(), gb = _mm_setzero_pd();
    for (int32_t t = 0; t < taps; ++t) {
        const __m128d w = _mm_set1_pd(line.weight[t]);
        ar = _mm_add_pd(ar, _mm_mul_pd(w, _mm_loadu_pd(p + t * 4)));
        gb = _mm_add_pd(gb, _mm_mul_pd(w, _mm_loadu_pd(p + t * 4 + 2)));
    }
    return PackRoundedLanes(ar, gb);
#else
    double sum[4] = {0.0, 0.0, 0.0, 0.0};
    for (int32_t t = 0; t < taps; ++t)
        for (int c = 0; c < 4; ++c)
            sum[c] += line.weight[t] * p[t * 4 + c];
    return RoundedSumPixel(sum);
#endif
}

void WeightedLine(const BlurLine &line, const double *padded, int32_t pad, int32_t n, Pixel *dst,
                  size_t dstStride) {
    for (int32_t i = 0; i < n; ++i)
        dst[static_cast<size_t>(i) * dstStride] = WeightedPixel(line, padded, pad, i);
}

// One tap of weight 1 gives every pixel back: 0 + 1 v is v.
bool IsCopy(const BlurLine &line) {
    return line.lo == 0 && line.hi == 0 && line.weight[0] == 1.0;
}

}  // namespace

void BlurLineFast(const BlurLine &line, const Pixel *src, size_t srcStride, int32_t n, Pixel *dst,
                  size_t dstStride, double *work) {
    if (n <= 0) return;
    if (IsCopy(line)) {
        for (int32_t i = 0; i < n; ++i)
            dst[static_cast<size_t>(i) * dstStride] = src[static_cast<size_t>(i) * srcStride];
        return;
    }
    if (line.boxRadius > 0) {
        BoxLine(line.boxRadius, line.edge, src, srcStride, n, dst, dstStride);
        return;
    }
    const int32_t pad = Reach(line);
    PadLine(src, srcStride, n, pad, line.edge, work);
    WeightedLine(line, work, pad, n, dst, dstStride);
}

#if defined(__x86_64__)
KVE_TARGET_AVX2_BEGIN
// BoxDivisor's truncated means of eight sums (two pixels) at once: the same
// integer numerators, nudged single-precision product and truncation.
inline __m256i TruncatedMeans(__m256i sums, __m256 inverse, __m256i bias) {
    const __m256i numerator = _mm256_add_epi32(_mm256_add_epi32(sums, sums), bias);
    return _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(numerator), inverse));
}

// BoxLine two pixels at a time along a line stored in order: the same integer
// running sums, their means taken two at a time and packed as Mean packs
// them. Lines with gaps take BoxLine.
void BoxLineAvx2(int32_t r, int32_t edge, const Pixel *src, size_t srcStride, int32_t n, Pixel *dst,
                 size_t dstStride) {
    if (srcStride != 1 || dstStride != 1)
        return BoxLine(r, edge, src, srcStride, n, dst, dstStride);
    const BoxDivisor divisor(2 * r + 1);
    const __m256 inverse = _mm256_broadcastss_ps(divisor.inverse);
    const __m256i bias = _mm256_set1_epi32(2 * r + 1);
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    auto lanes = [&](int64_t j) {
        const Pixel p = LinePixel(src, 1, n, j, edge);
        return _mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(p)));
    };
    __m128i sum = _mm_setzero_si128();
    for (int64_t j = -r; j <= r; ++j)
        sum = _mm_add_epi32(sum, lanes(j));
    // The sums move on by the entering pixel less the leaving one.
    auto next = [&](int64_t i) {
        sum = _mm_add_epi32(sum, _mm_sub_epi32(lanes(i + r + 1), lanes(i - r)));
    };
    int64_t i = 0;
    for (; i + 2 <= n; i += 2) {
        const __m128i first = sum;
        next(i);
        const __m256i sums = _mm256_inserti128_si256(_mm256_castsi128_si256(first), sum, 1);
        const __m256i v = TruncatedMeans(sums, inverse, bias);
        const __m256i words = _mm256_packus_epi16(_mm256_packs_epi32(v, v), v);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + i),
                         _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(words, order)));
        if (i + 2 < n) next(i + 1);
    }
    if (i < n) dst[i] = divisor.Mean(sum);
}
KVE_TARGET_END

namespace {

KVE_TARGET_AVX2_BEGIN
// WeightedLine a pixel a vector (its four channels).
void WeightedLineAvx2(const BlurLine &line, const double *padded, int32_t pad, int32_t n,
                      Pixel *dst, size_t dstStride) {
    const int32_t taps = line.hi - line.lo + 1;
    for (int32_t i = 0; i < n; ++i) {
        const double *p = padded + static_cast<size_t>(i + line.lo + pad) * 4;
        __m256d sum = _mm256_setzero_pd();
        for (int32_t t = 0; t < taps; ++t)
            sum = _mm256_add_pd(
                sum, _mm256_mul_pd(_mm256_set1_pd(line.weight[t]), _mm256_loadu_pd(p + t * 4)));
        dst[static_cast<size_t>(i) * dstStride] = RoundedQuad(sum);
    }
}
KVE_TARGET_END

}  // namespace

void BlurLineAvx2(const BlurLine &line, const Pixel *src, size_t srcStride, int32_t n, Pixel *dst,
                  size_t dstStride, double *work) {
    if (n <= 0 || IsCopy(line)) {
        BlurLineFast(line, src, srcStride, n, dst, dstStride, work);
    } else if (line.boxRadius > 0) {
        BoxLineAvx2(line.boxRadius, line.edge, src, srcStride, n, dst, dstStride);
    } else {
        const int32_t pad = Reach(line);
        PadLine(src, srcStride, n, pad, line.edge, work);
        WeightedLineAvx2(line, work, pad, n, dst, dstStride);
    }
}

namespace {

// The widest box whose sums of byte channels fit 16 bits: 255 * 255.
constexpr int32_t kWideBoxMaxRadius = 127;

// Masks of every lane: the masked forms of the AVX-512 conversions start from
// zeros where the plain ones start from an undefined vector, which GCC takes
// for an uninitialised read.
constexpr __mmask16 kAll16 = 0xFFFF;

KVE_TARGET_AVX512_BEGIN
// Eight 64-bit lanes moved up by `lanes`, zeros shifted in.
template <int kLanes>
inline __m512i LanesUp(__m512i v) {
    return _mm512_maskz_alignr_epi64(0xFF, v, _mm512_setzero_si512(), 8 - kLanes);
}

// BoxDivisor's truncated means of sixteen sums (four pixels), saturated to
// bytes as Mean's packs saturate them.
inline __m128i MeansOfFour(__m512i sums, __m512 inverse, __m512i bias) {
    const __m512i numerator = _mm512_add_epi32(_mm512_add_epi32(sums, sums), bias);
    return _mm512_maskz_cvtusepi32_epi8(
        kAll16, _mm512_maskz_cvttps_epi32(
                    kAll16, _mm512_mul_ps(_mm512_maskz_cvtepi32_ps(kAll16, numerator), inverse)));
}

// BoxLine eight pixels at a time inside a line stored in order, for radii
// whose sums fit 16-bit lanes (each pixel's channels in one 64-bit lane). The
// running sums of a block are the sum before it plus the prefix sums of the
// block's entering-minus-leaving differences, taken in three shifted adds;
// the ends of the line, where the window leaves it, step one pixel at a time.
void BoxLineAvx512(int32_t r, int32_t edge, const Pixel *src, int32_t n, Pixel *dst) {
    const BoxDivisor divisor(2 * r + 1);
    const __m512 inverse = _mm512_set1_ps(_mm_cvtss_f32(divisor.inverse));
    const __m512i bias = _mm512_set1_epi32(2 * r + 1);
    auto lanes = [&](int64_t j) {
        return _mm_cvtepu8_epi32(
            _mm_cvtsi32_si128(static_cast<int>(LinePixel(src, 1, n, j, edge))));
    };
    __m128i sum = _mm_setzero_si128();
    for (int64_t j = -r; j <= r; ++j)
        sum = _mm_add_epi32(sum, lanes(j));
    // Writes pixel i and moves the sums on to pixel i + 1.
    auto step = [&](int64_t i) {
        dst[i] = divisor.Mean(sum);
        sum = _mm_add_epi32(sum, _mm_sub_epi32(lanes(i + r + 1), lanes(i - r)));
    };
    int64_t i = 0;
    for (; i < std::min<int64_t>(r, n); ++i)
        step(i);
    if (i + r + 8 < n) {
        __m512i carry = _mm512_set1_epi64(_mm_cvtsi128_si64(_mm_packus_epi32(sum, sum)));
        const __m512i last = _mm512_set1_epi64(7);
        for (; i + r + 8 < n; i += 8) {
            const __m512i entering = _mm512_maskz_cvtepu8_epi16(
                ~__mmask32{0},
                _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + i + r + 1)));
            const __m512i leaving = _mm512_maskz_cvtepu8_epi16(
                ~__mmask32{0}, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + i - r)));
            const __m512i d = _mm512_sub_epi16(entering, leaving);
            __m512i prefix = _mm512_add_epi16(d, LanesUp<1>(d));
            prefix = _mm512_add_epi16(prefix, LanesUp<2>(prefix));
            prefix = _mm512_add_epi16(prefix, LanesUp<4>(prefix));
            const __m512i sums = _mm512_add_epi16(carry, _mm512_sub_epi16(prefix, d));
            carry = _mm512_add_epi16(carry, _mm512_maskz_permutexvar_epi64(0xFF, last, prefix));
            _mm_storeu_si128(
                reinterpret_cast<__m128i *>(dst + i),
                MeansOfFour(_mm512_maskz_cvtepu16_epi32(
                                kAll16, _mm512_maskz_extracti64x4_epi64(0xFF, sums, 0)),
                            inverse, bias));
            _mm_storeu_si128(
                reinterpret_cast<__m128i *>(dst + i + 4),
                MeansOfFour(_mm512_maskz_cvtepu16_epi32(
                                kAll16, _mm512_maskz_extracti64x4_epi64(0xFF, sums, 1)),
                            inverse, bias));
        }
        sum = _mm_cvtepu16_epi32(_mm512_maskz_extracti32x4_epi32(0xF, carry, 0));
    }
    for (; i + 1 < n; ++i)
        step(i);
    if (i < n) dst[i] = divisor.Mean(sum);
}
KVE_TARGET_END

}  // namespace

namespace {

KVE_TARGET_AVX512_BEGIN
// WeightedLine two pixels a vector into a line stored in order; an odd last
// pixel takes the one-pixel sums.
void WeightedLineAvx512(const BlurLine &line, const double *padded, int32_t pad, int32_t n,
                        Pixel *dst) {
    const int32_t taps = line.hi - line.lo + 1;
    int32_t i = 0;
    for (; i + 2 <= n; i += 2) {
        const double *p = padded + static_cast<size_t>(i + line.lo + pad) * 4;
        __m512d sum = _mm512_setzero_pd();
        for (int32_t t = 0; t < taps; ++t)
            sum = _mm512_add_pd(
                sum, _mm512_mul_pd(_mm512_set1_pd(line.weight[t]), _mm512_loadu_pd(p + t * 4)));
        StoreRoundedPair(dst + i, sum);
    }
    if (i < n) dst[i] = WeightedPixel(line, padded, pad, i);
}
KVE_TARGET_END

}  // namespace

void BlurLineAvx512(const BlurLine &line, const Pixel *src, size_t srcStride, int32_t n, Pixel *dst,
                    size_t dstStride, double *work) {
    if (n > 0 && line.boxRadius == 0 && !IsCopy(line) && dstStride == 1) {
        const int32_t pad = Reach(line);
        PadLine(src, srcStride, n, pad, line.edge, work);
        WeightedLineAvx512(line, work, pad, n, dst);
        return;
    }
    if (n > 0 && line.boxRadius > 0 && line.boxRadius <= kWideBoxMaxRadius && srcStride == 1 &&
        dstStride == 1) {
        BoxLineAvx512(line.boxRadius, line.edge, src, n, dst);
        return;
    }
    BlurLineAvx2(line, src, srcStride, n, dst, dstStride, work);
}
#endif

// ---- the column pass, across rows ------------------------------------------------------

namespace {

// One row of the box's column pass: each output is the mean of its column's
// sum, rounded as BoxLine rounds it, and the sum then moves one row down.
#if defined(__SSE2__)
void BoxColumnRow(int32_t count, int32_t *sums, const Pixel *leaving, const Pixel *entering,
                  Pixel *dst, int32_t from, int32_t width) {
    const BoxDivisor divisor(count);
    for (int32_t x = from; x < width; ++x) {
        __m128i *cell = reinterpret_cast<__m128i *>(sums + x * 4);
        const __m128i sum = _mm_loadu_si128(cell);
        dst[x] = divisor.Mean(sum);
        _mm_storeu_si128(cell,
                         _mm_add_epi32(_mm_sub_epi32(sum, Lanes(leaving[x])), Lanes(entering[x])));
    }
}
#else
void BoxColumnRow(int32_t count, int32_t *sums, const Pixel *leaving, const Pixel *entering,
                  Pixel *dst, int32_t from, int32_t width) {
    for (int32_t x = from; x < width; ++x) {
        Pixel word = 0;
        for (int c = 0; c < 4; ++c) {
            int32_t &sum = sums[x * 4 + c];
            word |= static_cast<Pixel>((2 * sum + count) / (2 * count)) << (8 * c);
            sum += static_cast<int32_t>(entering[x] >> (8 * c) & 0xFF) -
                   static_cast<int32_t>(leaving[x] >> (8 * c) & 0xFF);
        }
        dst[x] = word;
    }
}
#endif

#if defined(__x86_64__)
KVE_TARGET_AVX2_BEGIN
// Two pixels' sums (eight channels) in 32-bit lanes: pixel p[0] low, p[1] high.
inline __m256i ChannelsOfTwo(const Pixel *p) {
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)));
}

// BoxColumnRow four pixels at a time: the same truncated means and the same
// saturating packs; the rest takes the narrow row.
void BoxColumnRowAvx2(int32_t count, int32_t *sums, const Pixel *leaving, const Pixel *entering,
                      Pixel *dst, int32_t, int32_t width) {
    const BoxDivisor divisor(count);
    const __m256 inverse = _mm256_broadcastss_ps(divisor.inverse);
    const __m256i bias = _mm256_set1_epi32(count);
    // After the packs, the 128-bit halves hold pixels x, x + 2 and x + 1, x + 3.
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    auto mean = [&](__m256i sums) { return TruncatedMeans(sums, inverse, bias); };
    int32_t x = 0;
    for (; x + 4 <= width; x += 4) {
        __m256i *cells = reinterpret_cast<__m256i *>(sums + x * 4);
        const __m256i low = _mm256_loadu_si256(cells), high = _mm256_loadu_si256(cells + 1);
        const __m256i words =
            _mm256_packus_epi16(_mm256_packs_epi32(mean(low), mean(high)), _mm256_setzero_si256());
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + x),
                         _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(words, order)));
        _mm256_storeu_si256(cells,
                            _mm256_add_epi32(_mm256_sub_epi32(low, ChannelsOfTwo(leaving + x)),
                                             ChannelsOfTwo(entering + x)));
        _mm256_storeu_si256(cells + 1,
                            _mm256_add_epi32(_mm256_sub_epi32(high, ChannelsOfTwo(leaving + x + 2)),
                                             ChannelsOfTwo(entering + x + 2)));
    }
    BoxColumnRow(count, sums, leaving, entering, dst, x, width);
}
KVE_TARGET_END

KVE_TARGET_AVX512_BEGIN
// Four pixels' channels in 32-bit lanes.
inline __m512i ChannelsOfFour(const Pixel *p) {
    return _mm512_maskz_cvtepu8_epi32(kAll16,
                                      _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}

// BoxColumnRow four pixels a vector: the same truncated means, saturated to
// bytes as the packs saturate them; the rest takes the narrow row.
void BoxColumnRowAvx512(int32_t count, int32_t *sums, const Pixel *leaving, const Pixel *entering,
                        Pixel *dst, int32_t, int32_t width) {
    const BoxDivisor divisor(count);
    const __m512 inverse = _mm512_set1_ps(_mm_cvtss_f32(divisor.inverse));
    const __m512i bias = _mm512_set1_epi32(count);
    int32_t x = 0;
    for (; x + 4 <= width; x += 4) {
        int32_t *cell = sums + x * 4;
        const __m512i sum = _mm512_loadu_si512(cell);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + x), MeansOfFour(sum, inverse, bias));
        _mm512_storeu_si512(cell,
                            _mm512_add_epi32(_mm512_sub_epi32(sum, ChannelsOfFour(leaving + x)),
                                             ChannelsOfFour(entering + x)));
    }
    BoxColumnRow(count, sums, leaving, entering, dst, x, width);
}
KVE_TARGET_END
#endif

using BoxColumnRowFn = void (*)(int32_t count, int32_t *sums, const Pixel *leaving,
                                const Pixel *entering, Pixel *dst, int32_t from, int32_t width);

// Box: per-column running sums carried down the frame (and from one call to
// the next while rows are asked for in order), a row at a time by `step`.
void BoxColumns(int32_t r, int32_t edge, const Pixel *a, int32_t width, int32_t height, int32_t y0,
                int32_t y1, Pixel *dst, int32_t &sumsRow, const BlurWork &work,
                BoxColumnRowFn step) {
    const int32_t count = 2 * r + 1;
    auto row = [&](int64_t j) {
        const int64_t k = BlurEdgeIndex(height, j, edge);
        return k < 0 ? work.zeros : RowPtr(a, static_cast<int32_t>(k), width);
    };
    int32_t *sums = work.sums;
    for (int32_t y = y0; y < y1; ++y) {
        if (sumsRow != y) {
            std::fill(sums, sums + static_cast<size_t>(width) * 4, 0);
            for (int64_t j = int64_t{y} - r; j <= int64_t{y} + r; ++j) {
                const Pixel *src = row(j);
                for (int32_t x = 0; x < width; ++x)
                    for (int c = 0; c < 4; ++c)
                        sums[x * 4 + c] += static_cast<int32_t>(src[x] >> (8 * c) & 0xFF);
            }
        }
        step(count, sums, row(int64_t{y} - r), row(int64_t{y} + r + 1), RowPtr(dst, y - y0, width),
             0, width);
        sumsRow = y + 1;
    }
}

// Columns x = from .. n - 1 of a strip's sums visited once: `group` taps
// (1 to 4) added in tap order to each cell.
using AddTapsFn = void (*)(const double *weights, const Pixel *const *src, int32_t group,
                           int32_t from, int32_t n, double *acc);
// A strip's n sums rounded into n pixels.
using RoundStripFn = void (*)(const double *acc, int32_t n, Pixel *dst);

#if defined(__SSE2__)
// Two channels per lane pair, the channels converted as they are read.
void AddTaps(const double *weights, const Pixel *const *src, int32_t group, int32_t from, int32_t n,
             double *acc) {
    __m128d w[4];
    for (int32_t u = 0; u < group; ++u)
        w[u] = _mm_set1_pd(weights[u]);
    for (int32_t x = from; x < n; ++x) {
        double *cell = acc + x * 4;
        __m128d ar = _mm_loadu_pd(cell), gb = _mm_loadu_pd(cell + 2);
        for (int32_t u = 0; u < group; ++u) {
            const __m128i v = Lanes(src[u][x]);
            ar = _mm_add_pd(ar, _mm_mul_pd(w[u], _mm_cvtepi32_pd(v)));
            gb = _mm_add_pd(
                gb,
                _mm_mul_pd(w[u], _mm_cvtepi32_pd(_mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)))));
        }
        _mm_storeu_pd(cell, ar);
        _mm_storeu_pd(cell + 2, gb);
    }
}

void RoundStrip(const double *acc, int32_t n, Pixel *dst) {
    for (int32_t x = 0; x < n; ++x)
        dst[x] = PackRoundedLanes(_mm_loadu_pd(acc + x * 4), _mm_loadu_pd(acc + x * 4 + 2));
}
#else
void AddTaps(const double *weights, const Pixel *const *src, int32_t group, int32_t from, int32_t n,
             double *acc) {
    for (int32_t x = from; x < n; ++x)
        for (int32_t u = 0; u < group; ++u) {
            const Pixel p = src[u][x];
            acc[x * 4 + 0] += weights[u] * AlphaOf(p);
            acc[x * 4 + 1] += weights[u] * RedOf(p);
            acc[x * 4 + 2] += weights[u] * GreenOf(p);
            acc[x * 4 + 3] += weights[u] * BlueOf(p);
        }
}

void RoundStrip(const double *acc, int32_t n, Pixel *dst) {
    for (int32_t x = 0; x < n; ++x)
        dst[x] = RoundedSumPixel(acc + x * 4);
}
#endif

#if defined(__x86_64__)
KVE_TARGET_AVX2_BEGIN
// AddTaps a pixel a vector (its four channels).
void AddTapsAvx2(const double *weights, const Pixel *const *src, int32_t group, int32_t from,
                 int32_t n, double *acc) {
    __m256d w[4];
    for (int32_t u = 0; u < group; ++u)
        w[u] = _mm256_set1_pd(weights[u]);
    for (int32_t x = from; x < n; ++x) {
        double *cell = acc + x * 4;
        __m256d sum = _mm256_loadu_pd(cell);
        for (int32_t u = 0; u < group; ++u) {
            const __m128i channels =
                _mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(src[u][x])));
            sum = _mm256_add_pd(sum, _mm256_mul_pd(w[u], _mm256_cvtepi32_pd(channels)));
        }
        _mm256_storeu_pd(cell, sum);
    }
}

void RoundStripAvx2(const double *acc, int32_t n, Pixel *dst) {
    for (int32_t x = 0; x < n; ++x)
        dst[x] = RoundedQuad(_mm256_loadu_pd(acc + x * 4));
}
KVE_TARGET_END

KVE_TARGET_AVX512_BEGIN
// AddTaps two pixels a vector; an odd last column takes the narrow visit.
void AddTapsAvx512(const double *weights, const Pixel *const *src, int32_t group, int32_t from,
                   int32_t n, double *acc) {
    __m512d w[4];
    for (int32_t u = 0; u < group; ++u)
        w[u] = _mm512_set1_pd(weights[u]);
    int32_t x = from;
    for (; x + 2 <= n; x += 2) {
        double *cell = acc + x * 4;
        __m512d sum = _mm512_loadu_pd(cell);
        for (int32_t u = 0; u < group; ++u) {
            const __m256i channels = _mm256_cvtepu8_epi32(
                _mm_loadl_epi64(reinterpret_cast<const __m128i *>(src[u] + x)));
            sum = _mm512_add_pd(sum, _mm512_mul_pd(w[u], _mm512_maskz_cvtepi32_pd(0xFF, channels)));
        }
        _mm512_storeu_pd(cell, sum);
    }
    AddTaps(weights, src, group, x, n, acc);
}

void RoundStripAvx512(const double *acc, int32_t n, Pixel *dst) {
    int32_t x = 0;
    for (; x + 2 <= n; x += 2)
        StoreRoundedPair(dst + x, _mm512_loadu_pd(acc + x * 4));
    if (x < n) RoundStrip(acc + x * 4, n - x, dst + x);
}
KVE_TARGET_END
#endif

// Other kernels: each output row sums its window rows tap by tap, in strips
// of columns short enough for their sums to stay in the nearest cache, four
// taps per visit of the sums. Every pixel's sum is built in the reference's
// order.
void WeightedColumns(const BlurLine &line, const Pixel *a, int32_t width, int32_t height,
                     int32_t y0, int32_t y1, Pixel *out, const BlurWork &work, AddTapsFn addTaps,
                     RoundStripFn roundStrip) {
    const int32_t taps = line.hi - line.lo + 1;
    const Pixel *rows[2 * kMaxBlurExtent + 1];
    double *acc = work.line;
    for (int32_t y = y0; y < y1; ++y) {
        for (int32_t t = 0; t < taps; ++t) {
            const int64_t k = BlurEdgeIndex(height, int64_t{y} + line.lo + t, line.edge);
            rows[t] = k < 0 ? work.zeros : RowPtr(a, static_cast<int32_t>(k), width);
        }
        Pixel *dst = RowPtr(out, y - y0, width);
        for (int32_t x0 = 0; x0 < width; x0 += kColumnStrip) {
            const int32_t n = std::min(kColumnStrip, width - x0);
            std::fill(acc, acc + static_cast<size_t>(n) * 4, 0.0);
            for (int32_t t = 0; t < taps; t += 4) {
                const Pixel *src[4];
                const int32_t group = std::min(4, taps - t);
                for (int32_t u = 0; u < group; ++u)
                    src[u] = rows[t + u] + x0;
                addTaps(line.weight.data() + t, src, group, 0, n, acc);
            }
            roundStrip(acc, n, dst + x0);
        }
    }
}

}  // namespace

size_t BlurColumnsLineDoubles() {
    return static_cast<size_t>(kColumnStrip) * 4;
}

namespace {

void BlurColumnsWith(const BlurLine &line, const Pixel *a, int32_t width, int32_t height,
                     int32_t y0, int32_t y1, Pixel *dst, int32_t &sumsRow, const BlurWork &work,
                     BoxColumnRowFn boxRow, AddTapsFn addTaps, RoundStripFn roundStrip) {
    if (width <= 0 || y0 >= y1) return;
    if (IsCopy(line)) {
        std::memcpy(dst, RowPtr(a, y0, width),
                    static_cast<size_t>(y1 - y0) * static_cast<size_t>(width) * sizeof(Pixel));
        return;
    }
    std::fill(work.zeros, work.zeros + width, Pixel{0});
    if (line.boxRadius > 0)
        BoxColumns(line.boxRadius, line.edge, a, width, height, y0, y1, dst, sumsRow, work, boxRow);
    else
        WeightedColumns(line, a, width, height, y0, y1, dst, work, addTaps, roundStrip);
}

}  // namespace

void BlurColumnsAcross(const BlurLine &line, const Pixel *a, int32_t width, int32_t height,
                       int32_t y0, int32_t y1, Pixel *dst, int32_t &sumsRow, const BlurWork &work) {
    BlurColumnsWith(line, a, width, height, y0, y1, dst, sumsRow, work, BoxColumnRow, AddTaps,
                    RoundStrip);
}

#if defined(__x86_64__)
void BlurColumnsAvx2(const BlurLine &line, const Pixel *a, int32_t width, int32_t height,
                     int32_t y0, int32_t y1, Pixel *dst, int32_t &sumsRow, const BlurWork &work) {
    BlurColumnsWith(line, a, width, height, y0, y1, dst, sumsRow, work, BoxColumnRowAvx2,
                    AddTapsAvx2, RoundStripAvx2);
}
void BlurColumnsAvx512(const BlurLine &line, const Pixel *a, int32_t width, int32_t height,
                       int32_t y0, int32_t y1, Pixel *dst, int32_t &sumsRow, const BlurWork &work) {
    BlurColumnsWith(line, a, width, height, y0, y1, dst, sumsRow, work, BoxColumnRowAvx512,
                    AddTapsAvx512, RoundStripAvx512);
}
#endif

}  // namespace kve
