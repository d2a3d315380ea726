// The filtered zoom of Resize and ZoomPan: per axis, a contribution list for
// every output pixel names the source pixels that feed it and their weights
// under a kernel of the filter table. Reducing stretches the kernel by the
// reduction (so it filters out what the smaller picture cannot hold) and
// scales its weights down to match; enlarging uses the kernel at its own
// width. Weights are not normalised: at the frame edges the taps that fall
// outside feed nothing, so edges darken toward transparent black.
//
// Each output channel is the sum of weight x channel over the taps in
// ascending source order, in plain doubles, truncated toward zero and
// clamped to 0..255; negative lobes can clip after each pass.
#include <algorithm>
#include <cmath>

#include "effects/warp/filters.h"
#include "effects/warp/resize.h"
#include "effects/warp/resize_internal.h"
#include "engine/diag.h"
#include "interface/pixel.h"

namespace kve {

namespace {

// How one axis maps output positions to source positions.
struct AxisMap {
    double a, span;  // centre of output i: a + span * i / (dstLen - 1)
    double scale;    // output positions per source pixel (magnitude)
    double w;        // kernel half-width in source pixels
    bool reducing;
};

AxisMap MapOf(const FilterRow &filter, int32_t dstLen, double a, double b, double step) {
    AxisMap m{a, b - a, 0, 0, false};
    // A mirrored axis walks backwards with the same spacing; its lists take
    // the step's magnitude. One output pixel (or no spread at all) takes its
    // scale from the zoom.
    double scale = dstLen > 1 && b != a ? dstLen / (b - a) : 0;
    scale = std::fabs(scale);
    if (!(scale > 0) || !std::isfinite(scale)) scale = 1.0 / std::fabs(step);
    m.scale = scale;
    m.reducing = !(scale >= 1);
    m.w = m.reducing ? filter.support / scale : filter.support;
    return m;
}

double CentreOf(const AxisMap &m, int32_t dstLen, int32_t i) {
    return dstLen > 1 ? m.a + m.span * i / (dstLen - 1) : m.a;
}

// The source positions [lo, hi] of output i's taps that lie inside the line.
void TapRange(const AxisMap &m, double centre, int32_t srcLen, int64_t &lo, int64_t &hi) {
    const double last = srcLen - 1.0;
    const double l = std::clamp(std::ceil(centre - m.w), -1.0, last + 1);
    const double h = std::clamp(std::floor(centre + m.w), -1.0, last + 1);
    lo = std::max<int64_t>(static_cast<int64_t>(l), 0);
    hi = std::min<int64_t>(static_cast<int64_t>(h), srcLen - 1);
}

}  // namespace

bool ClistMake(ClistSet &set, int filter, int32_t srcLen, int32_t dstLen, double a, double b,
               double step) {
    set = ClistSet{};
    const FilterRow *row = FilterAt(filter);
    if (!row || dstLen <= 0 || srcLen <= 0) return true;
    const AxisMap m = MapOf(*row, dstLen, a, b, step);

    set.lists = TryAllocate<Clist>(static_cast<uint64_t>(dstLen));
    if (!set.lists) {
        Diag_Message("<O_ZoomPan> Memory allocation error: ClistMake 1");
        return false;
    }
    // Every list holds at most srcLen taps, so the total fits in 64 bits.
    int64_t total = 0;
    for (int32_t i = 0; i < dstLen; ++i) {
        int64_t lo, hi;
        TapRange(m, CentreOf(m, dstLen, i), srcLen, lo, hi);
        const int32_t count = hi >= lo ? static_cast<int32_t>(hi - lo + 1) : 0;
        set.lists[i] = {total, count};
        total += count;
    }
    set.taps = TryAllocate<ClistTap>(static_cast<uint64_t>(total));
    if (!set.taps) {
        Diag_Message(m.reducing ? "Memory allocation error: ClistMake 2"
                                : "<O_ZoomPan>: Memory allocation error: ClistMake 3");
        set = ClistSet{};
        return false;
    }
    set.length = dstLen;
    for (int32_t i = 0; i < dstLen; ++i) {
        const double centre = CentreOf(m, dstLen, i);
        int64_t lo, hi;
        TapRange(m, centre, srcLen, lo, hi);
        ClistTap *tap = set.taps.get() + set.lists[i].first;
        int32_t kept = 0;
        for (int64_t j = lo; j <= hi; ++j) {
            const double d = centre - static_cast<double>(j);
            const double weight = m.reducing ? row->kernel(d * m.scale) * m.scale : row->kernel(d);
            // A zero weight adds a zero to the sum, which a truncated channel
            // cannot tell from no addition: leave it out.
            if (weight != 0) tap[kept++] = {static_cast<int32_t>(j), weight};
        }
        set.lists[i].count = kept;
    }
    return true;
}

void ApplyClist(const ClistSet &set, const Pixel *src, Pixel *dst, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        const Clist &list = set.lists[i];
        const ClistTap *tap = set.taps.get() + list.first;
        double sum[4] = {0, 0, 0, 0};
        for (int32_t k = 0; k < list.count; ++k, ++tap) {
            const Pixel p = src[tap->index];
            sum[0] = sum[0] + tap->weight * AlphaOf(p);
            sum[1] = sum[1] + tap->weight * RedOf(p);
            sum[2] = sum[2] + tap->weight * GreenOf(p);
            sum[3] = sum[3] + tap->weight * BlueOf(p);
        }
        dst[i] = PackPixel(TruncChannel(sum[0]), TruncChannel(sum[1]), TruncChannel(sum[2]),
                           TruncChannel(sum[3]));
    }
}

void ExpandChannels(const Pixel *src, int32_t len, double *channels) {
    std::fill(channels - 4, channels, 0.0);
#if defined(KVE_RESIZE_SSE2)
    for (int32_t i = 0; i < len; ++i) {
        const Channels2 p = LoadPixel(src[i]);
        _mm_storeu_pd(channels + 4 * static_cast<ptrdiff_t>(i), p.ar);
        _mm_storeu_pd(channels + 4 * static_cast<ptrdiff_t>(i) + 2, p.gb);
    }
#else
    for (int32_t i = 0; i < len; ++i) {
        const Pixel p = src[i];
        double *c = channels + 4 * static_cast<ptrdiff_t>(i);
        c[0] = AlphaOf(p);
        c[1] = RedOf(p);
        c[2] = GreenOf(p);
        c[3] = BlueOf(p);
    }
#endif
    std::fill(channels + 4 * static_cast<ptrdiff_t>(len),
              channels + 4 * static_cast<ptrdiff_t>(len) + 8, 0.0);
}

void ApplyClistFast(const ClistSet &set, const double *channels, Pixel *dst, int32_t n) {
#if defined(KVE_RESIZE_SSE2)
    for (int32_t i = 0; i < n; ++i) {
        const Clist &list = set.lists[i];
        const ClistTap *tap = set.taps.get() + list.first;
        __m128d ar = _mm_setzero_pd(), gb = _mm_setzero_pd();
        for (int32_t k = 0; k < list.count; ++k, ++tap) {
            const double *c = channels + 4 * static_cast<ptrdiff_t>(tap->index);
            const __m128d w = _mm_set1_pd(tap->weight);
            ar = _mm_add_pd(ar, _mm_mul_pd(w, _mm_loadu_pd(c)));
            gb = _mm_add_pd(gb, _mm_mul_pd(w, _mm_loadu_pd(c + 2)));
        }
        dst[i] = StorePixel(ar, gb);
    }
#else
    for (int32_t i = 0; i < n; ++i) {
        const Clist &list = set.lists[i];
        const ClistTap *tap = set.taps.get() + list.first;
        double sum[4] = {0, 0, 0, 0};
        for (int32_t k = 0; k < list.count; ++k, ++tap) {
            const double *c = channels + 4 * static_cast<ptrdiff_t>(tap->index);
            for (int ch = 0; ch < 4; ++ch)
                sum[ch] = sum[ch] + tap->weight * c[ch];
        }
        dst[i] = PackPixel(TruncChannel(sum[0]), TruncChannel(sum[1]), TruncChannel(sum[2]),
                           TruncChannel(sum[3]));
    }
#endif
}

void ApplyClistDown(const Clist &list, const ClistTap *taps, const Pixel *const *rows,
                    int32_t firstRow, int32_t width, Pixel *dst) {
    taps += list.first;
    for (int32_t x = 0; x < width; ++x) {
        double sum[4] = {0, 0, 0, 0};
        for (int32_t k = 0; k < list.count; ++k) {
            const Pixel p = TapRow(taps[k], rows, firstRow)[x];
            sum[0] = sum[0] + taps[k].weight * AlphaOf(p);
            sum[1] = sum[1] + taps[k].weight * RedOf(p);
            sum[2] = sum[2] + taps[k].weight * GreenOf(p);
            sum[3] = sum[3] + taps[k].weight * BlueOf(p);
        }
        dst[x] = PackPixel(TruncChannel(sum[0]), TruncChannel(sum[1]), TruncChannel(sum[2]),
                           TruncChannel(sum[3]));
    }
}

void ApplyClistDownFast(const Clist &list, const ClistTap *taps, const Pixel *const *rows,
                        int32_t firstRow, int32_t width, Pixel *dst) {
#if defined(KVE_RESIZE_SSE2)
    taps += list.first;
    // A run of pixels at a time, tap by tap: each pixel still sums its taps
    // in ascending order.
    alignas(16) double sums[kDownRun * 4];
    for (int32_t x0 = 0; x0 < width; x0 += kDownRun) {
        const int32_t n = std::min(kDownRun, width - x0);
        std::fill(sums, sums + 4 * n, 0.0);
        for (int32_t t = 0; t < list.count; ++t) {
            const Pixel *row = TapRow(taps[t], rows, firstRow) + x0;
            const __m128d w = _mm_set1_pd(taps[t].weight);
            for (int32_t k = 0; k < n; ++k) {
                const Channels2 p = LoadPixel(row[k]);
                double *sum = sums + 4 * k;
                _mm_store_pd(sum, _mm_add_pd(_mm_load_pd(sum), _mm_mul_pd(w, p.ar)));
                _mm_store_pd(sum + 2, _mm_add_pd(_mm_load_pd(sum + 2), _mm_mul_pd(w, p.gb)));
            }
        }
        for (int32_t k = 0; k < n; ++k)
            dst[x0 + k] = StorePixel(_mm_load_pd(sums + 4 * k), _mm_load_pd(sums + 4 * k + 2));
    }
#else
    ApplyClistDown(list, taps, rows, firstRow, width, dst);
#endif
}

}  // namespace kve
