// The neighbourhood kernels' fast rows: the SSE2 rows every x86-64 CPU runs
// and the AVX2 and AVX-512 rows picked through the CPU level, for kernels of
// small power-of-two fractions in 16-bit integer lanes, for any other kernel
// in doubles over window rows converted once, and for Emboss's two kernels.
// Every row gives the reference's words (neighbourhood.cpp).
#include <algorithm>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "effects/filter/filter_ops.h"
#include "effects/filter/wide_rounding.h"
#include "effects/point/point_ops.h"
#include "engine/drivers.h"
#include "engine/pixel_lanes.h"
#include "interface/pixel.h"

namespace kve {

size_t KernelCacheDoubles(int32_t width) {
    return static_cast<size_t>(kKernelCacheRows) *
           (static_cast<size_t>(std::max(width, 0)) + 2 * kKernelCachePad) * 4;
}

namespace {

// Row r in doubles, four a pixel, with kKernelCachePad columns repeating the
// edge pixels on both sides; converted once and kept while windows use it
// (at most 16 distinct rows at a time). Returns the address of column 0.
const double *CachedRow(KernelRowCache &cache, const Pixel *frame, int32_t width, int32_t r) {
    const int32_t slot = r % kKernelCacheRows;
    const size_t stride = (static_cast<size_t>(width) + 2 * kKernelCachePad) * 4;
    double *row = cache.rows + static_cast<size_t>(slot) * stride;
    if (cache.tags[slot] != r + 1) {
        const Pixel *src = RowPtr(frame, r, width);
        auto convert = [&](int64_t j) {
            const Pixel p = src[ClampIndex(j, width)];
            double *d = row + (j + kKernelCachePad) * 4;
            d[0] = AlphaOf(p);
            d[1] = RedOf(p);
            d[2] = GreenOf(p);
            d[3] = BlueOf(p);
        };
        int64_t j = -kKernelCachePad;
        for (; j < 0; ++j)
            convert(j);
#if defined(__SSE2__)
        // Two pixels at a time: bytes widened to 32-bit lanes, two lanes a
        // conversion, in the pixel's byte order as above.
        const __m128i zero = _mm_setzero_si128();
        for (; j + 2 <= width; j += 2) {
            const __m128i bytes = _mm_unpacklo_epi8(
                _mm_loadl_epi64(reinterpret_cast<const __m128i *>(src + j)), zero);
            const __m128i first = _mm_unpacklo_epi16(bytes, zero);
            const __m128i second = _mm_unpackhi_epi16(bytes, zero);
            double *d = row + (j + kKernelCachePad) * 4;
            _mm_storeu_pd(d, _mm_cvtepi32_pd(first));
            _mm_storeu_pd(d + 2, _mm_cvtepi32_pd(_mm_srli_si128(first, 8)));
            _mm_storeu_pd(d + 4, _mm_cvtepi32_pd(second));
            _mm_storeu_pd(d + 6, _mm_cvtepi32_pd(_mm_srli_si128(second, 8)));
        }
#endif
        for (; j < int64_t{width} + kKernelCachePad; ++j)
            convert(j);
        cache.tags[slot] = r + 1;
    }
    return row + kKernelCachePad * 4;
}

}  // namespace

#if defined(__SSE2__)
namespace {

// The non-zero taps of a kernel in the reference's order, each with the
// address of its column 0 in its cached window row. Zero taps are left out:
// with finite channel values their products are zeros, and adding a zero
// changes no sum (at most the sign of a zero sum, which rounds to 0 either
// way).
struct DoubleTaps {
    double weight[16];
    const double *source[16];
    int32_t used;
};

DoubleTaps DoubleTapsOf(const KernelWindow &k, const Pixel *frame, int32_t width, int32_t height,
                        int32_t y, KernelRowCache &cache) {
    const int64_t top = int64_t{y} - k.kh / 2;
    const int32_t left = k.kw / 2;
    DoubleTaps d{};
    for (int32_t i = 0; i < k.kh; ++i) {
        const double *row = CachedRow(cache, frame, width, ClampIndex(top + i, height)) - left * 4;
        for (int32_t j = 0; j < k.kw; ++j) {
            const double t = k.taps[i * k.kw + j];
            if (t == 0.0) continue;
            d.weight[d.used] = t;
            d.source[d.used++] = row + j * 4;
        }
    }
    return d;
}

// Two channels per double vector, summed tap by tap in the reference's order
// with separate multiplies and adds, so every lane is the reference's sum.
Pixel DoublesPixel(const DoubleTaps &d, int32_t x) {
    __m128d ar = _mm_setzero_pd(), gb = _mm_setzero_pd();
    for (int32_t t = 0; t < d.used; ++t) {
        const double *p = d.source[t] + static_cast<size_t>(x) * 4;
        const __m128d tap = _mm_set1_pd(d.weight[t]);
        ar = _mm_add_pd(ar, _mm_mul_pd(tap, _mm_loadu_pd(p)));
        gb = _mm_add_pd(gb, _mm_mul_pd(tap, _mm_loadu_pd(p + 2)));
    }
    return PackRoundedLanes(ar, gb);
}

}  // namespace

void KernelRowDoubles(const KernelWindow &k, const Pixel *frame, int32_t width, int32_t height,
                      int32_t y, Pixel *dst, KernelRowCache &cache) {
    const DoubleTaps d = DoubleTapsOf(k, frame, width, height, y, cache);
    for (int32_t x = 0; x < width; ++x)
        dst[x] = DoublesPixel(d, x);
}

namespace {

// The non-zero taps of a kernel in the reference's order, each with its
// window row and column offset (zero taps change no sum, as in DoubleTaps).
struct PixelTaps {
    double weight[16];
    const Pixel *source[16];
    int32_t offset[16];
    int32_t used;
    int32_t left, right;  // the window's reach either side of its column
};

PixelTaps PixelTapsOf(const KernelWindow &k, const Pixel *frame, int32_t width, int32_t height,
                      int32_t y) {
    const Pixel *rows[16];
    KernelWindowRows(k, frame, width, height, y, rows);
    PixelTaps f{};
    f.left = k.kw / 2;
    f.right = k.kw - 1 - f.left;
    for (int32_t i = 0; i < k.kh; ++i)
        for (int32_t j = 0; j < k.kw; ++j) {
            const double t = k.taps[i * k.kw + j];
            if (t == 0.0) continue;
            f.weight[f.used] = t;
            f.offset[f.used] = j - f.left;
            f.source[f.used++] = rows[i];
        }
    return f;
}

// A tap scaled to the whole 16-bit number of a fixed-point shift.
int16_t FixedWeight(double tap, int32_t shift) {
    return static_cast<int16_t>(tap * (1 << shift));
}

// Non-negative after the max; adding at most 128 to 32767 stays within 16
// unsigned bits, and the logical shift reads it so.
inline __m128i FinishFixedPoint(__m128i sum, int32_t shift) {
    const __m128i half = _mm_set1_epi16(static_cast<int16_t>(shift > 0 ? 1 << (shift - 1) : 0));
    return _mm_srl_epi16(_mm_add_epi16(_mm_max_epi16(sum, _mm_setzero_si128()), half),
                         _mm_cvtsi32_si128(shift));
}

// A column whose window leaves the frame: the same sums for one pixel, its
// columns clamped.
Pixel FixedPointEdgePixel(const PixelTaps &f, int32_t shift, int32_t width, int32_t x) {
    const __m128i zero = _mm_setzero_si128();
    __m128i sum = zero;
    for (int32_t t = 0; t < f.used; ++t) {
        const Pixel p = f.source[t][ClampIndex(int64_t{x} + f.offset[t], width)];
        const __m128i v = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(p)), zero);
        sum =
            _mm_add_epi16(sum, _mm_mullo_epi16(v, _mm_set1_epi16(FixedWeight(f.weight[t], shift))));
    }
    return static_cast<Pixel>(
        _mm_cvtsi128_si32(_mm_packus_epi16(FinishFixedPoint(sum, shift), zero)));
}

}  // namespace

// Two pixels per 16-bit vector (eight channels). The taps scaled by 2^shift
// are whole and 255 times the sum of their sizes fits 15 bits, so the
// partial sums are exact and never wrap; the reference's double sums are the
// same numbers over 2^shift, exactly. A positive sum rounds to
// (S + 2^(shift-1)) >> shift; zero or negative ones pack to 0 either way.
// packus clamps to 255 as PackPixel does.
void KernelRowFixedPoint(const KernelWindow &k, int32_t shift, const Pixel *frame, int32_t width,
                         int32_t height, int32_t y, Pixel *dst) {
    const PixelTaps f = PixelTapsOf(k, frame, width, height, y);
    __m128i taps[16];
    for (int32_t t = 0; t < f.used; ++t)
        taps[t] = _mm_set1_epi16(FixedWeight(f.weight[t], shift));
    const __m128i zero = _mm_setzero_si128();
    int32_t x = 0;
    for (; x < std::min(f.left, width); ++x)
        dst[x] = FixedPointEdgePixel(f, shift, width, x);
    const int32_t end = width - f.right;  // first column whose window passes the right edge
    for (; x + 4 <= end; x += 4) {
        __m128i lo = zero, hi = zero;
        for (int32_t t = 0; t < f.used; ++t) {
            const __m128i p =
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(f.source[t] + (x + f.offset[t])));
            lo = _mm_add_epi16(lo, _mm_mullo_epi16(_mm_unpacklo_epi8(p, zero), taps[t]));
            hi = _mm_add_epi16(hi, _mm_mullo_epi16(_mm_unpackhi_epi8(p, zero), taps[t]));
        }
        _mm_storeu_si128(
            reinterpret_cast<__m128i *>(dst + x),
            _mm_packus_epi16(FinishFixedPoint(lo, shift), FinishFixedPoint(hi, shift)));
    }
    for (; x < width; ++x)
        dst[x] = FixedPointEdgePixel(f, shift, width, x);
}

#else
void KernelRowDoubles(const KernelWindow &k, const Pixel *frame, int32_t width, int32_t height,
                      int32_t y, Pixel *dst, KernelRowCache &) {
    KernelRowReference(k, frame, width, height, y, dst);
}
void KernelRowFixedPoint(const KernelWindow &k, int32_t, const Pixel *frame, int32_t width,
                         int32_t height, int32_t y, Pixel *dst) {
    KernelRowReference(k, frame, width, height, y, dst);
}
#endif

#if defined(__SSE2__)
namespace {

// (a - b) + 255 r per channel, truncated and packed with alpha 0; lanes are
// clamped to -1 .. 256 first (NaN to -1), which changes no packed result.
inline Pixel EmbossColourLanes(__m128d ar1, __m128d gb1, __m128d ar2, __m128d gb2, double r) {
    const __m128d lift = _mm_set1_pd(255 * r);
    auto truncate = [&](__m128d a, __m128d b) {
        __m128d t = _mm_add_pd(_mm_sub_pd(a, b), lift);
        t = _mm_min_pd(_mm_max_pd(t, _mm_set1_pd(-1.0)), _mm_set1_pd(256.0));
        return _mm_cvttpd_epi32(t);
    };
    const __m128i v = _mm_unpacklo_epi64(truncate(ar1, ar2), truncate(gb1, gb2));
    const auto word =
        static_cast<Pixel>(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(v, v), v)));
    return word & ~0xFFu;
}

// Each kernel's colour rounded and clamped as PackRGB would (a and b), their
// lumas compared: trunc(Y_A + r - Y_B) clamped, in all four bytes.
inline Pixel EmbossGrey(Pixel a, Pixel b, double r) {
    const int32_t ya = MonochromeLuma(a);
    const int32_t yb = MonochromeLuma(b);
    // Clamped before truncation (NaN to 0) by maxsd and minsd, which give
    // t > 0 ? t : 0 and t < 255 ? t : 255 exactly: written as conditionals,
    // the compiler branches on data that changes from pixel to pixel.
    __m128d t = _mm_set_sd(ya + r - yb);
    t = _mm_min_sd(_mm_max_sd(t, _mm_setzero_pd()), _mm_set_sd(255.0));
    const int32_t v = _mm_cvttsd_si32(t);
    return static_cast<Pixel>(v) * 0x01010101u;
}

// The window positions where either kernel has a tap, in the reference's
// order, each with its address in the cached rows (positions where both are
// zero are left out, as in DoubleTaps).
struct EmbossTaps {
    double k1[9], k2[9];
    const double *source[9];
    int32_t used;
};

EmbossTaps EmbossTapsOf(const EmbossKernels &e, const Pixel *frame, int32_t width, int32_t height,
                        int32_t y, KernelRowCache &cache) {
    const double *rows[3];
    for (int32_t i = 0; i < 3; ++i)
        rows[i] = CachedRow(cache, frame, width, ClampIndex(int64_t{y} - 1 + i, height)) - 4;
    EmbossTaps m{};
    for (int32_t i = 0; i < 9; ++i) {
        if (e.k1[i] == 0.0 && e.k2[i] == 0.0) continue;
        m.k1[m.used] = e.k1[i];
        m.k2[m.used] = e.k2[i];
        m.source[m.used++] = rows[i / 3] + (i % 3) * 4;
    }
    return m;
}

// Both kernels' sums of pixel x two channels per vector, in the reference's
// tap order; the alpha lane is summed and ignored.
Pixel EmbossPixelFast(const EmbossKernels &e, const EmbossTaps &m, int32_t x) {
    __m128d ar1 = _mm_setzero_pd(), gb1 = ar1, ar2 = ar1, gb2 = ar1;
    for (int32_t t = 0; t < m.used; ++t) {
        const double *p = m.source[t] + static_cast<size_t>(x) * 4;
        const __m128d lo = _mm_loadu_pd(p), hi = _mm_loadu_pd(p + 2);
        const __m128d tap1 = _mm_set1_pd(m.k1[t]), tap2 = _mm_set1_pd(m.k2[t]);
        ar1 = _mm_add_pd(ar1, _mm_mul_pd(tap1, lo));
        gb1 = _mm_add_pd(gb1, _mm_mul_pd(tap1, hi));
        ar2 = _mm_add_pd(ar2, _mm_mul_pd(tap2, lo));
        gb2 = _mm_add_pd(gb2, _mm_mul_pd(tap2, hi));
    }
    return e.colour ? EmbossColourLanes(ar1, gb1, ar2, gb2, e.level)
                    : EmbossGrey(PackRoundedLanes(ar1, gb1), PackRoundedLanes(ar2, gb2), e.level);
}

}  // namespace

void EmbossRowFast(const EmbossKernels &e, const Pixel *frame, int32_t width, int32_t height,
                   int32_t y, Pixel *dst, KernelRowCache &cache) {
    const EmbossTaps m = EmbossTapsOf(e, frame, width, height, y, cache);
    for (int32_t x = 0; x < width; ++x)
        dst[x] = EmbossPixelFast(e, m, x);
}
#else
void EmbossRowFast(const EmbossKernels &e, const Pixel *frame, int32_t width, int32_t height,
                   int32_t y, Pixel *dst, KernelRowCache &) {
    EmbossRowReference(e, frame, width, height, y, dst);
}
#endif

#if defined(__x86_64__)
namespace {

KVE_TARGET_AVX2_BEGIN
namespace avx2 {
using namespace lanes::avx2;
inline Vec UnpackLow(Vec v) {
    return _mm256_unpacklo_epi8(v, Zero());
}
inline Vec UnpackHigh(Vec v) {
    return _mm256_unpackhi_epi8(v, Zero());
}
inline Vec MulAdd16(Vec sum, Vec a, Vec b) {
    return _mm256_add_epi16(sum, _mm256_mullo_epi16(a, b));
}
inline Vec Finish(Vec sum, Vec half, __m128i count) {
    return _mm256_srl_epi16(_mm256_add_epi16(_mm256_max_epi16(sum, Zero()), half), count);
}
inline Vec PackUs(Vec low, Vec high) {
    return _mm256_packus_epi16(low, high);
}

// Two pixels, one per vector: their bytes are widened together.
struct DVec {
    __m256d first, second;
};
constexpr int32_t kDoublePixels = 2;
inline DVec LoadDoubles(const double *p) {
    return {_mm256_loadu_pd(p), _mm256_loadu_pd(p + 4)};
}
inline DVec SetDoubles(double v) {
    return {_mm256_set1_pd(v), _mm256_set1_pd(v)};
}
inline DVec ZeroDoubles() {
    return {_mm256_setzero_pd(), _mm256_setzero_pd()};
}
inline DVec AddProduct(DVec sum, DVec tap, DVec v) {
    return {_mm256_add_pd(sum.first, _mm256_mul_pd(tap.first, v.first)),
            _mm256_add_pd(sum.second, _mm256_mul_pd(tap.second, v.second))};
}
inline DVec Difference(DVec a, DVec b) {
    return {_mm256_sub_pd(a.first, b.first), _mm256_sub_pd(a.second, b.second)};
}
inline DVec Sum(DVec a, DVec b) {
    return {_mm256_add_pd(a.first, b.first), _mm256_add_pd(a.second, b.second)};
}
inline DVec HalfAway(DVec s) {
    return {HalfAwayQuad(s.first), HalfAwayQuad(s.second)};
}
inline void StoreTruncated(Pixel *dst, DVec s) {
    const __m128i v = _mm_packs_epi32(TruncatedQuad(s.first), TruncatedQuad(s.second));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(dst), _mm_packus_epi16(v, v));
}
#include "effects/filter/kernel_lanes.inc"
}  // namespace avx2
KVE_TARGET_END

// The masked forms of the AVX-512 conversions start from zeros where the
// plain ones start from an undefined vector, which GCC takes for an
// uninitialised read.
KVE_TARGET_AVX512_BEGIN
namespace avx512 {
using namespace lanes::avx512;
inline Vec UnpackLow(Vec v) {
    return _mm512_unpacklo_epi8(v, Zero());
}
inline Vec UnpackHigh(Vec v) {
    return _mm512_unpackhi_epi8(v, Zero());
}
inline Vec MulAdd16(Vec sum, Vec a, Vec b) {
    return _mm512_add_epi16(sum, _mm512_mullo_epi16(a, b));
}
inline Vec Finish(Vec sum, Vec half, __m128i count) {
    return _mm512_maskz_srl_epi16(~__mmask32{0},
                                  _mm512_add_epi16(_mm512_max_epi16(sum, Zero()), half), count);
}
inline Vec PackUs(Vec low, Vec high) {
    return _mm512_packus_epi16(low, high);
}

using DVec = __m512d;
constexpr int32_t kDoublePixels = 2;
inline DVec LoadDoubles(const double *p) {
    return _mm512_loadu_pd(p);
}
inline DVec SetDoubles(double v) {
    return _mm512_set1_pd(v);
}
inline DVec ZeroDoubles() {
    return _mm512_setzero_pd();
}
inline DVec AddProduct(DVec sum, DVec tap, DVec v) {
    return _mm512_add_pd(sum, _mm512_mul_pd(tap, v));
}
inline DVec Difference(DVec a, DVec b) {
    return _mm512_sub_pd(a, b);
}
inline DVec Sum(DVec a, DVec b) {
    return _mm512_add_pd(a, b);
}
inline DVec HalfAway(DVec s) {
    return HalfAwayPair(s);
}
inline void StoreTruncated(Pixel *dst, DVec t) {
    StoreTruncatedPair(dst, t);
}
#include "effects/filter/kernel_lanes.inc"
}  // namespace avx512
KVE_TARGET_END

}  // namespace

void KernelRowFixedPointAvx2(const KernelWindow &k, int32_t shift, const Pixel *frame,
                             int32_t width, int32_t height, int32_t y, Pixel *dst) {
    avx2::FixedPointRow(PixelTapsOf(k, frame, width, height, y), shift, width, dst);
}
void KernelRowFixedPointAvx512(const KernelWindow &k, int32_t shift, const Pixel *frame,
                               int32_t width, int32_t height, int32_t y, Pixel *dst) {
    avx512::FixedPointRow(PixelTapsOf(k, frame, width, height, y), shift, width, dst);
}
void KernelRowDoublesAvx2(const KernelWindow &k, const Pixel *frame, int32_t width, int32_t height,
                          int32_t y, Pixel *dst, KernelRowCache &cache) {
    avx2::DoublesRow(DoubleTapsOf(k, frame, width, height, y, cache), width, dst);
}
void KernelRowDoublesAvx512(const KernelWindow &k, const Pixel *frame, int32_t width,
                            int32_t height, int32_t y, Pixel *dst, KernelRowCache &cache) {
    avx512::DoublesRow(DoubleTapsOf(k, frame, width, height, y, cache), width, dst);
}
void EmbossRowAvx2(const EmbossKernels &e, const Pixel *frame, int32_t width, int32_t height,
                   int32_t y, Pixel *dst, KernelRowCache &cache) {
    avx2::EmbossRow(e, EmbossTapsOf(e, frame, width, height, y, cache), width, dst);
}
void EmbossRowAvx512(const EmbossKernels &e, const Pixel *frame, int32_t width, int32_t height,
                     int32_t y, Pixel *dst, KernelRowCache &cache) {
    avx512::EmbossRow(e, EmbossTapsOf(e, frame, width, height, y, cache), width, dst);
}
#endif

}  // namespace kve
