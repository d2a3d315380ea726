// The area-weighted linear resampling of Resize and ZoomPan (quality 1).
//
// One axis at a time, output pixel k covers the source span that starts at
// its position and is one output pixel long. The walk through the source
// adds each source pixel's share of the span, the value at a source position
// being the linear blend of its two neighbours; the sum times the output
// pixels per source pixel, truncated, is the output. Magnification therefore
// interpolates, reduction averages. The walk depends only on the geometry,
// so it is recorded once per axis as a plan of terms and replayed on every
// line. Plans that only add whole pixels and halve, or blend two neighbours
// with power-of-two weights, are exact in integers and run that way.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "effects/warp/resize.h"
#include "effects/warp/resize_internal.h"
#include "interface/pixel.h"

namespace kve {

// ---- Linear --------------------------------------------------------------------

namespace {

// A plan whose every term takes one source pixel inside the line with weight
// 1, and whose scale is 2^-k, sums whole channel values exactly and scales
// them exactly: its outputs are the integer sums shifted right by k. Returns
// k, or -1 for any other plan (or sums that could pass 16 bits).
int32_t BoxShift(const LinearPlan &plan) {
    int exponent = 0;
    const double mantissa = std::frexp(plan.scale, &exponent);
    if (mantissa != 0.5 || exponent > 1 || exponent < -6) return -1;
    for (int32_t k = 0; k < plan.n; ++k) {
        const LinearOutput &o = plan.outputs[k];
        if (o.count > 128) return -1;
        for (int32_t i = 0; i < o.count; ++i) {
            const LinearTerm &t = plan.terms[o.first + i];
            if (t.rest != 0 || t.weight != 1.0 || t.c < 0 || t.c >= plan.len) return -1;
        }
    }
    return 1 - exponent;
}

// Whether v is a power of two (no more than a shift of the exponent away
// from 1 in either direction that the lerp rows use).
bool PowerOfTwo(double v) {
    int exponent = 0;
    return std::frexp(v, &exponent) == 0.5 && exponent >= -20 && exponent <= 20;
}

// A magnifying plan at a power-of-two scale gives each output one term of
// weight 1 / scale: its value l src[c] + rest src[c + 1] comes back
// unscaled. When every l is a multiple of 2^-m (m <= 8), that value and
// every product on the way are exact, so the output is the integer
// (L src[c] + (2^m - L) src[c + 1]) >> m with L = l 2^m. Returns m, or -1.
int32_t LerpShift(const LinearPlan &plan) {
    if (!PowerOfTwo(plan.scale)) return -1;
    int32_t m = 0;
    for (int32_t k = 0; k < plan.n; ++k) {
        const LinearOutput &o = plan.outputs[k];
        if (o.zero) continue;
        if (o.count != 1) return -1;
        const LinearTerm &t = plan.terms[o.first];
        if (!PowerOfTwo(t.weight) || t.weight * plan.scale != 1.0) return -1;
        while (m <= 8 && std::ldexp(t.l, m) != std::trunc(std::ldexp(t.l, m)))
            ++m;
        if (m > 8) return -1;
    }
    return m;
}

// Each output's source pixel and weight L in two flat arrays (L = -1 for an
// output of 0), so the rows run without looking through the terms; without
// memory for them the plan simply runs as doubles.
void LerpTable(LinearPlan &plan) {
    plan.lerpPixel = TryAllocate<int32_t>(uint64_t(plan.n));
    plan.lerpL = TryAllocate<int16_t>(uint64_t(plan.n));
    if (!plan.lerpPixel || !plan.lerpL) {
        plan.lerpShift = -1;
        return;
    }
    const double unit = static_cast<double>(1 << plan.lerpShift);
    for (int32_t k = 0; k < plan.n; ++k) {
        const LinearOutput &o = plan.outputs[k];
        plan.lerpPixel[k] = o.count ? plan.terms[o.first].c : 0;
        plan.lerpL[k] =
            o.zero || o.count == 0 ? -1 : static_cast<int16_t>(plan.terms[o.first].l * unit);
    }
}

// The first source pixel when every output sums the pair that follows the
// previous output's pair (a halving), else -1.
int32_t PairStart(const LinearPlan &plan) {
    int64_t next = -1;
    for (int32_t k = 0; k < plan.n; ++k) {
        const LinearOutput &o = plan.outputs[k];
        if (o.zero || o.count != 2) return -1;
        const LinearTerm *t = plan.terms.get() + o.first;
        if (t[1].c != t[0].c + 1 || (next >= 0 && t[0].c != next)) return -1;
        next = int64_t{t[1].c} + 1;
    }
    return plan.n > 0 ? plan.terms[plan.outputs[0].first].c : -1;
}

}  // namespace

bool LinearPlanMake(LinearPlan &plan, int32_t n, int32_t len, double a, double b, double step) {
    plan = LinearPlan{};
    if (n <= 0) return true;
    plan.outputs = TryAllocate<LinearOutput>(static_cast<uint64_t>(n));
    // Terms that add to the sum visit each source position once; each output
    // adds one more.
    plan.terms = TryAllocate<LinearTerm>(uint64_t(n) + uint64_t(len > 0 ? len : 0) + 2);
    if (!plan.outputs || !plan.terms) {
        plan = LinearPlan{};
        return false;
    }
    plan.n = n;
    plan.len = len;
    const bool mirrored = Mirrored(n, a, b, step);
    double start = a, s = 0;
    if (n > 1 && b != a) {
        if (mirrored) start = b;
        s = mirrored ? (n - 1) / (a - b) : (n - 1) / (b - a);
    }
    if (!(s > 0) || !std::isfinite(s)) s = 1.0 / std::fabs(step);
    plan.scale = s;
    const double u = 1.0 / s;

    LinearOutput *outputs = plan.outputs.get();
    LinearTerm *terms = plan.terms.get();
    const double floorStart = std::floor(start);
    int64_t c = static_cast<int64_t>(floorStart);
    double l = 1 - (start - floorStart);
    double v = u;
    int32_t first = 0, t = 0;
    // A term of weight 0 adds +0 to a sum that never goes below +0, and a
    // term with l = 0 takes src[c + 1] alone: record the first not at all and
    // the second as src[c + 1] with l = 1, so the rows read only what counts.
    auto add = [&](int64_t at, double lc, double weight) {
        if (weight == 0) return;
        if (lc == 0)
            terms[t++] = {static_cast<int32_t>(at + 1), 1.0, 0.0, weight};
        else
            terms[t++] = {static_cast<int32_t>(at), lc, 1 - lc, weight};
    };
    auto put = [&](int32_t k, int32_t zero) {
        outputs[mirrored ? n - 1 - k : k] = {first, zero ? 0 : t - first, zero};
    };
    for (int32_t k = 0; k < n;) {
        if (l >= v) {
            // The output's span ends inside this source pixel.
            const bool outside = c < -1 || c >= len;
            if (outside) {
                t = first;  // the sum so far is dropped
            } else {
                add(c, l, v);
            }
            put(k, outside);
            first = t;
            l = l - v;
            v = u;
            ++k;
            continue;
        }
        if (c >= len) {
            // Past the end every remaining output is 0.
            t = first;
            for (; k < n; ++k)
                put(k, 1);
            break;
        }
        if (c >= -1) {
            add(c, l, l);
        } else if (l == 1.0) {
            // Far left of the line the walk only counts whole pixels: take
            // the stretch in one step. v stays below 2^53, so v - K is the
            // same double as K subtractions of 1.
            const int64_t K = std::min<int64_t>(-1 - c, static_cast<int64_t>(std::ceil(v)) - 1);
            if (K > 1) {
                c += K - 1;
                v -= static_cast<double>(K - 1);
            }
        }
        c = c + 1;
        v = v - l;
        l = 1;
    }
    plan.boxShift = BoxShift(plan);
    plan.pairStart = plan.boxShift >= 0 ? PairStart(plan) : -1;
    plan.lerpShift = plan.boxShift >= 0 ? -1 : LerpShift(plan);
    if (plan.lerpShift >= 0) LerpTable(plan);
    return true;
}

namespace {

Pixel LinearPixel(const LinearPlan &plan, const LinearOutput &o, const Pixel *src) {
    if (o.zero) return 0;
    double sum[4] = {0, 0, 0, 0};
    const LinearTerm *term = plan.terms.get() + o.first;
    for (int32_t i = 0; i < o.count; ++i, ++term) {
        const int32_t c = term->c;
        const Pixel A = c >= 0 && c < plan.len ? src[c] : 0;
        const Pixel B = c + 1 >= 0 && c + 1 < plan.len ? src[c + 1] : 0;
        const int32_t a[4] = {AlphaOf(A), RedOf(A), GreenOf(A), BlueOf(A)};
        const int32_t b[4] = {AlphaOf(B), RedOf(B), GreenOf(B), BlueOf(B)};
        for (int ch = 0; ch < 4; ++ch) {
            const double val = term->l * a[ch] + term->rest * b[ch];
            sum[ch] = sum[ch] + term->weight * val;
        }
    }
    return PackPixel(TruncChannel(sum[0] * plan.scale), TruncChannel(sum[1] * plan.scale),
                     TruncChannel(sum[2] * plan.scale), TruncChannel(sum[3] * plan.scale));
}

}  // namespace

void LinearResample(const LinearPlan &plan, const Pixel *src, Pixel *dst) {
    for (int32_t k = 0; k < plan.n; ++k)
        dst[k] = LinearPixel(plan, plan.outputs[k], src);
}

void LinearResampleFast(const LinearPlan &plan, const double *channels, Pixel *dst) {
#if defined(KVE_RESIZE_SSE2)
    const __m128d scale = _mm_set1_pd(plan.scale);
    for (int32_t k = 0; k < plan.n; ++k) {
        const LinearOutput &o = plan.outputs[k];
        if (o.zero) {
            dst[k] = 0;
            continue;
        }
        __m128d ar = _mm_setzero_pd(), gb = _mm_setzero_pd();
        const LinearTerm *term = plan.terms.get() + o.first;
        for (int32_t i = 0; i < o.count; ++i, ++term) {
            const double *A = channels + 4 * static_cast<ptrdiff_t>(term->c);
            const __m128d l = _mm_set1_pd(term->l), rest = _mm_set1_pd(term->rest),
                          w = _mm_set1_pd(term->weight);
            const __m128d v0 =
                _mm_add_pd(_mm_mul_pd(l, _mm_loadu_pd(A)), _mm_mul_pd(rest, _mm_loadu_pd(A + 4)));
            const __m128d v1 = _mm_add_pd(_mm_mul_pd(l, _mm_loadu_pd(A + 2)),
                                          _mm_mul_pd(rest, _mm_loadu_pd(A + 6)));
            ar = _mm_add_pd(ar, _mm_mul_pd(w, v0));
            gb = _mm_add_pd(gb, _mm_mul_pd(w, v1));
        }
        dst[k] = StorePixel(_mm_mul_pd(ar, scale), _mm_mul_pd(gb, scale));
    }
#else
    for (int32_t k = 0; k < plan.n; ++k) {
        const LinearOutput &o = plan.outputs[k];
        if (o.zero) {
            dst[k] = 0;
            continue;
        }
        double sum[4] = {0, 0, 0, 0};
        const LinearTerm *term = plan.terms.get() + o.first;
        for (int32_t i = 0; i < o.count; ++i, ++term) {
            const double *A = channels + 4 * static_cast<ptrdiff_t>(term->c);
            for (int ch = 0; ch < 4; ++ch)
                sum[ch] = sum[ch] + term->weight * (term->l * A[ch] + term->rest * A[4 + ch]);
        }
        dst[k] = PackPixel(TruncChannel(sum[0] * plan.scale), TruncChannel(sum[1] * plan.scale),
                           TruncChannel(sum[2] * plan.scale), TruncChannel(sum[3] * plan.scale));
    }
#endif
}

void LinearDown(const LinearPlan &plan, int32_t y, const Pixel *const *rows, int32_t firstRow,
                int32_t rowCount, const Pixel *zeroRow, int32_t width, Pixel *dst) {
    const LinearOutput &o = plan.outputs[y];
    if (o.zero) {
        std::fill(dst, dst + width, Pixel{0});
        return;
    }
    const LinearTerm *terms = plan.terms.get() + o.first;
    for (int32_t x = 0; x < width; ++x) {
        double sum[4] = {0, 0, 0, 0};
        for (int32_t i = 0; i < o.count; ++i) {
            const LinearTerm &term = terms[i];
            const Pixel A = RowOf(term.c, rows, firstRow, rowCount, zeroRow)[x];
            const Pixel B = RowOf(term.c + 1, rows, firstRow, rowCount, zeroRow)[x];
            const int32_t a[4] = {AlphaOf(A), RedOf(A), GreenOf(A), BlueOf(A)};
            const int32_t b[4] = {AlphaOf(B), RedOf(B), GreenOf(B), BlueOf(B)};
            for (int ch = 0; ch < 4; ++ch) {
                const double val = term.l * a[ch] + term.rest * b[ch];
                sum[ch] = sum[ch] + term.weight * val;
            }
        }
        dst[x] = PackPixel(TruncChannel(sum[0] * plan.scale), TruncChannel(sum[1] * plan.scale),
                           TruncChannel(sum[2] * plan.scale), TruncChannel(sum[3] * plan.scale));
    }
}

void LinearDownFast(const LinearPlan &plan, int32_t y, const Pixel *const *rows, int32_t firstRow,
                    int32_t rowCount, const Pixel *zeroRow, int32_t width, Pixel *dst) {
#if defined(KVE_RESIZE_SSE2)
    const LinearOutput &o = plan.outputs[y];
    if (o.zero) {
        std::fill(dst, dst + width, Pixel{0});
        return;
    }
    const LinearTerm *terms = plan.terms.get() + o.first;
    const __m128d scale = _mm_set1_pd(plan.scale);
    // A run of pixels at a time, term by term: each pixel still sums its
    // terms in order, and the rows are found once per run.
    alignas(16) double sums[kDownRun * 4];
    for (int32_t x0 = 0; x0 < width; x0 += kDownRun) {
        const int32_t n = std::min(kDownRun, width - x0);
        std::fill(sums, sums + 4 * n, 0.0);
        for (int32_t i = 0; i < o.count; ++i) {
            const LinearTerm &term = terms[i];
            const Pixel *A = RowOf(term.c, rows, firstRow, rowCount, zeroRow) + x0;
            const __m128d w = _mm_set1_pd(term.weight);
            if (term.rest == 0) {
                for (int32_t k = 0; k < n; ++k) {
                    const Channels2 a = LoadPixel(A[k]);
                    double *sum = sums + 4 * k;
                    _mm_store_pd(sum, _mm_add_pd(_mm_load_pd(sum), _mm_mul_pd(w, a.ar)));
                    _mm_store_pd(sum + 2, _mm_add_pd(_mm_load_pd(sum + 2), _mm_mul_pd(w, a.gb)));
                }
                continue;
            }
            const Pixel *B = RowOf(term.c + 1, rows, firstRow, rowCount, zeroRow) + x0;
            const __m128d l = _mm_set1_pd(term.l), rest = _mm_set1_pd(term.rest);
            for (int32_t k = 0; k < n; ++k) {
                const Channels2 a = LoadPixel(A[k]), b = LoadPixel(B[k]);
                const __m128d v0 = _mm_add_pd(_mm_mul_pd(l, a.ar), _mm_mul_pd(rest, b.ar));
                const __m128d v1 = _mm_add_pd(_mm_mul_pd(l, a.gb), _mm_mul_pd(rest, b.gb));
                double *sum = sums + 4 * k;
                _mm_store_pd(sum, _mm_add_pd(_mm_load_pd(sum), _mm_mul_pd(w, v0)));
                _mm_store_pd(sum + 2, _mm_add_pd(_mm_load_pd(sum + 2), _mm_mul_pd(w, v1)));
            }
        }
        for (int32_t k = 0; k < n; ++k)
            dst[x0 + k] = StorePixel(_mm_mul_pd(_mm_load_pd(sums + 4 * k), scale),
                                     _mm_mul_pd(_mm_load_pd(sums + 4 * k + 2), scale));
    }
#else
    LinearDown(plan, y, rows, firstRow, rowCount, zeroRow, width, dst);
#endif
}

// ---- Linear on integers ------------------------------------------------------------

#if defined(KVE_RESIZE_SSE2)

namespace {

// (a + b) >> 1 in every byte: the rounded-up average less the bit it rounded.
__m128i FloorAverage(__m128i a, __m128i b) {
    return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}

}  // namespace

#endif

void LinearBoxAcross(const LinearPlan &plan, const Pixel *src, Pixel *dst) {
    const int32_t shift = plan.boxShift;
#if defined(KVE_RESIZE_SSE2)
    if (plan.pairStart >= 0) {
        // Neighbouring pairs: two outputs from four pixels at a time, four
        // from eight when the pairs are halved.
        const Pixel *p = src + plan.pairStart;
        const __m128i zero = _mm_setzero_si128(), count = _mm_cvtsi32_si128(shift);
        int32_t k = 0;
        if (shift == 1) {
            for (; k + 4 <= plan.n; k += 4, p += 8) {
                const __m128 v0 = _mm_loadu_ps(reinterpret_cast<const float *>(p));
                const __m128 v1 = _mm_loadu_ps(reinterpret_cast<const float *>(p + 4));
                const __m128i even =
                    _mm_castps_si128(_mm_shuffle_ps(v0, v1, _MM_SHUFFLE(2, 0, 2, 0)));
                const __m128i odd =
                    _mm_castps_si128(_mm_shuffle_ps(v0, v1, _MM_SHUFFLE(3, 1, 3, 1)));
                _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + k), FloorAverage(even, odd));
            }
        }
        for (; k + 2 <= plan.n; k += 2, p += 4) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
            const __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
            __m128i sum = _mm_add_epi16(_mm_unpacklo_epi64(lo, hi), _mm_unpackhi_epi64(lo, hi));
            sum = _mm_srl_epi16(sum, count);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + k), _mm_packus_epi16(sum, sum));
        }
        if (k < plan.n) {
            __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p));
            v = _mm_unpacklo_epi8(v, zero);
            __m128i sum = _mm_add_epi16(v, _mm_srli_si128(v, 8));
            sum = _mm_srl_epi16(sum, count);
            dst[k] = static_cast<Pixel>(_mm_cvtsi128_si32(_mm_packus_epi16(sum, sum)));
        }
        return;
    }
#endif
    for (int32_t k = 0; k < plan.n; ++k) {
        const LinearOutput &o = plan.outputs[k];
        if (o.zero) {
            dst[k] = 0;
            continue;
        }
        const LinearTerm *term = plan.terms.get() + o.first;
#if defined(KVE_RESIZE_SSE2)
        const __m128i zero = _mm_setzero_si128();
        __m128i sum = zero;
        for (int32_t i = 0; i < o.count; ++i)
            sum = _mm_add_epi16(
                sum,
                _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int32_t>(src[term[i].c])), zero));
        sum = _mm_srl_epi16(sum, _mm_cvtsi32_si128(shift));
        dst[k] = static_cast<Pixel>(_mm_cvtsi128_si32(_mm_packus_epi16(sum, sum)));
#else
        int32_t sum[4] = {0, 0, 0, 0};
        for (int32_t i = 0; i < o.count; ++i) {
            const Pixel p = src[term[i].c];
            sum[0] += AlphaOf(p), sum[1] += RedOf(p), sum[2] += GreenOf(p), sum[3] += BlueOf(p);
        }
        dst[k] = PackPixel(sum[0] >> shift, sum[1] >> shift, sum[2] >> shift, sum[3] >> shift);
#endif
    }
}

void LinearBoxDown(const LinearPlan &plan, int32_t y, const Pixel *const *rows, int32_t firstRow,
                   int32_t width, Pixel *dst) {
    const LinearOutput &o = plan.outputs[y];
    if (o.zero) {
        std::fill(dst, dst + width, Pixel{0});
        return;
    }
    const LinearTerm *terms = plan.terms.get() + o.first;
    const int32_t shift = plan.boxShift;
    auto row = [&](int32_t i) { return rows[terms[i].c - firstRow]; };
    int32_t x = 0;
#if defined(KVE_RESIZE_SSE2)
    if (o.count == 2 && shift == 1) {
        const Pixel *a = row(0), *b = row(1);
        for (; x + 4 <= width; x += 4)
            _mm_storeu_si128(
                reinterpret_cast<__m128i *>(dst + x),
                FloorAverage(_mm_loadu_si128(reinterpret_cast<const __m128i *>(a + x)),
                             _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + x))));
    }
    const __m128i zero = _mm_setzero_si128(), count = _mm_cvtsi32_si128(shift);
    for (; x + 4 <= width; x += 4) {
        __m128i lo = zero, hi = zero;
        for (int32_t i = 0; i < o.count; ++i) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row(i) + x));
            lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(v, zero));
            hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(v, zero));
        }
        lo = _mm_srl_epi16(lo, count);
        hi = _mm_srl_epi16(hi, count);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + x), _mm_packus_epi16(lo, hi));
    }
#endif
    for (; x < width; ++x) {
        int32_t sum[4] = {0, 0, 0, 0};
        for (int32_t i = 0; i < o.count; ++i) {
            const Pixel p = row(i)[x];
            sum[0] += AlphaOf(p), sum[1] += RedOf(p), sum[2] += GreenOf(p), sum[3] += BlueOf(p);
        }
        dst[x] = PackPixel(sum[0] >> shift, sum[1] >> shift, sum[2] >> shift, sum[3] >> shift);
    }
}

namespace {

// Interpolation weights of a lerp plan's term: L for src[c], 2^m - L for
// src[c + 1].
int32_t LerpWeight(const LinearPlan &plan, const LinearTerm &t) {
    return static_cast<int32_t>(t.l * static_cast<double>(1 << plan.lerpShift));
}

}  // namespace

void LinearLerpAcross(const LinearPlan &plan, const Pixel *src, Pixel *dst) {
    const int32_t m = plan.lerpShift, len = plan.len;
    const int32_t *pixel = plan.lerpPixel.get();
    const int16_t *weight = plan.lerpL.get();
    for (int32_t k = 0; k < plan.n; ++k) {
        const int32_t L = weight[k], c = pixel[k];
        if (L < 0) {
            dst[k] = 0;
            continue;
        }
        const int32_t R = (1 << m) - L;
#if defined(KVE_RESIZE_SSE2)
        __m128i ab;
        if (c >= 0 && c + 1 < len) {
            ab = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(src + c));
        } else {
            const Pixel A = c >= 0 && c < len ? src[c] : 0;
            const Pixel B = c + 1 >= 0 && c + 1 < len ? src[c + 1] : 0;
            ab = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int32_t>(A)),
                                    _mm_cvtsi32_si128(static_cast<int32_t>(B)));
        }
        // Channels of a and b side by side, then multiplied by L and R and
        // added in pairs.
        ab = _mm_unpacklo_epi8(ab, _mm_setzero_si128());
        const __m128i pairs = _mm_unpacklo_epi16(ab, _mm_srli_si128(ab, 8));
        __m128i sum = _mm_madd_epi16(pairs, _mm_set1_epi32(L | R << 16));
        sum = _mm_srl_epi32(sum, _mm_cvtsi32_si128(m));
        sum = _mm_packs_epi32(sum, sum);
        dst[k] = static_cast<Pixel>(_mm_cvtsi128_si32(_mm_packus_epi16(sum, sum)));
#else
        const Pixel A = c >= 0 && c < len ? src[c] : 0;
        const Pixel B = c + 1 >= 0 && c + 1 < len ? src[c + 1] : 0;
        dst[k] =
            PackPixel((L * AlphaOf(A) + R * AlphaOf(B)) >> m, (L * RedOf(A) + R * RedOf(B)) >> m,
                      (L * GreenOf(A) + R * GreenOf(B)) >> m, (L * BlueOf(A) + R * BlueOf(B)) >> m);
#endif
    }
}

void LinearLerpDown(const LinearPlan &plan, int32_t y, const Pixel *const *rows, int32_t firstRow,
                    int32_t rowCount, const Pixel *zeroRow, int32_t width, Pixel *dst) {
    const LinearOutput &o = plan.outputs[y];
    if (o.zero || o.count == 0) {
        std::fill(dst, dst + width, Pixel{0});
        return;
    }
    const LinearTerm &t = plan.terms[o.first];
    const int32_t m = plan.lerpShift, L = LerpWeight(plan, t), R = (1 << m) - L;
    const Pixel *A = RowOf(t.c, rows, firstRow, rowCount, zeroRow);
    const Pixel *B = RowOf(t.c + 1, rows, firstRow, rowCount, zeroRow);
    if (R == 0 && m == 0) {
        std::memcpy(dst, A, static_cast<size_t>(width) * sizeof(Pixel));
        return;
    }
    int32_t x = 0;
#if defined(KVE_RESIZE_SSE2)
    const __m128i zero = _mm_setzero_si128(), count = _mm_cvtsi32_si128(m);
    const __m128i wl = _mm_set1_epi16(static_cast<int16_t>(L)),
                  wr = _mm_set1_epi16(static_cast<int16_t>(R));
    // L a + R b stays below 2^16 (L + R <= 256): unsigned 16-bit lanes.
    for (; x + 4 <= width; x += 4) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(A + x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(B + x));
        __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(a, zero), wl),
                                   _mm_mullo_epi16(_mm_unpacklo_epi8(b, zero), wr));
        __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(a, zero), wl),
                                   _mm_mullo_epi16(_mm_unpackhi_epi8(b, zero), wr));
        lo = _mm_srl_epi16(lo, count);
        hi = _mm_srl_epi16(hi, count);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + x), _mm_packus_epi16(lo, hi));
    }
#endif
    for (; x < width; ++x) {
        const Pixel a = A[x], b = B[x];
        dst[x] =
            PackPixel((L * AlphaOf(a) + R * AlphaOf(b)) >> m, (L * RedOf(a) + R * RedOf(b)) >> m,
                      (L * GreenOf(a) + R * GreenOf(b)) >> m, (L * BlueOf(a) + R * BlueOf(b)) >> m);
    }
}

}  // namespace kve
