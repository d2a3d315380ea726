// The bilinear and nearest rows of the warp samplers, one per CPU level. The
// scalar level runs the plain per-pixel forms; the others take the positions
// several at a time where every tap lies inside the frame and hand the rest
// (edges, tiling) to the per-pixel forms, so every level gives the same words.
#include <emmintrin.h>
#include <immintrin.h>
#include <xmmintrin.h>

#include <cmath>

#include "effects/warp/sample_access.h"
#include "engine/cpu.h"
#include "interface/pixel.h"

namespace kve {

namespace {

// A whole-valued finite coordinate as a 64-bit index congruent to it modulo
// 2n, which is all a fold looks at (the mirrored period is 2n, the repeated n).
int64_t TilingIndex(double whole, int32_t n) {
    if (std::fabs(whole) < 1e15) return static_cast<int64_t>(whole);
    return static_cast<int64_t>(std::fmod(whole, 2.0 * n));
}

// Remembers the last source row fetched along an output row.
struct RowReader {
    const ScanCache &cache;
    int64_t row = -1;
    const Pixel *pixels = nullptr;
    const Pixel *Row(int64_t r) {
        if (r != row) {
            pixels = ScanCache_GetLine(cache, r);
            row = r;
        }
        return pixels;
    }
};

// The plain per-pixel row, which the scalar level runs.
void NearestRowPlain(const ScanCache &cache, int32_t tiling, const Vec2 *pts, int n, Pixel *out) {
    const int32_t w = cache.width, h = cache.height;
    if (tiling == 0) {
        // trunc(x) lies in 0 .. w-1 exactly when -1 < x < w (NaN fails too).
        const double wd = w, hd = h;
        const size_t stride = static_cast<size_t>(w);
        for (int i = 0; i < n; ++i) {
            PrefetchSource(cache, pts, i, n);
            const double x = pts[i].x, yy = pts[i].y;
            out[i] = x > -1 && x < wd && yy > -1 && yy < hd
                         ? cache.frame[static_cast<size_t>(static_cast<int32_t>(yy)) * stride +
                                       static_cast<size_t>(static_cast<int32_t>(x))]
                         : 0;
        }
        return;
    }
    RowReader reader{cache};
    for (int i = 0; i < n; ++i) {
        const double x = pts[i].x, yy = pts[i].y;
        if (!std::isfinite(x) || !std::isfinite(yy)) {
            out[i] = 0;
            continue;
        }
        const double tx = std::trunc(x), ty = std::trunc(yy);
        const int32_t c = WrapIndex(TilingIndex(tx, w), w, tiling);
        const int32_t r = WrapIndex(TilingIndex(ty, h), h, tiling);
        out[i] = reader.Row(r)[c];
    }
}

// The two channels of a pixel's 32-bit lanes (a, r, g, b) as doubles.
inline void ChannelPairs(__m128i lanes, __m128d &ar, __m128d &gb) {
    ar = _mm_cvtepi32_pd(lanes);
    gb = _mm_cvtepi32_pd(_mm_shuffle_epi32(lanes, _MM_SHUFFLE(1, 0, 3, 2)));
}

// BilinearTaps for positions whose four taps lie inside the frame, two
// channels per instruction. Every weight is applied, zero or not: adding +0
// to a non-negative sum changes nothing, and with a weight of 1 the others
// are 0, so the result equals the copy. Same operations, same order per
// channel: the same words as BilinearTaps.
Pixel BilinearInside(const ScanCache &cache, __m128d xy) {
    // Positions are not negative here, so truncation is floor.
    const __m128i cr = _mm_cvttpd_epi32(xy);
    __m128d f = _mm_sub_pd(xy, _mm_cvtepi32_pd(cr));
    // SnapFraction on both lanes without branches.
    const __m128d one = _mm_set1_pd(1.0);
    f = _mm_andnot_pd(_mm_cmple_pd(f, _mm_set1_pd(0.05)), f);
    const __m128d high = _mm_cmpge_pd(f, _mm_set1_pd(0.95));
    f = _mm_or_pd(_mm_and_pd(high, one), _mm_andnot_pd(high, f));
    const __m128d g = _mm_sub_pd(one, f);  // (1 - fx, 1 - fy)
    // (1-fx)(1-fy), fx(1-fy) and (1-fx)fy, fx fy.
    const __m128d across = _mm_unpacklo_pd(g, f);
    const __m128d w01 = _mm_mul_pd(across, _mm_unpackhi_pd(g, g));
    const __m128d w23 = _mm_mul_pd(across, _mm_unpackhi_pd(f, f));
    const __m128d w0 = _mm_unpacklo_pd(w01, w01), w1 = _mm_unpackhi_pd(w01, w01);
    const __m128d w2 = _mm_unpacklo_pd(w23, w23), w3 = _mm_unpackhi_pd(w23, w23);

    const int32_t c = _mm_cvtsi128_si32(cr), r = _mm_cvtsi128_si32(_mm_srli_si128(cr, 4));
    const Pixel *top = cache.frame + static_cast<size_t>(r) * static_cast<size_t>(cache.width) + c;
    const __m128i zero = _mm_setzero_si128();
    const __m128i up =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(top)), zero);
    const __m128i down = _mm_unpacklo_epi8(
        _mm_loadl_epi64(reinterpret_cast<const __m128i *>(top + cache.width)), zero);
    __m128d ar[4], gb[4];
    ChannelPairs(_mm_unpacklo_epi16(up, zero), ar[0], gb[0]);
    ChannelPairs(_mm_unpackhi_epi16(up, zero), ar[1], gb[1]);
    ChannelPairs(_mm_unpacklo_epi16(down, zero), ar[2], gb[2]);
    ChannelPairs(_mm_unpackhi_epi16(down, zero), ar[3], gb[3]);
    __m128d sumAr = _mm_mul_pd(w0, ar[0]), sumGb = _mm_mul_pd(w0, gb[0]);
    sumAr = _mm_add_pd(sumAr, _mm_mul_pd(w1, ar[1]));
    sumGb = _mm_add_pd(sumGb, _mm_mul_pd(w1, gb[1]));
    sumAr = _mm_add_pd(sumAr, _mm_mul_pd(w2, ar[2]));
    sumGb = _mm_add_pd(sumGb, _mm_mul_pd(w2, gb[2]));
    sumAr = _mm_add_pd(sumAr, _mm_mul_pd(w3, ar[3]));
    sumGb = _mm_add_pd(sumGb, _mm_mul_pd(w3, gb[3]));
    const __m128d half = _mm_set1_pd(0.5);
    // Truncation; the sums lie in 0 .. 255.5, so saturating packs clamp as PackPixel does.
    const __m128i channels = _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_add_pd(sumAr, half)),
                                                _mm_cvttpd_epi32(_mm_add_pd(sumGb, half)));
    const __m128i words = _mm_packus_epi16(_mm_packs_epi32(channels, zero), zero);
    return static_cast<Pixel>(_mm_cvtsi128_si32(words));
}

// Whether all four taps of (x, y) lie inside the frame (false for NaN).
inline bool TapsInside(__m128d xy, __m128d lastCorner) {
    const __m128d ok = _mm_and_pd(_mm_cmpge_pd(xy, _mm_setzero_pd()), _mm_cmplt_pd(xy, lastCorner));
    return _mm_movemask_pd(ok) == 3;
}

inline __m128d LastCorner(const ScanCache &cache) {
    return _mm_set_pd(cache.height - 1.0, cache.width - 1.0);
}

// A position some tap of which lies outside the frame (or is not finite).
Pixel BilinearEdge(WarpSource &src, Vec2 p) {
    return BilinearTaps(src, p.x, p.y);
}

// ---- bilinear rows, by instruction set ------------------------------------------

// A row of bilinear samples. Every variant computes each channel with the
// same operations in the same order, so all give the same words.
using BilinearRowFn = void (*)(WarpSource &src, const Vec2 *pts, int n, Pixel *out);

void BilinearRowSse2(WarpSource &src, const Vec2 *pts, int n, Pixel *out) {
    const __m128d lastCorner = LastCorner(src.cache);
    for (int i = 0; i < n; ++i) {
        PrefetchSource(src.cache, pts, i, n);
        const __m128d xy = _mm_loadu_pd(&pts[i].x);
        out[i] =
            TapsInside(xy, lastCorner) ? BilinearInside(src.cache, xy) : BilinearEdge(src, pts[i]);
    }
}

// The plain per-pixel row, which the scalar level runs; the others run the
// same arithmetic on vectors and give the same words.
void BilinearRowPlain(WarpSource &src, const Vec2 *pts, int n, Pixel *out) {
    for (int i = 0; i < n; ++i)
        out[i] = BilinearTaps(src, pts[i].x, pts[i].y);
}

// ---- four positions at a time ----------------------------------------------------

KVE_TARGET_AVX2_BEGIN

// A pixel's four channels (a, r, g, b) as doubles.
inline __m256d ChannelsAvx2(const Pixel *p) {
    return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(*p))));
}

// One pixel's four channels per instruction.
inline Pixel BilinearInsideAvx2(const ScanCache &cache, __m128d xy) {
    const __m128i cr = _mm_cvttpd_epi32(xy);
    __m128d f = _mm_sub_pd(xy, _mm_cvtepi32_pd(cr));
    const __m128d one = _mm_set1_pd(1.0);
    f = _mm_andnot_pd(_mm_cmple_pd(f, _mm_set1_pd(0.05)), f);
    const __m128d high = _mm_cmpge_pd(f, _mm_set1_pd(0.95));
    f = _mm_or_pd(_mm_and_pd(high, one), _mm_andnot_pd(high, f));
    const __m128d g = _mm_sub_pd(one, f);
    const __m128d across = _mm_unpacklo_pd(g, f);
    const __m128d w01 = _mm_mul_pd(across, _mm_unpackhi_pd(g, g));
    const __m128d w23 = _mm_mul_pd(across, _mm_unpackhi_pd(f, f));
    const __m256d w0 = _mm256_broadcastsd_pd(w01);
    const __m256d w1 = _mm256_broadcastsd_pd(_mm_unpackhi_pd(w01, w01));
    const __m256d w2 = _mm256_broadcastsd_pd(w23);
    const __m256d w3 = _mm256_broadcastsd_pd(_mm_unpackhi_pd(w23, w23));

    const int32_t c = _mm_cvtsi128_si32(cr), r = _mm_cvtsi128_si32(_mm_srli_si128(cr, 4));
    const Pixel *top = cache.frame + static_cast<size_t>(r) * static_cast<size_t>(cache.width) + c;
    const Pixel *bottom = top + cache.width;
    __m256d sum = _mm256_mul_pd(w0, ChannelsAvx2(top));
    sum = _mm256_add_pd(sum, _mm256_mul_pd(w1, ChannelsAvx2(top + 1)));
    sum = _mm256_add_pd(sum, _mm256_mul_pd(w2, ChannelsAvx2(bottom)));
    sum = _mm256_add_pd(sum, _mm256_mul_pd(w3, ChannelsAvx2(bottom + 1)));
    const __m128i ints = _mm256_cvttpd_epi32(_mm256_add_pd(sum, _mm256_set1_pd(0.5)));
    const __m128i words = _mm_packus_epi16(_mm_packs_epi32(ints, ints), ints);
    return static_cast<Pixel>(_mm_cvtsi128_si32(words));
}

// SnapFraction on four lanes.
inline __m256d SnapFractions(__m256d f) {
    const __m256d one = _mm256_set1_pd(1.0);
    f = _mm256_andnot_pd(_mm256_cmp_pd(f, _mm256_set1_pd(0.05), _CMP_LE_OQ), f);
    const __m256d high = _mm256_cmp_pd(f, _mm256_set1_pd(0.95), _CMP_GE_OQ);
    return _mm256_or_pd(_mm256_and_pd(high, one), _mm256_andnot_pd(high, f));
}

// One channel (at bit `shift`) of four pixel words, as doubles.
inline __m256d ChannelOf(__m128i words, int shift) {
    const __m128i v =
        _mm_and_si128(_mm_srl_epi32(words, _mm_cvtsi32_si128(shift)), _mm_set1_epi32(0xFF));
    return _mm256_cvtepi32_pd(v);
}

// sum = w0 t0 + w1 t1 + w2 t2 + w3 t3 in that order, plus 0.5, truncated.
inline __m128i MixChannel(const __m256d w[4], const __m128i taps[4], int shift) {
    __m256d sum = _mm256_mul_pd(w[0], ChannelOf(taps[0], shift));
    sum = _mm256_add_pd(sum, _mm256_mul_pd(w[1], ChannelOf(taps[1], shift)));
    sum = _mm256_add_pd(sum, _mm256_mul_pd(w[2], ChannelOf(taps[2], shift)));
    sum = _mm256_add_pd(sum, _mm256_mul_pd(w[3], ChannelOf(taps[3], shift)));
    return _mm256_cvttpd_epi32(_mm256_add_pd(sum, _mm256_set1_pd(0.5)));
}

// Four neighbouring output pixels whose taps all lie inside the frame, one
// pixel per lane: the same operations per channel as BilinearInside. The
// channel sums stay below 256 (the weights sum to 1 within rounding), so
// the words are assembled without clamping.
void BilinearFourInside(const ScanCache &cache, __m256d xs, __m256d ys, Pixel *out) {
    const __m128i c = _mm256_cvttpd_epi32(xs), r = _mm256_cvttpd_epi32(ys);
    const __m256d fx = SnapFractions(_mm256_sub_pd(xs, _mm256_cvtepi32_pd(c)));
    const __m256d fy = SnapFractions(_mm256_sub_pd(ys, _mm256_cvtepi32_pd(r)));
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d gx = _mm256_sub_pd(one, fx), gy = _mm256_sub_pd(one, fy);
    const __m256d w[4] = {_mm256_mul_pd(gx, gy), _mm256_mul_pd(fx, gy), _mm256_mul_pd(gx, fy),
                          _mm256_mul_pd(fx, fy)};
    // The four pixels' top-left taps, by 64-bit word offsets r * width + c.
    alignas(32) int64_t at[4];
    _mm256_store_si256(reinterpret_cast<__m256i *>(at),
                       _mm256_add_epi64(_mm256_mul_epu32(_mm256_cvtepi32_epi64(r),
                                                         _mm256_set1_epi64x(cache.width)),
                                        _mm256_cvtepi32_epi64(c)));
    const Pixel *p0 = cache.frame + at[0], *p1 = cache.frame + at[1];
    const Pixel *p2 = cache.frame + at[2], *p3 = cache.frame + at[3];
    const size_t below = static_cast<size_t>(cache.width);
    auto taps4 = [](Pixel a, Pixel b, Pixel c, Pixel d) {
        return _mm_set_epi32(static_cast<int>(d), static_cast<int>(c), static_cast<int>(b),
                             static_cast<int>(a));
    };
    const __m128i taps[4] = {taps4(p0[0], p1[0], p2[0], p3[0]), taps4(p0[1], p1[1], p2[1], p3[1]),
                             taps4(p0[below], p1[below], p2[below], p3[below]),
                             taps4(p0[below + 1], p1[below + 1], p2[below + 1], p3[below + 1])};
    __m128i words = MixChannel(w, taps, 0);
    words = _mm_or_si128(words, _mm_slli_epi32(MixChannel(w, taps, 8), 8));
    words = _mm_or_si128(words, _mm_slli_epi32(MixChannel(w, taps, 16), 16));
    words = _mm_or_si128(words, _mm_slli_epi32(MixChannel(w, taps, 24), 24));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), words);
}

void BilinearRowAvx2(WarpSource &src, const Vec2 *pts, int n, Pixel *out) {
    const __m128d lastCorner = LastCorner(src.cache);
    const __m256d lastX = _mm256_set1_pd(src.cache.width - 1.0);
    const __m256d lastY = _mm256_set1_pd(src.cache.height - 1.0);
    const __m256d zero = _mm256_setzero_pd();
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        PrefetchSource(src.cache, pts, i, n);
        PrefetchSource(src.cache, pts, i + 2, n);
        // (x0 y0 x1 y1), (x2 y2 x3 y3) into (x0 x1 x2 x3), (y0 y1 y2 y3).
        const __m256d a = _mm256_loadu_pd(&pts[i].x), b = _mm256_loadu_pd(&pts[i + 2].x);
        const __m256d xs = _mm256_permute4x64_pd(_mm256_unpacklo_pd(a, b), 0xD8);
        const __m256d ys = _mm256_permute4x64_pd(_mm256_unpackhi_pd(a, b), 0xD8);
        const __m256d inside = _mm256_and_pd(_mm256_and_pd(_mm256_cmp_pd(xs, zero, _CMP_GE_OQ),
                                                           _mm256_cmp_pd(xs, lastX, _CMP_LT_OQ)),
                                             _mm256_and_pd(_mm256_cmp_pd(ys, zero, _CMP_GE_OQ),
                                                           _mm256_cmp_pd(ys, lastY, _CMP_LT_OQ)));
        if (_mm256_movemask_pd(inside) == 0xF) {
            BilinearFourInside(src.cache, xs, ys, out + i);
            continue;
        }
        for (int k = i; k < i + 4; ++k) {
            const __m128d xy = _mm_loadu_pd(&pts[k].x);
            out[k] = TapsInside(xy, lastCorner) ? BilinearInsideAvx2(src.cache, xy)
                                                : BilinearEdge(src, pts[k]);
        }
    }
    for (; i < n; ++i) {
        const __m128d xy = _mm_loadu_pd(&pts[i].x);
        out[i] = TapsInside(xy, lastCorner) ? BilinearInsideAvx2(src.cache, xy)
                                            : BilinearEdge(src, pts[i]);
    }
}

// Nearest, four positions at a time, as NearestRowAvx512 does eight.
void NearestRowAvx2(const ScanCache &cache, int32_t tiling, const Vec2 *pts, int n, Pixel *out) {
    const __m256d low = _mm256_set1_pd(-1.0), wd = _mm256_set1_pd(cache.width),
                  hd = _mm256_set1_pd(cache.height);
    const __m256i stride = _mm256_set1_epi64x(cache.width);
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        PrefetchSource(cache, pts, i, n);
        // (x0 y0 x1 y1), (x2 y2 x3 y3) into (x0 x1 x2 x3), (y0 y1 y2 y3).
        const __m256d a = _mm256_loadu_pd(&pts[i].x), b = _mm256_loadu_pd(&pts[i + 2].x);
        const __m256d xs = _mm256_permute4x64_pd(_mm256_unpacklo_pd(a, b), 0xD8);
        const __m256d ys = _mm256_permute4x64_pd(_mm256_unpackhi_pd(a, b), 0xD8);
        const __m256d inside = _mm256_and_pd(
            _mm256_and_pd(_mm256_cmp_pd(xs, low, _CMP_GT_OQ), _mm256_cmp_pd(xs, wd, _CMP_LT_OQ)),
            _mm256_and_pd(_mm256_cmp_pd(ys, low, _CMP_GT_OQ), _mm256_cmp_pd(ys, hd, _CMP_LT_OQ)));
        if (tiling && _mm256_movemask_pd(inside) != 0xF) {
            NearestRowPlain(cache, tiling, pts + i, 4, out + i);
            continue;
        }
        // Outside lanes convert to anything; the mask keeps them from being read.
        const __m256i at = _mm256_add_epi64(
            _mm256_mul_epu32(_mm256_cvtepi32_epi64(_mm256_cvttpd_epi32(ys)), stride),
            _mm256_cvtepi32_epi64(_mm256_cvttpd_epi32(xs)));
        const __m128i mask = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(
            _mm256_castpd_si256(inside), _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7)));
        const __m128i words = _mm256_mask_i64gather_epi32(
            _mm_setzero_si128(), reinterpret_cast<const int *>(cache.frame), at, mask, 4);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), words);
    }
    if (i < n) NearestRowPlain(cache, tiling, pts + i, n - i, out + i);
}

KVE_TARGET_END

// ---- eight positions at a time --------------------------------------------------

KVE_TARGET_AVX512_BEGIN

// The unmasked forms of several 512-bit instructions start from an undefined
// register that this compiler warns about; the masked forms with every lane
// set are the same instructions.
constexpr __mmask8 kEightLanes = 0xFF;

// The x and y of eight points (x0 y0 .. x7 y7).
inline void SplitEight(const Vec2 *pts, __m512d &xs, __m512d &ys) {
    const __m512d a = _mm512_loadu_pd(&pts[0].x), b = _mm512_loadu_pd(&pts[4].x);
    xs = _mm512_permutex2var_pd(a, _mm512_setr_epi64(0, 2, 4, 6, 8, 10, 12, 14), b);
    ys = _mm512_permutex2var_pd(a, _mm512_setr_epi64(1, 3, 5, 7, 9, 11, 13, 15), b);
}

// Lanes whose position lies in [low, highX) x [low, highY) (never NaN ones).
template <int lowTest>
inline __mmask8 Within(__m512d xs, __m512d ys, double low, double highX, double highY) {
    const __m512d l = _mm512_set1_pd(low);
    return _mm512_cmp_pd_mask(xs, l, lowTest) &
           _mm512_cmp_pd_mask(xs, _mm512_set1_pd(highX), _CMP_LT_OQ) &
           _mm512_cmp_pd_mask(ys, l, lowTest) &
           _mm512_cmp_pd_mask(ys, _mm512_set1_pd(highY), _CMP_LT_OQ);
}

// SnapFraction on eight lanes.
inline __m512d SnapEight(__m512d f) {
    f = _mm512_maskz_mov_pd(_mm512_cmp_pd_mask(f, _mm512_set1_pd(0.05), _CMP_NLE_UQ), f);
    return _mm512_mask_mov_pd(f, _mm512_cmp_pd_mask(f, _mm512_set1_pd(0.95), _CMP_GE_OQ),
                              _mm512_set1_pd(1.0));
}

// Byte `at` of each 64-bit lane (two pixel words side by side) as a double.
inline __m512d ByteOfEach(__m512i pairs, int at) {
    const __m512i index =
        _mm512_add_epi64(_mm512_setr_epi64(0, 8, 16, 24, 32, 40, 48, 56), _mm512_set1_epi64(at));
    return _mm512_cvtepi64_pd(_mm512_maskz_permutexvar_epi8(0x0101010101010101ull, index, pairs));
}

// One channel of eight pixels: w0 t0 + w1 t1 + w2 t2 + w3 t3 in that order,
// plus 0.5, truncated.
inline __m256i MixEight(const __m512d w[4], __m512i top, __m512i bottom, int channel) {
    __m512d sum = _mm512_mul_pd(w[0], ByteOfEach(top, channel));
    sum = _mm512_add_pd(sum, _mm512_mul_pd(w[1], ByteOfEach(top, 4 + channel)));
    sum = _mm512_add_pd(sum, _mm512_mul_pd(w[2], ByteOfEach(bottom, channel)));
    sum = _mm512_add_pd(sum, _mm512_mul_pd(w[3], ByteOfEach(bottom, 4 + channel)));
    return _mm512_maskz_cvttpd_epi32(kEightLanes, _mm512_add_pd(sum, _mm512_set1_pd(0.5)));
}

// Eight output pixels whose taps all lie inside the frame, one per lane, by
// the operations of BilinearInside; each pair of taps side by side is read
// as one 64-bit word. As in BilinearFourInside the sums stay below 256.
void BilinearEightInside(const ScanCache &cache, __m512d xs, __m512d ys, Pixel *out) {
    // Positions are not negative here, so truncation is floor.
    const __m512i c = _mm512_cvttpd_epi64(xs), r = _mm512_cvttpd_epi64(ys);
    const __m512d fx = SnapEight(_mm512_sub_pd(xs, _mm512_cvtepi64_pd(c)));
    const __m512d fy = SnapEight(_mm512_sub_pd(ys, _mm512_cvtepi64_pd(r)));
    const __m512d one = _mm512_set1_pd(1.0);
    const __m512d gx = _mm512_sub_pd(one, fx), gy = _mm512_sub_pd(one, fy);
    const __m512d w[4] = {_mm512_mul_pd(gx, gy), _mm512_mul_pd(fx, gy), _mm512_mul_pd(gx, fy),
                          _mm512_mul_pd(fx, fy)};
    const __m512i at =
        _mm512_add_epi64(_mm512_maskz_mul_epu32(kEightLanes, r, _mm512_set1_epi64(cache.width)), c);
    const __m512i none = _mm512_setzero_si512();
    const __m512i top = _mm512_mask_i64gather_epi64(none, kEightLanes, at, cache.frame, 4);
    const __m512i bottom =
        _mm512_mask_i64gather_epi64(none, kEightLanes, at, cache.frame + cache.width, 4);
    __m256i words = MixEight(w, top, bottom, 0);
    words = _mm256_or_si256(words, _mm256_slli_epi32(MixEight(w, top, bottom, 1), 8));
    words = _mm256_or_si256(words, _mm256_slli_epi32(MixEight(w, top, bottom, 2), 16));
    words = _mm256_or_si256(words, _mm256_slli_epi32(MixEight(w, top, bottom, 3), 24));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), words);
}

void BilinearRowAvx512(WarpSource &src, const Vec2 *pts, int n, Pixel *out) {
    const ScanCache &cache = src.cache;
    const double w = cache.width, h = cache.height;
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        PrefetchSource(cache, pts, i, n);
        PrefetchSource(cache, pts, i + 4, n);
        __m512d xs, ys;
        SplitEight(pts + i, xs, ys);
        if (Within<_CMP_GE_OQ>(xs, ys, 0, w - 1, h - 1) == 0xFF) {
            BilinearEightInside(cache, xs, ys, out + i);
        } else if (!src.tiling && Within<_CMP_GE_OQ>(xs, ys, -1, w, h) == 0) {
            // Every tap of every position outside, as BilinearTaps finds.
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), _mm256_setzero_si256());
        } else {
            BilinearRowAvx2(src, pts + i, 8, out + i);
        }
    }
    if (i < n) BilinearRowAvx2(src, pts + i, n - i, out + i);
}

// Nearest, eight positions at a time: masked gathers read the positions
// inside and leave 0 for the others, as the plain row does without tiling;
// with tiling, groups reaching outside take the plain row.
void NearestRowAvx512(const ScanCache &cache, int32_t tiling, const Vec2 *pts, int n, Pixel *out) {
    const __m512i stride = _mm512_set1_epi64(cache.width);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        PrefetchSource(cache, pts, i, n);
        PrefetchSource(cache, pts, i + 4, n);
        __m512d xs, ys;
        SplitEight(pts + i, xs, ys);
        // trunc(x) lies in 0 .. w-1 exactly when -1 < x < w.
        const __mmask8 inside = Within<_CMP_GT_OQ>(xs, ys, -1, cache.width, cache.height);
        if (tiling && inside != 0xFF) {
            NearestRowPlain(cache, tiling, pts + i, 8, out + i);
            continue;
        }
        const __m512i at =
            _mm512_add_epi64(_mm512_maskz_mul_epu32(kEightLanes, _mm512_cvttpd_epi64(ys), stride),
                             _mm512_cvttpd_epi64(xs));
        _mm256_storeu_si256(
            reinterpret_cast<__m256i *>(out + i),
            _mm512_mask_i64gather_epi32(_mm256_setzero_si256(), inside, at, cache.frame, 4));
    }
    if (i < n) NearestRowPlain(cache, tiling, pts + i, n - i, out + i);
}

KVE_TARGET_END

constexpr CpuRows<BilinearRowFn> kBilinearRows = {
    {BilinearRowPlain, BilinearRowSse2, BilinearRowAvx2, BilinearRowAvx512}};

using NearestRowFn = void (*)(const ScanCache &cache, int32_t tiling, const Vec2 *pts, int n,
                              Pixel *out);
constexpr CpuRows<NearestRowFn> kNearestRows = {
    {NearestRowPlain, NearestRowPlain, NearestRowAvx2, NearestRowAvx512}};

}  // namespace

Pixel Bilinear(WarpSource &src, double x, double y) {
    const __m128d xy = _mm_set_pd(y, x);
    if (TapsInside(xy, LastCorner(src.cache))) return BilinearInside(src.cache, xy);
    return BilinearTaps(src, x, y);
}

void BilinearRow(WarpSource &src, const Vec2 *pts, int n, Pixel *out) {
    kBilinearRows.Pick()(src, pts, n, out);
}

void NearestRow(const ScanCache &cache, int32_t tiling, const Vec2 *pts, int n, Pixel *out) {
    kNearestRows.Pick()(cache, tiling, pts, n, out);
}

}  // namespace kve
