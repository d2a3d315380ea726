// The fast rows of Resize and ZoomPan per instruction set, and their place in
// the library's CPU-level tables. The AVX2 rows hold a pixel's four channels in one
// register of doubles; they multiply and add in the same order as the
// baseline rows (no fused multiply-add), so every set gives the same words.
#include <algorithm>

#include "effects/warp/resize.h"
#include "effects/warp/resize_internal.h"
#include "engine/cpu.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kve {

namespace {

constexpr ResizeRows kBaselineRows = {ExpandChannels, ApplyClistFast, ApplyClistDownFast,
                                      LinearResampleFast, LinearDownFast};

#if defined(__x86_64__)
KVE_TARGET_AVX2_BEGIN

inline __m256d Load4(Pixel p) {
    return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int32_t>(p))));
}

// As TruncChannel then PackPixel: pinned to +-1e9 (NaN to -1e9), truncated,
// clamped to 0..255 by the saturating packs.
inline Pixel Store4(__m256d v) {
    v = _mm256_min_pd(_mm256_max_pd(v, _mm256_set1_pd(-1e9)), _mm256_set1_pd(1e9));
    __m128i i = _mm256_cvttpd_epi32(v);
    i = _mm_packs_epi32(i, i);
    i = _mm_packus_epi16(i, i);
    return static_cast<Pixel>(_mm_cvtsi128_si32(i));
}

void ExpandChannelsAvx2(const Pixel *src, int32_t len, double *channels) {
    _mm256_storeu_pd(channels - 4, _mm256_setzero_pd());
    for (int32_t i = 0; i < len; ++i)
        _mm256_storeu_pd(channels + 4 * static_cast<ptrdiff_t>(i), Load4(src[i]));
    _mm256_storeu_pd(channels + 4 * static_cast<ptrdiff_t>(len), _mm256_setzero_pd());
    _mm256_storeu_pd(channels + 4 * static_cast<ptrdiff_t>(len) + 4, _mm256_setzero_pd());
}

void ApplyClistAvx2(const ClistSet &set, const double *channels, Pixel *dst, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        const Clist &list = set.lists[i];
        const ClistTap *tap = set.taps.get() + list.first;
        __m256d sum = _mm256_setzero_pd();
        for (int32_t k = 0; k < list.count; ++k, ++tap) {
            const __m256d c = _mm256_loadu_pd(channels + 4 * static_cast<ptrdiff_t>(tap->index));
            sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_set1_pd(tap->weight), c));
        }
        dst[i] = Store4(sum);
    }
}

void ApplyClistDownAvx2(const Clist &list, const ClistTap *taps, const Pixel *const *rows,
                        int32_t firstRow, int32_t width, Pixel *dst) {
    taps += list.first;
    // A run of pixels at a time, tap by tap: each pixel still sums its taps
    // in ascending order.
    alignas(32) double sums[kDownRun * 4];
    for (int32_t x0 = 0; x0 < width; x0 += kDownRun) {
        const int32_t n = std::min(kDownRun, width - x0);
        if (list.count == 0) {
            std::fill(dst + x0, dst + x0 + n, Pixel{0});
            continue;
        }
        // The first tap sets the sums (0 + w p is w p).
        const Pixel *row = TapRow(taps[0], rows, firstRow) + x0;
        __m256d w = _mm256_set1_pd(taps[0].weight);
        for (int32_t k = 0; k < n; ++k)
            _mm256_store_pd(sums + 4 * k,
                            _mm256_add_pd(_mm256_setzero_pd(), _mm256_mul_pd(w, Load4(row[k]))));
        for (int32_t t = 1; t < list.count; ++t) {
            row = TapRow(taps[t], rows, firstRow) + x0;
            w = _mm256_set1_pd(taps[t].weight);
            for (int32_t k = 0; k < n; ++k) {
                double *sum = sums + 4 * k;
                _mm256_store_pd(
                    sum, _mm256_add_pd(_mm256_load_pd(sum), _mm256_mul_pd(w, Load4(row[k]))));
            }
        }
        for (int32_t k = 0; k < n; ++k)
            dst[x0 + k] = Store4(_mm256_load_pd(sums + 4 * k));
    }
}

void LinearResampleAvx2(const LinearPlan &plan, const double *channels, Pixel *dst) {
    const __m256d scale = _mm256_set1_pd(plan.scale);
    for (int32_t k = 0; k < plan.n; ++k) {
        const LinearOutput &o = plan.outputs[k];
        if (o.zero) {
            dst[k] = 0;
            continue;
        }
        __m256d sum = _mm256_setzero_pd();
        const LinearTerm *term = plan.terms.get() + o.first;
        for (int32_t i = 0; i < o.count; ++i, ++term) {
            const double *A = channels + 4 * static_cast<ptrdiff_t>(term->c);
            const __m256d w = _mm256_set1_pd(term->weight);
            if (term->rest == 0) {
                sum = _mm256_add_pd(sum, _mm256_mul_pd(w, _mm256_loadu_pd(A)));
                continue;
            }
            const __m256d val =
                _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(term->l), _mm256_loadu_pd(A)),
                              _mm256_mul_pd(_mm256_set1_pd(term->rest), _mm256_loadu_pd(A + 4)));
            sum = _mm256_add_pd(sum, _mm256_mul_pd(w, val));
        }
        dst[k] = Store4(_mm256_mul_pd(sum, scale));
    }
}

void LinearDownAvx2(const LinearPlan &plan, int32_t y, const Pixel *const *rows, int32_t firstRow,
                    int32_t rowCount, const Pixel *zeroRow, int32_t width, Pixel *dst) {
    const LinearOutput &o = plan.outputs[y];
    if (o.zero) {
        std::fill(dst, dst + width, Pixel{0});
        return;
    }
    const LinearTerm *terms = plan.terms.get() + o.first;
    const __m256d scale = _mm256_set1_pd(plan.scale);
    alignas(32) double sums[kDownRun * 4];
    for (int32_t x0 = 0; x0 < width; x0 += kDownRun) {
        const int32_t n = std::min(kDownRun, width - x0);
        for (int32_t k = 0; k < n; ++k)
            _mm256_store_pd(sums + 4 * k, _mm256_setzero_pd());
        for (int32_t i = 0; i < o.count; ++i) {
            const LinearTerm &term = terms[i];
            const Pixel *A = RowOf(term.c, rows, firstRow, rowCount, zeroRow) + x0;
            const __m256d w = _mm256_set1_pd(term.weight);
            if (term.rest == 0) {
                for (int32_t k = 0; k < n; ++k) {
                    double *sum = sums + 4 * k;
                    _mm256_store_pd(
                        sum, _mm256_add_pd(_mm256_load_pd(sum), _mm256_mul_pd(w, Load4(A[k]))));
                }
                continue;
            }
            const Pixel *B = RowOf(term.c + 1, rows, firstRow, rowCount, zeroRow) + x0;
            const __m256d l = _mm256_set1_pd(term.l), rest = _mm256_set1_pd(term.rest);
            for (int32_t k = 0; k < n; ++k) {
                const __m256d val =
                    _mm256_add_pd(_mm256_mul_pd(l, Load4(A[k])), _mm256_mul_pd(rest, Load4(B[k])));
                double *sum = sums + 4 * k;
                _mm256_store_pd(sum, _mm256_add_pd(_mm256_load_pd(sum), _mm256_mul_pd(w, val)));
            }
        }
        for (int32_t k = 0; k < n; ++k)
            dst[x0 + k] = Store4(_mm256_mul_pd(_mm256_load_pd(sums + 4 * k), scale));
    }
}

KVE_TARGET_END

constexpr ResizeRows kAvx2Rows = {ExpandChannelsAvx2, ApplyClistAvx2, ApplyClistDownAvx2,
                                  LinearResampleAvx2, LinearDownAvx2};

#endif

// Scalar and SSE2 levels run the baseline rows; AVX2 and AVX-512 the AVX2 rows.
#if defined(__x86_64__)
constexpr CpuRows<const ResizeRows *> kResizeRows = {
    {&kBaselineRows, &kBaselineRows, &kAvx2Rows, &kAvx2Rows}};
#else
constexpr CpuRows<const ResizeRows *> kResizeRows = {
    {&kBaselineRows, &kBaselineRows, &kBaselineRows, &kBaselineRows}};
#endif

}  // namespace

const ResizeRows &ResizeRowsAt(CpuLevel level) {
    return *kResizeRows.For(level);
}

const ResizeRows &ResizeRowsBest() {
    return *kResizeRows.Pick();
}

}  // namespace kve
