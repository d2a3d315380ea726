// The warp samplers: each turns one output row of mapped source positions
// into pixels.
//
// SampleBlank writes transparent black. SampleNearest copies the source pixel
// under each position (truncation toward zero). SampleAffine uses one
// footprint for the whole call: bilinear interpolation when the mapping
// neither shrinks nor stretches much, else a filtered window from a bank of
// Gaussian kernels. SampleEwa shapes a Gaussian footprint per pixel from the
// mapping's local Jacobian (elliptical weighted averaging).
//
// Outside the source, tiling 0 reads nothing (transparent black); tiling 1
// mirrors alternate copies of the frame and any other value repeats it.
// Positions that are not finite give a 0 pixel; positions far outside are
// folded in 64-bit arithmetic, never converted to int while out of range.
#include <emmintrin.h>
#include <immintrin.h>
#include <xmmintrin.h>

#include <algorithm>
#include <cmath>

#include "effects/warp/sample_access.h"
#include "engine/cpu.h"
#include "engine/diag.h"
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

// The output positions of row y for a mapping without Jacobians. The matrix
// mapping reads only the row's two ends, so only those are written for it.
void RowPoints(const WarpState &s, Vec2 *pts, int32_t y, int n) {
    if (s.map == MapMatrix && n > 0) {
        pts[0] = {0, static_cast<double>(y)};
        pts[n - 1] = {static_cast<double>(n - 1), static_cast<double>(y)};
        return;
    }
    FillRowPoints(pts, y, n);
}

}  // namespace

// ---- shared first-row values ------------------------------------------------------

void BuildWeightTable(double *table) {
    const double K = -2 * std::log(0.1) / 2;
    for (int i = 0; i < kWeightEntries; ++i)
        table[i] = std::exp(-K * i / 1023);
}

double FootprintRadius(double softness) {
    return (1 - softness / 2) * std::sqrt(-2 * std::log(0.1));
}

// R and its limits. Footprints grow as R shrinks (softness 2 would make them
// unbounded), so R is kept at least kSmallestRadius, whatever its sign.
void SetRadii(SamplerMemory &m, const WarpState &s) {
    const double R = FootprintRadius(s.softness);
    m.R = std::fabs(R) >= kSmallestRadius ? std::fabs(R) : kSmallestRadius;  // NaN too
    m.Rmax = 0.05 * s.srcWidth;
    m.Lmin = m.R * m.R / (m.Rmax * m.Rmax);
    m.Lmax = m.R * m.R / 2;
}

namespace {

// ---- bilinear ---------------------------------------------------------------------

// Fractions within 0.05 of a pixel edge snap to it, so identity and whole-pixel
// mappings copy source words exactly.
double SnapFraction(double f) {
    if (f <= 0.05) return 0;
    if (f >= 0.95) return 1;
    return f;
}

// Four taps around (x, y), each by the tiling rule; a tap of weight exactly
// 1 is copied as it is. The plain per-tap form, right everywhere.
Pixel BilinearTaps(WarpSource &src, double x, double y) {
    const int32_t w = src.cache.width, h = src.cache.height;
    if (!std::isfinite(x) || !std::isfinite(y)) return 0;
    if (src.tiling) {
        x = NearFrame(x, w);
        y = NearFrame(y, h);
    } else if (!(x >= -1 && x < w && y >= -1 && y < h)) {
        return 0;  // every tap outside
    }
    const double c0 = std::floor(x), r0 = std::floor(y);
    const double fx = SnapFraction(x - c0), fy = SnapFraction(y - r0);
    const double weights[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
    const int64_t c = static_cast<int64_t>(c0), r = static_cast<int64_t>(r0);
    ChannelSums sums;
    for (int k = 0; k < 4; ++k) {
        if (weights[k] == 0) continue;
        const Pixel *line = src.Row(r + k / 2);
        Pixel p;
        if (!line || !src.At(line, c + k % 2, p)) continue;
        if (weights[k] == 1) return p;
        sums.Add(weights[k], p);
    }
    auto channel = [](double sum) { return static_cast<int32_t>(sum + 0.5); };
    return PackPixel(channel(sums.a), channel(sums.r), channel(sums.g), channel(sums.b));
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

// A pixel's four channels (a, r, g, b) as doubles.
__attribute__((target("avx2"))) inline __m256d ChannelsAvx2(const Pixel *p) {
    return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(*p))));
}

// One pixel's four channels per instruction.
__attribute__((target("avx2"))) inline Pixel BilinearInsideAvx2(const ScanCache &cache,
                                                                __m128d xy) {
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
__attribute__((target("avx2"))) inline __m256d SnapFractions(__m256d f) {
    const __m256d one = _mm256_set1_pd(1.0);
    f = _mm256_andnot_pd(_mm256_cmp_pd(f, _mm256_set1_pd(0.05), _CMP_LE_OQ), f);
    const __m256d high = _mm256_cmp_pd(f, _mm256_set1_pd(0.95), _CMP_GE_OQ);
    return _mm256_or_pd(_mm256_and_pd(high, one), _mm256_andnot_pd(high, f));
}

// One channel (at bit `shift`) of four pixel words, as doubles.
__attribute__((target("avx2"))) inline __m256d ChannelOf(__m128i words, int shift) {
    const __m128i v =
        _mm_and_si128(_mm_srl_epi32(words, _mm_cvtsi32_si128(shift)), _mm_set1_epi32(0xFF));
    return _mm256_cvtepi32_pd(v);
}

// sum = w0 t0 + w1 t1 + w2 t2 + w3 t3 in that order, plus 0.5, truncated.
__attribute__((target("avx2"))) inline __m128i MixChannel(const __m256d w[4], const __m128i taps[4],
                                                          int shift) {
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
__attribute__((target("avx2"))) void BilinearFourInside(const ScanCache &cache, __m256d xs,
                                                        __m256d ys, Pixel *out) {
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

__attribute__((target("avx2"))) void BilinearRowAvx2(WarpSource &src, const Vec2 *pts, int n,
                                                     Pixel *out) {
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

// The plain per-pixel row, which the scalar level runs; the others run the
// same arithmetic on vectors and give the same words.
void BilinearRowPlain(WarpSource &src, const Vec2 *pts, int n, Pixel *out) {
    for (int i = 0; i < n; ++i)
        out[i] = BilinearTaps(src, pts[i].x, pts[i].y);
}

constexpr CpuRows<BilinearRowFn> kBilinearRows = {
    {BilinearRowPlain, BilinearRowSse2, BilinearRowAvx2, BilinearRowAvx2}};

// ---- affine: footprint and kernel bank --------------------------------------------

// Clamps a conic coefficient into [lo, hi] (the upper limit tested first, so
// an empty range on a narrow frame gives hi); the extent follows the limit
// that applied, else the Jacobian's own.
double ClampCoefficient(double &v, double lo, double hi, double R, double Rmax, double own) {
    if (v > hi) {
        v = hi;
        return R;
    }
    if (v < lo) {
        v = lo;
        return Rmax;
    }
    return own;
}

// Fills kernel (px, py) of the bank from the footprint conic.
void BuildKernel(WarpKernel &k, const double *table, const SamplerMemory &m, int px, int py) {
    k.firstRow = kKernelWindow;
    k.lastRow = -1;
    double sum = 0;
    for (int j = 0; j < kKernelWindow; ++j) {
        k.firstTap[j] = 0;
        k.tapCount[j] = 0;
        double row[kKernelWindow];
        int first = -1, last = -1;
        for (int i = 0; i < kKernelWindow; ++i) {
            const double dx = (i - 5) - px / 4.0 + 0.125, dy = (j - 5) - py / 4.0 + 0.125;
            const double q = m.A * dx * dx + m.B * dx * dy + m.C * dy * dy;
            const double w = q >= 0 && q <= 1 ? Weight(table, q) : 0;
            row[i] = w > 0.1 ? w : 0;
            if (row[i] > 0) {
                if (first < 0) first = i;
                last = i;
            }
        }
        if (first < 0) continue;
        k.firstRow = std::min(k.firstRow, j);
        k.lastRow = j;
        k.firstTap[j] = first;
        k.tapCount[j] = last - first + 1;
        for (int t = 0; t <= last - first; ++t) {
            k.weights[j][t] = row[first + t];
            sum += row[first + t];
        }
    }
    if (k.lastRow < 0 || !(sum > 0)) {
        Diag_Message("<Warp1>:  No filter");
        k.firstRow = kKernelWindow;
        k.lastRow = -1;
        return;
    }
    for (int j = k.firstRow; j <= k.lastRow; ++j)
        for (int t = 0; t < k.tapCount[j]; ++t)
            k.weights[j][t] /= sum;
}

// The whole call's footprint, from the Jacobian at the output's centre (the
// output's, not the source's: the two differ for ResizeX4Corner, and the
// footprint belongs to an output pixel).
void PrepareAffine(WarpStorage &st) {
    WarpState &s = *st.state;
    SamplerMemory &m = *st.memory;
    BuildWeightTable(st.weights);
    SetRadii(m, s);
    Jacobian J = JacobianAt(s, {s.dstWidth / 2.0, s.dstHeight / 2.0});
    m.bilinear = J.Small();
    if (m.bilinear) return;
    const double lo = 1 / (m.Rmax * m.Rmax), hi = 1 / (m.R * m.R);
    const double det = J.xu * J.yv - J.xv * J.yu;
    if (det == 0) {
        J = {1, 0, 0, 1};
        m.A = m.C = 1;
        m.B = 0;
    } else {
        const double d2 = det * det;
        m.A = (J.yu * J.yu + J.yv * J.yv) / d2;
        m.B = -2 * (J.xu * J.yu + J.xv * J.yv) / d2;
        m.C = (J.xu * J.xu + J.xv * J.xv) / d2;
    }
    if (std::fabs(m.B) <= 1e-6) {
        m.xExtent =
            ClampCoefficient(m.A, lo, hi, m.R, m.Rmax, std::max(std::fabs(J.xu), std::fabs(J.xv)));
        m.yExtent =
            ClampCoefficient(m.C, lo, hi, m.R, m.Rmax, std::max(std::fabs(J.yu), std::fabs(J.yv)));
    } else {
        // Turn to the principal axes, clamp both, turn back.
        const double theta = std::atan2(m.B, m.A - m.C) / 2;
        const double sn = std::sin(theta), cs = std::cos(theta);
        double L1 = cs * cs * m.A + sn * sn * m.C + sn * cs * m.B;
        double L2 = sn * sn * m.A - sn * cs * m.B + cs * cs * m.C;
        ClampCoefficient(L1, lo, hi, 0, 0, 0);
        ClampCoefficient(L2, lo, hi, 0, 0, 0);
        m.xExtent = m.yExtent = std::sqrt(1 / std::max(L1, L2));
        m.A = L1 * cs * cs + L2 * sn * sn;
        m.B = -2 * sn * cs * (L2 - L1);
        m.C = L2 * cs * cs + L1 * sn * sn;
    }
    for (int py = 0; py < 4; ++py)
        for (int px = 0; px < 4; ++px)
            BuildKernel(m.bank[static_cast<size_t>(4 * py + px)], st.weights, m, px, py);
}

// The phase (0, 0) kernel over the window around (trunc x, trunc y). Every
// pixel uses that one kernel whatever its sub-pixel position; the bank keeps
// all sixteen phases so the choice can change without rebuilding it.
Pixel Filtered(WarpSource &src, const SamplerMemory &m, double x, double y) {
    const int32_t w = src.cache.width, h = src.cache.height;
    if (src.tiling) {
        x = NearFrame(x, w);
        y = NearFrame(y, h);
    } else {
        if (std::floor(x - m.xExtent) >= w || std::ceil(x + m.xExtent) < 0 ||
            std::floor(y - m.yExtent) >= h || std::ceil(y + m.yExtent) < 0)
            return 0;
        // Beyond these every tap of the window is outside.
        if (!(x > -kKernelWindow && x < w + kKernelWindow && y > -kKernelWindow &&
              y < h + kKernelWindow))
            return 0;
    }
    const WarpKernel &k = m.bank[0];
    const int64_t c0 = static_cast<int64_t>(std::trunc(x)),
                  r0 = static_cast<int64_t>(std::trunc(y));
    ChannelSums sums;
    for (int j = k.firstRow; j <= k.lastRow; ++j) {
        const Pixel *line = src.Row(r0 + (j - 5));
        if (!line) continue;
        for (int t = 0; t < k.tapCount[j]; ++t) {
            Pixel p;
            if (src.At(line, c0 + (k.firstTap[j] + t - 5), p)) sums.Add(k.weights[j][t], p);
        }
    }
    auto channel = [](double sum) { return static_cast<int32_t>(std::clamp(sum, 0.0, 255.0)); };
    return PackPixel(channel(sums.a), channel(sums.r), channel(sums.g), channel(sums.b));
}

}  // namespace

// The Jacobian at one output position, by the mapping's own rule.
Jacobian JacobianAt(WarpState &s, Vec2 at) {
    Vec2 p[3] = {at, {}, {}};
    s.map(s, p, p, 1, true);
    return {p[1].x, p[1].y, p[2].x, p[2].y};
}

Pixel Bilinear(WarpSource &src, double x, double y) {
    const __m128d xy = _mm_set_pd(y, x);
    if (TapsInside(xy, LastCorner(src.cache))) return BilinearInside(src.cache, xy);
    return BilinearTaps(src, x, y);
}

Pixel BilinearPlain(const ScanCache &cache, int32_t tiling, double x, double y) {
    WarpSource src{cache, tiling};
    return BilinearTaps(src, x, y);
}

Pixel BilinearSample(const ScanCache &cache, int32_t tiling, double x, double y) {
    WarpSource src{cache, tiling};
    return Bilinear(src, x, y);
}

void SampleBlank(WarpStorage &st, int, int32_t, Pixel *out) {
    std::fill(out, out + st.state->dstWidth, Pixel{0});
}

namespace {

// Nearest over a span of positions: column trunc(x), row trunc(y).
void NearestSpan(const WarpState &s, const ScanCache &cache, const Vec2 *pts, int n, Pixel *out) {
    const int32_t w = s.srcWidth, h = s.srcHeight;
    if (s.tiling == 0) {
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
        const int32_t c = WrapIndex(TilingIndex(tx, w), w, s.tiling);
        const int32_t r = WrapIndex(TilingIndex(ty, h), h, s.tiling);
        out[i] = reader.Row(r)[c];
    }
}

// The affine sampler over a span: bilinear, or the kernel bank's window.
void AffineSpan(const WarpState &s, const SamplerMemory &m, const ScanCache &cache, const Vec2 *pts,
                int n, Pixel *out) {
    WarpSource src{cache, s.tiling};
    if (m.bilinear) {
        kBilinearRows.Pick()(src, pts, n, out);
        return;
    }
    for (int i = 0; i < n; ++i) {
        PrefetchSource(cache, pts, i, n);
        const double x = pts[i].x, yy = pts[i].y;
        out[i] = std::isfinite(x) && std::isfinite(yy) ? Filtered(src, m, x, yy) : 0;
    }
}

using SpanFn = void (*)(const WarpState &s, const SamplerMemory &m, const ScanCache &cache,
                        const Vec2 *pts, int n, Pixel *out);

void NearestSpanFn(const WarpState &s, const SamplerMemory &, const ScanCache &cache,
                   const Vec2 *pts, int n, Pixel *out) {
    NearestSpan(s, cache, pts, n, out);
}

// Output row y from the band that holds it, sampling the next band first
// when none does. Each pixel is computed exactly as row by row; only the
// order in which pixels are visited changes.
void RowFromBand(WarpStorage &st, int32_t y, Pixel *out, SpanFn span) {
    WarpState &s = *st.state;
    SamplerMemory &m = *st.memory;
    const int n = s.dstWidth;
    const size_t width = static_cast<size_t>(n);
    if (m.bandRows <= 0 || y < m.bandFirst || y - m.bandFirst >= m.bandRows) {
        const int rows = static_cast<int>(std::min<int64_t>(kBandRows, int64_t{s.dstHeight} - y));
        m.bandFirst = y;
        m.bandRows = std::max(rows, 1);
        for (int r = 0; r < m.bandRows; ++r) {
            Vec2 *pts = st.points + r * width;
            RowPoints(s, pts, y + r, n);
            s.map(s, pts, pts, n, false);
        }
        const ScanCache &cache = *(*st.caches)[0];
        for (int x0 = 0; x0 < n; x0 += kStripColumns) {
            const int count = std::min(kStripColumns, n - x0);
            for (int r = 0; r < m.bandRows; ++r)
                span(s, m, cache, st.points + r * width + x0, count, st.band + r * width + x0);
        }
    }
    const Pixel *row = st.band + static_cast<size_t>(y - m.bandFirst) * width;
    std::copy(row, row + n, out);
}

}  // namespace

void SampleNearest(WarpStorage &st, int, int32_t y, Pixel *out) {
    RowFromBand(st, y, out, NearestSpanFn);
}

// One footprint for the call: bilinear, or the kernel bank's filtered window.
void SampleAffine(WarpStorage &st, int first, int32_t y, Pixel *out) {
    if (first) PrepareAffine(st);
    RowFromBand(st, y, out, AffineSpan);
}

}  // namespace kve
