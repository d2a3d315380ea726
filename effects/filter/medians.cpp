// Median and outlier filters over nine-pixel windows: the 3 x 3 square, or
// the cross of five rows and five columns through the pixel.
//
//   Median3x3, MedianX5    red, green and blue each become the median (the
//                          fifth smallest) of the channel's nine values
//   Outlier3x3, OutlierX5  the pixel's colours become the mean of its eight
//                          neighbours when it stands out from them by more
//                          than a threshold
//
// Alpha is always the centre pixel's. Columns beyond the frame repeat the edge
// column and rows y-1, y+1 the edge row, but the cross's rows y-2 and y+2 fall
// back to the centre row itself (so at y = 1 the cross reads row 1 twice, not
// row 0). The medians run a min/max network over packed bytes, four pixels
// and all channels at once, where the window stays inside the row.
#include <algorithm>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "effects/filter/filter_ops.h"
#include "engine/drivers.h"
#include "engine/pixel_lanes.h"
#include "engine/scanner.h"
#include "interface/pixel.h"

namespace kve {

namespace {

// One value of the window: a row and a column offset. Entry 4 is the centre.
struct Tap {
    const Pixel *row;
    int32_t dx;
};
using Window = std::array<Tap, 9>;

Window WindowOf(MedianShape shape, const Pixel *frame, int32_t width, int32_t height, int32_t y) {
    auto row = [&](int32_t r) { return RowPtr(frame, r, width); };
    const Pixel *up = row(y > 0 ? y - 1 : y);
    const Pixel *mid = row(y);
    const Pixel *down = row(y + 1 < height ? y + 1 : y);
    if (shape == MedianShape::kSquare)
        return {{{up, -1},
                 {up, 0},
                 {up, 1},
                 {mid, -1},
                 {mid, 0},
                 {mid, 1},
                 {down, -1},
                 {down, 0},
                 {down, 1}}};
    const Pixel *up2 = row(y >= 2 ? y - 2 : y);
    const Pixel *down2 = row(y < height - 2 ? y + 2 : y);
    return {{{up2, 0},
             {up, 0},
             {mid, -2},
             {mid, -1},
             {mid, 0},
             {mid, 1},
             {mid, 2},
             {down, 0},
             {down2, 0}}};
}

// The nine window words of column x, columns clamped to the row.
void Gather(const Window &w, int32_t width, int32_t x, Pixel *words) {
    for (int i = 0; i < 9; ++i)
        words[i] = w[i].row[std::clamp(x + w[i].dx, 0, width - 1)];
}

Pixel MedianPixel(const Pixel *words) {
    int32_t median[3];
    for (int c = 0; c < 3; ++c) {
        int32_t v[9];
        for (int i = 0; i < 9; ++i)
            v[i] = static_cast<int32_t>(words[i] >> (8 * (c + 1)) & 0xFF);
        std::nth_element(v, v + 4, v + 9);
        median[c] = v[4];
    }
    return PackPixel(AlphaOf(words[4]), median[0], median[1], median[2]);
}

int32_t MedianReach(MedianShape shape) {
    return shape == MedianShape::kSquare ? 1 : 2;
}

// The outlier test of one pixel; neighbours are the window without its centre.
Pixel OutlierPixel(const Pixel *words, int32_t threshold, bool perChannel) {
    const Pixel c = words[4];
    int32_t mean[3], centre[3];
    for (int k = 0; k < 3; ++k) {
        const int shift = 8 * (k + 1);
        int32_t sum = 0;
        for (int i = 0; i < 9; ++i)
            if (i != 4) sum += static_cast<int32_t>(words[i] >> shift & 0xFF);
        mean[k] = sum >> 3;
        centre[k] = static_cast<int32_t>(c >> shift & 0xFF);
    }
    int32_t out[3];
    if (perChannel) {
        for (int k = 0; k < 3; ++k)
            out[k] = threshold < std::abs(mean[k] - centre[k]) ? mean[k] : centre[k];
    } else {
        const int32_t d =
            (mean[0] + mean[1] + mean[2]) / 3 - (centre[0] + centre[1] + centre[2]) / 3;
        const bool replace = threshold < std::abs(d);
        for (int k = 0; k < 3; ++k)
            out[k] = replace ? mean[k] : centre[k];
    }
    return PackPixel(AlphaOf(c), out[0], out[1], out[2]);
}

}  // namespace

// The threshold is t * 255 rounded (halves away from zero, saturated); a
// t of 1 or more (in size) tests each channel on its own, which for t >= 1
// replaces nothing and for t <= -1 everything.
OutlierTest OutlierTestOf(double t) {
    return {RoundHalfAway(t * 255), TruncToInt(t) != 0};
}

void MedianRowReference(MedianShape shape, const Pixel *frame, int32_t width, int32_t height,
                        int32_t y, Pixel *dst) {
    const Window w = WindowOf(shape, frame, width, height, y);
    Pixel words[9];
    for (int32_t x = 0; x < width; ++x) {
        Gather(w, width, x, words);
        dst[x] = MedianPixel(words);
    }
}

#if defined(__SSE2__)
namespace {

inline void Order(__m128i &a, __m128i &b) {
    const __m128i lo = _mm_min_epu8(a, b);
    b = _mm_max_epu8(a, b);
    a = lo;
}

// The median of three, byte lane by byte lane.
inline __m128i Median3(__m128i a, __m128i b, __m128i c) {
    return _mm_max_epu8(_mm_min_epu8(a, b), _mm_min_epu8(_mm_max_epu8(a, b), c));
}

// The median of a 3 x 3 square, p in row-major order: each column sorted,
// then the median of the largest of the column minima, the median of the
// column medians and the smallest of the column maxima.
inline __m128i MedianOfSquare(__m128i *p) {
    for (int column = 0; column < 3; ++column) {
        Order(p[column], p[column + 3]);
        Order(p[column + 3], p[column + 6]);
        Order(p[column], p[column + 3]);
    }
    const __m128i low = _mm_max_epu8(_mm_max_epu8(p[0], p[1]), p[2]);
    const __m128i high = _mm_min_epu8(_mm_min_epu8(p[6], p[7]), p[8]);
    return Median3(low, Median3(p[3], p[4], p[5]), high);
}

// The median of nine by a 19-step min/max network, byte lane by byte lane.
inline __m128i Median9(__m128i *p) {
    Order(p[1], p[2]);
    Order(p[4], p[5]);
    Order(p[7], p[8]);
    Order(p[0], p[1]);
    Order(p[3], p[4]);
    Order(p[6], p[7]);
    Order(p[1], p[2]);
    Order(p[4], p[5]);
    Order(p[7], p[8]);
    Order(p[0], p[3]);
    Order(p[5], p[8]);
    Order(p[4], p[7]);
    Order(p[3], p[6]);
    Order(p[1], p[4]);
    Order(p[2], p[5]);
    Order(p[4], p[7]);
    Order(p[4], p[2]);
    Order(p[6], p[4]);
    Order(p[4], p[2]);
    return p[4];
}

// The medians of each lane's window, the alpha lanes the centre's.
inline __m128i MedianLanes(MedianShape shape, __m128i *p) {
    const __m128i alpha = _mm_set1_epi32(0xFF);
    const __m128i centre = p[4];
    const __m128i m = shape == MedianShape::kSquare ? MedianOfSquare(p) : Median9(p);
    return _mm_or_si128(_mm_and_si128(centre, alpha), _mm_andnot_si128(alpha, m));
}

// A pixel whose window leaves the row: its nine words gathered into the low
// lanes, through the same network.
Pixel MedianEdgePixel(MedianShape shape, const Window &w, int32_t width, int32_t x) {
    Pixel words[9];
    Gather(w, width, x, words);
    __m128i p[9];
    for (int i = 0; i < 9; ++i)
        p[i] = _mm_cvtsi32_si128(static_cast<int>(words[i]));
    return static_cast<Pixel>(_mm_cvtsi128_si32(MedianLanes(shape, p)));
}

}  // namespace

// Four pixels per vector: each byte lane is one channel of one pixel, so the
// network takes every channel's median at once; the alpha lanes are then
// replaced by the centre's alpha. Columns whose window leaves the row run the
// same network on one gathered pixel.
void MedianRowFast(MedianShape shape, const Pixel *frame, int32_t width, int32_t height, int32_t y,
                   Pixel *dst) {
    const Window w = WindowOf(shape, frame, width, height, y);
    const int32_t reach = MedianReach(shape);
    auto edgePixel = [&](int32_t x) { return MedianEdgePixel(shape, w, width, x); };
    int32_t x = 0;
    for (; x < std::min(reach, width); ++x)
        dst[x] = edgePixel(x);
    for (; x + 4 + reach <= width; x += 4) {
        __m128i p[9];
        for (int i = 0; i < 9; ++i)
            p[i] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(w[i].row + x + w[i].dx));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + x), MedianLanes(shape, p));
    }
    for (; x < width; ++x)
        dst[x] = edgePixel(x);
}
#else
void MedianRowFast(MedianShape shape, const Pixel *frame, int32_t width, int32_t height, int32_t y,
                   Pixel *dst) {
    MedianRowReference(shape, frame, width, height, y, dst);
}
#endif

#if defined(__x86_64__)
namespace {

KVE_TARGET_AVX2_BEGIN
namespace avx2 {
using namespace lanes::avx2;
inline Vec MinU8(Vec a, Vec b) {
    return _mm256_min_epu8(a, b);
}
inline Vec MaxU8(Vec a, Vec b) {
    return _mm256_max_epu8(a, b);
}
inline Vec KeepAlphaOf(Vec centre, Vec median) {
    return _mm256_blendv_epi8(median, centre, _mm256_set1_epi32(0xFF));
}
// The two halves of a pair of blocks straddling their boundary, then a
// byte shift within each half by one pixel.
inline Vec LastThenFirst(Vec a, Vec b) {
    return _mm256_alignr_epi8(b, _mm256_permute2x128_si256(a, b, 0x21), 12);
}
inline Vec AfterFirst(Vec a, Vec b) {
    return _mm256_alignr_epi8(_mm256_permute2x128_si256(a, b, 0x21), a, 4);
}
inline Vec Set64(int64_t v) {
    return _mm256_set1_epi64x(v);
}
inline Vec Add16(Vec a, Vec b) {
    return _mm256_add_epi16(a, b);
}
inline Vec Sub16(Vec a, Vec b) {
    return _mm256_sub_epi16(a, b);
}
inline Vec Shr16(Vec v, int n) {
    return _mm256_srli_epi16(v, n);
}
inline Vec Max16(Vec a, Vec b) {
    return _mm256_max_epi16(a, b);
}
inline Vec GreaterThan16(Vec a, Vec b) {
    return _mm256_cmpgt_epi16(a, b);
}
inline Vec AndNot(Vec a, Vec b) {
    return _mm256_andnot_si256(a, b);
}
inline Vec LowBytes16(Vec v) {
    return _mm256_unpacklo_epi8(v, Zero());
}
inline Vec HighBytes16(Vec v) {
    return _mm256_unpackhi_epi8(v, Zero());
}
inline Vec UnpackLow16(Vec a, Vec b) {
    return _mm256_unpacklo_epi16(a, b);
}
inline Vec PackSat32(Vec a, Vec b) {
    return _mm256_packs_epi32(a, b);
}
inline Vec PackUs16(Vec a, Vec b) {
    return _mm256_packus_epi16(a, b);
}
inline Vec PairSums32(Vec a, Vec b) {
    return _mm256_madd_epi16(a, b);
}
inline Vec SwapWords32(Vec v) {
    return _mm256_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1));
}
inline Vec MulHigh16(Vec a, Vec b) {
    return _mm256_mulhi_epu16(a, b);
}
inline Vec DownBytes8(Vec v) {
    return _mm256_srli_si256(v, 8);
}
#include "effects/filter/median_lanes.inc"
}  // namespace avx2
KVE_TARGET_END

KVE_TARGET_AVX512_BEGIN
namespace avx512 {
using namespace lanes::avx512;
inline Vec MinU8(Vec a, Vec b) {
    return _mm512_min_epu8(a, b);
}
inline Vec MaxU8(Vec a, Vec b) {
    return _mm512_max_epu8(a, b);
}
// Byte 0 of every pixel (the alpha) from the centre.
inline Vec KeepAlphaOf(Vec centre, Vec median) {
    return _mm512_mask_blend_epi8(0x1111111111111111ull, median, centre);
}
// The zero-masked forms: the plain ones start from an undefined vector,
// which GCC takes for an uninitialised read.
inline Vec LastThenFirst(Vec a, Vec b) {
    return _mm512_maskz_alignr_epi32(0xFFFF, b, a, 15);
}
inline Vec AfterFirst(Vec a, Vec b) {
    return _mm512_maskz_alignr_epi32(0xFFFF, b, a, 1);
}
inline Vec Set64(int64_t v) {
    return _mm512_set1_epi64(v);
}
inline Vec Add16(Vec a, Vec b) {
    return _mm512_add_epi16(a, b);
}
inline Vec Sub16(Vec a, Vec b) {
    return _mm512_sub_epi16(a, b);
}
inline Vec Shr16(Vec v, int n) {
    return _mm512_srli_epi16(v, static_cast<unsigned>(n));
}
inline Vec Max16(Vec a, Vec b) {
    return _mm512_max_epi16(a, b);
}
inline Vec GreaterThan16(Vec a, Vec b) {
    return _mm512_movm_epi16(_mm512_cmpgt_epi16_mask(a, b));
}
inline Vec AndNot(Vec a, Vec b) {
    return _mm512_maskz_andnot_epi32(0xFFFF, a, b);
}
inline Vec LowBytes16(Vec v) {
    return _mm512_unpacklo_epi8(v, Zero());
}
inline Vec HighBytes16(Vec v) {
    return _mm512_unpackhi_epi8(v, Zero());
}
inline Vec UnpackLow16(Vec a, Vec b) {
    return _mm512_unpacklo_epi16(a, b);
}
inline Vec PackSat32(Vec a, Vec b) {
    return _mm512_packs_epi32(a, b);
}
inline Vec PackUs16(Vec a, Vec b) {
    return _mm512_packus_epi16(a, b);
}
inline Vec PairSums32(Vec a, Vec b) {
    return _mm512_madd_epi16(a, b);
}
inline Vec SwapWords32(Vec v) {
    return _mm512_maskz_shuffle_epi32(0xFFFF, v, _MM_PERM_CDAB);
}
inline Vec MulHigh16(Vec a, Vec b) {
    return _mm512_mulhi_epu16(a, b);
}
inline Vec DownBytes8(Vec v) {
    return _mm512_bsrli_epi128(v, 8);
}
#include "effects/filter/median_lanes.inc"
}  // namespace avx512
KVE_TARGET_END

}  // namespace

void MedianRowAvx2(MedianShape shape, const Pixel *frame, int32_t width, int32_t height, int32_t y,
                   Pixel *dst) {
    avx2::MedianRow(shape, frame, width, height, y, dst);
}
// The cross runs eight pixels at a time here too: its nine loads a block,
// each across two cache lines at sixteen pixels, cost more than the wider
// network saves.
void MedianRowAvx512(MedianShape shape, const Pixel *frame, int32_t width, int32_t height,
                     int32_t y, Pixel *dst) {
    if (shape == MedianShape::kCross)
        avx2::MedianRow(shape, frame, width, height, y, dst);
    else
        avx512::MedianRow(shape, frame, width, height, y, dst);
}
void OutlierRowAvx2(MedianShape shape, OutlierTest test, const Pixel *frame, int32_t width,
                    int32_t height, int32_t y, Pixel *dst) {
    avx2::OutlierRow(shape, test, frame, width, height, y, dst);
}
void OutlierRowAvx512(MedianShape shape, OutlierTest test, const Pixel *frame, int32_t width,
                      int32_t height, int32_t y, Pixel *dst) {
    avx512::OutlierRow(shape, test, frame, width, height, y, dst);
}
#endif

KVE_LINE_OP(Median3x3LineOp) {
    FilterRowSets().Pick().median(MedianShape::kSquare, inLines[0], in.imageWidth[0],
                                  in.imageHeight[0], y, outLines[0]);
}

KVE_LINE_OP(MedianX5LineOp) {
    FilterRowSets().Pick().median(MedianShape::kCross, inLines[0], in.imageWidth[0],
                                  in.imageHeight[0], y, outLines[0]);
}

void OutlierRowReference(MedianShape shape, OutlierTest test, const Pixel *frame, int32_t width,
                         int32_t height, int32_t y, Pixel *dst) {
    const Window w = WindowOf(shape, frame, width, height, y);
    Pixel words[9];
    for (int32_t x = 0; x < width; ++x) {
        Gather(w, width, x, words);
        dst[x] = OutlierPixel(words, test.threshold, test.perChannel);
    }
}

#if defined(__SSE2__)
// Two pixels per 16-bit vector, four per step. Sums of eight channel values
// fit 16 bits; a brightness sum (at most 765) divided by 3 is
// (x * 21846) >> 16, exact over that range. Channels compare as the
// reference's int32 test once the threshold is clamped to -1 .. 255 (the
// differences lie in -255 .. 255). Alpha always keeps the centre's.
void OutlierRowFast(MedianShape shape, OutlierTest test, const Pixel *frame, int32_t width,
                    int32_t height, int32_t y, Pixel *dst) {
    const Window w = WindowOf(shape, frame, width, height, y);
    const int32_t reach = MedianReach(shape);
    const __m128i zero = _mm_setzero_si128();
    const __m128i limit = _mm_set1_epi16(static_cast<int16_t>(std::clamp(test.threshold, -1, 255)));
    const __m128i alphaLanes = _mm_set_epi16(0, 0, 0, -1, 0, 0, 0, -1);
    const __m128i third = _mm_set1_epi16(21846);
    const __m128i ones = _mm_set1_epi16(1);
    auto absolute = [&](__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(zero, v)); };
    // Per-pixel brightness sums (alpha lanes masked), each in both 32-bit
    // lanes of its pixel.
    auto brightness = [&](__m128i v) {
        const __m128i pairs = _mm_madd_epi16(_mm_andnot_si128(alphaLanes, v), ones);
        return _mm_add_epi32(pairs, _mm_shuffle_epi32(pairs, _MM_SHUFFLE(2, 3, 0, 1)));
    };
    auto decide = [&](__m128i mean, __m128i centre) {
        __m128i replace;
        if (test.perChannel) {
            replace = _mm_cmpgt_epi16(absolute(_mm_sub_epi16(mean, centre)), limit);
        } else {
            // [m0 m0 m1 m1 c0 c0 c1 c1] divided by 3, means minus centres.
            const __m128i q =
                _mm_mulhi_epu16(_mm_packs_epi32(brightness(mean), brightness(centre)), third);
            const __m128i d = _mm_sub_epi16(q, _mm_srli_si128(q, 8));
            const __m128i flags = _mm_cmpgt_epi16(absolute(d), limit);  // f0 f0 f1 f1
            replace = _mm_unpacklo_epi16(flags, flags);                 // f0 x4, f1 x4
        }
        replace = _mm_andnot_si128(alphaLanes, replace);
        return _mm_or_si128(_mm_and_si128(replace, mean), _mm_andnot_si128(replace, centre));
    };
    Pixel words[9];
    int32_t x = 0;
    for (; x < std::min(reach, width); ++x) {
        Gather(w, width, x, words);
        dst[x] = OutlierPixel(words, test.threshold, test.perChannel);
    }
    for (; x + 4 + reach <= width; x += 4) {
        __m128i lo = zero, hi = zero, centre = zero;
        for (int i = 0; i < 9; ++i) {
            const __m128i p =
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(w[i].row + (x + w[i].dx)));
            if (i == 4) {
                centre = p;
                continue;
            }
            lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(p, zero));
            hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(p, zero));
        }
        const __m128i outLo = decide(_mm_srli_epi16(lo, 3), _mm_unpacklo_epi8(centre, zero));
        const __m128i outHi = decide(_mm_srli_epi16(hi, 3), _mm_unpackhi_epi8(centre, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + x), _mm_packus_epi16(outLo, outHi));
    }
    for (; x < width; ++x) {
        Gather(w, width, x, words);
        dst[x] = OutlierPixel(words, test.threshold, test.perChannel);
    }
}
#else
void OutlierRowFast(MedianShape shape, OutlierTest test, const Pixel *frame, int32_t width,
                    int32_t height, int32_t y, Pixel *dst) {
    OutlierRowReference(shape, test, frame, width, height, y, dst);
}
#endif

// The integer after the threshold has no effect.
KVE_LINE_OP(Outlier3x3LineOp) {
    FilterRowSets().Pick().outlier(MedianShape::kSquare, OutlierTestOf(in.reals[0]), inLines[0],
                                   in.imageWidth[0], in.imageHeight[0], y, outLines[0]);
}

KVE_LINE_OP(OutlierX5LineOp) {
    FilterRowSets().Pick().outlier(MedianShape::kCross, OutlierTestOf(in.reals[0]), inLines[0],
                                   in.imageWidth[0], in.imageHeight[0], y, outLines[0]);
}

}  // namespace kve
