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
// The bilinear and nearest rows, one per CPU level, are in sample_rows.cpp.
#include <algorithm>
#include <cmath>

#include "effects/warp/sample_access.h"
#include "engine/diag.h"
#include "interface/pixel.h"

namespace kve {

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

}  // namespace

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

namespace {

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

// The affine sampler over a span: bilinear, or the kernel bank's window.
void AffineSpan(const WarpState &s, const SamplerMemory &m, const ScanCache &cache, const Vec2 *pts,
                int n, Pixel *out) {
    WarpSource src{cache, s.tiling};
    if (m.bilinear) {
        BilinearRow(src, pts, n, out);
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
    NearestRow(cache, s.tiling, pts, n, out);
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
        if (s.map == MapMatrix) {
            MapMatrixRows(st.points, width, s.params.matrix, y, m.bandRows, n);
        } else {
            for (int r = 0; r < m.bandRows; ++r) {
                Vec2 *pts = st.points + r * width;
                FillRowPoints(pts, y + r, n);
                s.map(s, pts, pts, n, false);
            }
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
