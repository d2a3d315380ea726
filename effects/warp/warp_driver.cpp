// The warp driver: every geometric warp runs under it. It hands the line op
// the source frames (as scan caches) instead of input rows, since an output
// row reads whatever source rows its mapping names; the line op sets the warp
// up on the first row and samples one output row per call.
#include "effects/warp/warp_driver.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "effects/warp/samplers.h"
#include "engine/diag.h"
#include "engine/drivers.h"
#include "engine/monitor.h"
#include "engine/scratch.h"

namespace kve {

namespace {

// Whether two pixel ranges share memory (ordered through std::less, which is
// defined across allocations).
bool Overlaps(const Pixel *a, size_t aCount, const Pixel *b, size_t bCount) {
    std::less<const Pixel *> before;
    return before(a, b + bCount) && before(b, a + aCount);
}

size_t FramePixels(int32_t width, int32_t height) {
    return width > 0 && height > 0 ? static_cast<size_t>(width) * static_cast<size_t>(height) : 0;
}

}  // namespace

const Pixel *ScanCache_GetLine(const ScanCache &cache, int64_t row) {
    if (row < 0 || row >= cache.height) {
        Diag_Message("<ScanCache_GetLine>: Illegal row access");
        row = row < 0 ? 0 : cache.height - 1;
    }
    return RowPtr(cache.frame, static_cast<int32_t>(row), cache.width);
}

void WarpDriver(LineOp lineOp, const ImageList &images, ArgBlock &in, const OutputList &outputs,
                ArgBlock &out) {
    const int32_t rows = out.imageHeight[0];
    if (rows <= 0) return;
    const int32_t width = in.imageWidth[0], height = in.imageHeight[0];
    const bool drawable = width > 0 && height > 0 && out.imageWidth[0] > 0;

    // Sources are read in place. A source that is also the output frame is
    // copied first, so the result is the one a separate output would get.
    std::array<ScanCache, kMaxImages> caches{};
    std::array<std::vector<Pixel>, kMaxImages> copies;
    ScanCaches list{};
    const size_t sourcePixels = FramePixels(width, height);
    const size_t outputPixels = FramePixels(out.imageWidth[0], rows);
    for (int k = 0; k < kMaxImages && images[k] && drawable; ++k) {
        const Pixel *frame = images[k];
        if (outputs[0] && Overlaps(frame, sourcePixels, outputs[0], outputPixels)) {
            copies[k].assign(frame, frame + sourcePixels);
            frame = copies[k].data();
        }
        caches[k] = {frame, width, height};
        list[k] = &caches[k];
    }
    in.driverSlots[0] = &list;

    std::array<const Pixel *, kMaxImages> noRows{};
    std::array<Pixel *, kMaxImages> outRows{};
    for (int32_t y = 0; y < rows; ++y) {
        if (drawable) {
            for (int k = 0; k < kMaxImages && outputs[k]; ++k)
                outRows[k] = RowPtr(outputs[k], y, out.imageWidth[k]);
            lineOp(y == 0 ? 1 : 0, 0, y, 1, noRows.data(), outRows.data(), in, out);
        }
        if (!ReportRow(in, rows, y)) break;
    }
    in.driverSlots[0] = nullptr;
}

WarpStorage WarpLayout(ScratchPlan &plan, int32_t dstWidth) {
    const size_t width = dstWidth > 0 ? static_cast<size_t>(dstWidth) : 1;
    WarpStorage st{};
    st.state = plan.Take<WarpState>(1);
    st.points = plan.Take<Vec2>(kBandRows * width);
    st.band = plan.Take<Pixel>(kBandRows * width);
    st.weights = plan.Take<double>(kWeightEntries);
    st.memory = plan.Take<SamplerMemory>(1);
    return st;
}

size_t WarpScratch(const ArgBlock &, const ArgBlock &out) {
    ScratchPlan plan;
    WarpLayout(plan, out.imageWidth[0]);
    return plan.Bytes();
}

void WarpRow(const WarpKindRow &kind, int first, int32_t y, Pixel *outRow, const ArgBlock &in,
             const ArgBlock &out) {
    // A row without its working storage or its sources (a table row missing
    // WarpScratch or WarpDriver) draws nothing rather than fault.
    if (!in.job || !JobScratch(in) || !in.driverSlots[0]) return;
    ScratchPlan plan(JobScratch(in));
    WarpStorage st = WarpLayout(plan, out.imageWidth[0]);
    st.caches = static_cast<const ScanCaches *>(in.driverSlots[0]);
    if (first) WarpSetup(*st.state, kind, in, out, *st.caches);
    switch (st.state->quality) {
        case kQualityBlank:
            SampleBlank(st, first, y, outRow);
            break;
        case kQualityEwa:
            SampleEwa(st, first, y, outRow);
            break;
        case kQualityAffine:
            SampleAffine(st, first, y, outRow);
            break;
        default:
            SampleNearest(st, first, y, outRow);
            break;
    }
}

void WarpSetup(WarpState &s, const WarpKindRow &kind, const ArgBlock &in, const ArgBlock &out,
               const ScanCaches &caches) {
    s = WarpState{};
    s.quality = in.ints[0];
    s.softness = in.reals[0];
    s.tiling = in.ints[1];
    s.srcWidth = in.imageWidth[0];
    s.srcHeight = in.imageHeight[0];
    s.dstWidth = out.imageWidth[0];
    s.dstHeight = out.imageHeight[0];
    s.args = &in;
    s.caches = caches;
    Matrix3_PixelToUnit(s.toUnit, s.dstWidth, s.dstHeight, 1.0);
    Matrix3_UnitToPixel(s.toPixel, s.srcWidth, s.srcHeight, 1.0);
    const bool usable = kind.read(s, in);
    if (kind.matrixRule == WarpMatrixRule::kNotMatrix) {
        s.map = kind.map;
    } else {
        // One matrix from output pixels straight to source pixels.
        const Matrix3 effect = s.params.matrix;
        Matrix3 toUnitEffect;
        Matrix3_Multiply(toUnitEffect, s.toUnit, effect);
        Matrix3_Multiply(s.params.matrix, toUnitEffect, s.toPixel);
        s.map = MapMatrix;
        const bool perspective = (effect.flags & kMatrixPerspective) != 0;
        if (s.quality == kQualityEwa &&
            (kind.matrixRule == WarpMatrixRule::kAlwaysAffine ||
             (kind.matrixRule == WarpMatrixRule::kAffineUnlessPerspective && !perspective)))
            s.quality = kQualityAffine;
    }
    if (!usable) s.quality = kQualityBlank;
}

void FillRowPoints(Vec2 *pts, int32_t y, int n) {
    for (int i = 0; i < n; ++i)
        pts[i] = {static_cast<double>(i), static_cast<double>(y)};
}

void JacobianPrepare(Vec2 *pts, const Vec2 *src, int n) {
    if (pts != src) std::memmove(pts, src, static_cast<size_t>(n) * sizeof(Vec2));
    Vec2 *xs = pts + n, *ys = pts + 2 * static_cast<size_t>(n);
    for (int i = 0; i < n; ++i) {
        xs[i] = {pts[i].x + 0.001, pts[i].y};
        ys[i] = {pts[i].x, pts[i].y + 0.001};
    }
}

void JacobianFinish(Vec2 *pts, int n) {
    Vec2 *xs = pts + n, *ys = pts + 2 * static_cast<size_t>(n);
    for (int i = 0; i < n; ++i) {
        const Vec2 p0 = pts[i], p1 = xs[i], p2 = ys[i];
        xs[i] = {(p1.x - p0.x) * 1000, (p2.x - p0.x) * 1000};
        ys[i] = {(p1.y - p0.y) * 1000, (p2.y - p0.y) * 1000};
    }
}

void JacobianIdentity(Vec2 *pts, int n) {
    Vec2 *xs = pts + n, *ys = pts + 2 * static_cast<size_t>(n);
    for (int i = 0; i < n; ++i) {
        xs[i] = {1, 0};
        ys[i] = {0, 1};
    }
}

namespace {

// One row's incremental walk along a matrix mapping: the undivided point,
// its third component and their steps per output column.
struct RowWalk {
    __m128d p, step;
    double w, dw;
};

RowWalk StartRow(const Matrix3 &M, Vec2 first, Vec2 last, int n) {
    const auto &m = M.m;
    const double spacing = n < 2 ? 0.0 : (last.x - first.x) / (n - 1);
    const double x = first.x, y = first.y;
    return {_mm_set_pd(x * m[1] + y * m[4] + m[7], x * m[0] + y * m[3] + m[6]),
            _mm_set_pd(m[1] * spacing, m[0] * spacing), x * m[2] + y * m[5] + m[8], m[2] * spacing};
}

// Walks `count` rows side by side: each row's additions form one chain, and
// a chain waits for its previous sum, so several chains keep the adder busy
// where one would leave it idle. Each row's operations stay as they were.
template <int count, bool perspective>
void WalkRows(Vec2 *const *rows, RowWalk *walks, int n) {
    for (int i = 0; i < n; ++i) {
        for (int k = 0; k < count; ++k) {
            RowWalk &r = walks[k];
            __m128d p = r.p;
            if (perspective && r.w != 0) p = _mm_div_pd(p, _mm_set1_pd(r.w));
            _mm_storeu_pd(&rows[k][i].x, p);
            r.p = _mm_add_pd(r.p, r.step);
            if (perspective) r.w += r.dw;
        }
    }
}

template <int count>
void WalkRows(Vec2 *const *rows, RowWalk *walks, int n, bool perspective) {
    if (perspective)
        WalkRows<count, true>(rows, walks, n);
    else
        WalkRows<count, false>(rows, walks, n);
}

}  // namespace

void MapRowPairs(Vec2 *dst, const Matrix3 &M, const Vec2 *src, int n) {
    if (n <= 0) return;
    RowWalk walk = StartRow(M, src[0], src[n - 1], n);
    WalkRows<1>(&dst, &walk, n, (M.flags & kMatrixPerspective) != 0);
}

void MapMatrixRows(Vec2 *pts, size_t stride, const Matrix3 &M, int32_t y, int rows, int n) {
    if (n <= 0) return;
    const bool perspective = (M.flags & kMatrixPerspective) != 0;
    constexpr int kSideBySide = 4;
    int r = 0;
    for (; r < rows; r += kSideBySide) {
        const int count = std::min(kSideBySide, rows - r);
        Vec2 *lines[kSideBySide];
        RowWalk walks[kSideBySide];
        for (int k = 0; k < count; ++k) {
            lines[k] = pts + static_cast<size_t>(r + k) * stride;
            const double row = static_cast<double>(y + r + k);
            walks[k] = StartRow(M, {0, row}, {static_cast<double>(n - 1), row}, n);
        }
        if (count == kSideBySide)
            WalkRows<kSideBySide>(lines, walks, n, perspective);
        else
            for (int k = 0; k < count; ++k)
                WalkRows<1>(lines + k, walks + k, n, perspective);
    }
}

void MapMatrix(WarpState &state, Vec2 *pts, const Vec2 *src, int n, bool withJacobian) {
    const Matrix3 &M = state.params.matrix;
    if (!withJacobian) {
        MapRowPairs(pts, M, src, n);
        return;
    }
    JacobianPrepare(pts, src, n);
    // Three passes of n rather than one of 3n, so any row width fits an int.
    for (int part = 0; part < 3; ++part) {
        Vec2 *p = pts + static_cast<size_t>(part) * static_cast<size_t>(n);
        Matrix3_MapPoints(p, M, p, n);
    }
    JacobianFinish(pts, n);
}

int32_t WrapIndex(int64_t a, int32_t n, int32_t mode) {
    if (n <= 0) return 0;
    if (a >= 0 && a < n) return static_cast<int32_t>(a);
    // a = copies * n + r with 0 <= r < n; copies counts the frame sizes crossed.
    int64_t copies = a / n, r = a % n;
    if (r < 0) {
        r += n;
        --copies;
    }
    const bool odd = (copies & 1) != 0;
    return static_cast<int32_t>(odd && mode == 1 ? n - 1 - r : r);
}

}  // namespace kve
