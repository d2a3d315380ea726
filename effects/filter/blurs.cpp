// Separable blurs, shaped by the kernels of the resampling filter table.
//
//   BlurFilter        a symmetric kernel, with its own radius across and down
//   BlurMotionFilter  a one-sided kernel along a direction: the frame is
//                     smeared across by length cos(angle) and down by
//                     length sin(angle)
//
// Radii and lengths are in half frame widths on both axes and are capped at
// 255 pixels. Pixels beyond a line are the line's end pixel (edge mode 1),
// its reflection without repeating the end (mode 2), or a 0 word (any other
// mode). Each pass runs under the blur driver: rows of the input into a
// scratch frame, stored by rows, then its columns filtered straight into the
// output rows, one output row per call of the last pass, across whole rows so
// memory is read and written in order. The calls of the middle pass only set
// up the column filter: a second scratch frame and a copy of it into the output
// would give the same words. An output that is the input frame is written
// only in the last pass, after the first has read all of it. The lines and
// the column pass the passes run are in blur_rows.cpp.
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "effects/filter/filter_ops.h"
#include "effects/warp/filters.h"
#include "engine/diag.h"
#include "engine/drivers.h"
#include "engine/monitor.h"
#include "engine/scanner.h"
#include "engine/scratch.h"
#include "interface/pixel.h"

namespace kve {

namespace {

struct BlurState {
    int32_t pass;  // the pass of the current call, kept from its first call
    BlurLine line;
    int32_t sumsRow;  // column pass: the row whose box sums the work holds, or -1
};

BlurState &StateOf(const ArgBlock &in) {
    ScratchPlan plan(JobScratch(in));
    return *plan.Take<BlurState>(1);
}

// The driver's storage, found by the line op through the argument block.
enum DriverSlot { kFrameA = 0, kWork = 1 };

// An extent in pixels capped to +-255; NaN counts as 0.
double CapExtent(double e) {
    if (std::isnan(e)) return 0.0;
    return std::clamp(e, -double{kMaxBlurExtent}, double{kMaxBlurExtent});
}

}  // namespace

// The position read for position j of a line of n by the edge mode, or -1
// for a 0 word. Reflection folds as often as it takes (period 2n - 2), so
// windows longer than the line stay inside it; a single fold reads j = -1 as
// 1 and j = n as n - 2.
int64_t BlurEdgeIndex(int64_t n, int64_t j, int32_t edge) {
    if (j >= 0 && j < n) return j;
    if (edge == 1) return j < 0 ? 0 : n - 1;
    if (edge == 2) {
        if (n == 1) return 0;
        const int64_t period = 2 * n - 2;
        int64_t m = j % period;
        if (m < 0) m += period;
        return m < n ? m : period - m;
    }
    return -1;
}

Pixel BlurEdgePixel(const Pixel *src, size_t stride, int64_t n, int64_t j, int32_t edge) {
    const int64_t k = BlurEdgeIndex(n, j, edge);
    return k < 0 ? 0 : src[static_cast<size_t>(k) * stride];
}

Pixel RoundedSumPixel(const double *sum) {
    return PackPixel(RoundHalfAway(sum[0]), RoundHalfAway(sum[1]), RoundHalfAway(sum[2]),
                     RoundHalfAway(sum[3]));
}

// ---- kernels and lines ---------------------------------------------------------------------

// Taps at 0, s/x, 2 s/x ... (the step accumulated in doubles) for an extent
// of x pixels, divided by their sum: each tap counted twice but the centre in
// a symmetric kernel, once in a one-sided one. Under one pixel, one tap of 1.
void BuildBlurLine(BlurLine &line, int filterIndex, double extent, bool symmetric, int32_t edge) {
    const FilterRow *filter = FilterAt(filterIndex);
    const double x = std::fabs(CapExtent(extent));
    double k[kMaxBlurExtent + 1];
    int32_t n = 1;
    k[0] = 1.0;
    if (filter && x >= 1) {
        n = static_cast<int32_t>(x) + 1;
        const double step = filter->support / x;
        double t = 0.0;
        for (int32_t i = 0; i < n; ++i) {
            k[i] = filter->kernel(t);
            t += step;
        }
        double sum;
        if (symmetric) {
            double rest = 0.0;
            for (int32_t i = 1; i < n; ++i)
                rest += k[i];
            sum = k[0] + 2 * rest;
        } else {
            sum = 0.0;
            for (int32_t i = 0; i < n; ++i)
                sum += k[i];
        }
        for (int32_t i = 0; i < n; ++i)
            k[i] /= sum;
    }
    const int32_t r = n - 1;
    line.edge = edge;
    line.weight.fill(0.0);
    if (symmetric) {
        line.lo = -r;
        line.hi = r;
        for (int32_t o = -r; o <= r; ++o)
            line.weight[o + r] = k[std::abs(o)];
    } else if (extent >= 0) {
        line.lo = 0;
        line.hi = r;
        for (int32_t o = 0; o <= r; ++o)
            line.weight[o] = k[o];
    } else {
        line.lo = -r;
        line.hi = 0;
        for (int32_t o = -r; o <= 0; ++o)
            line.weight[o + r] = k[-o];
    }
    // A box of radius m: taps 0..m equal and any beyond them exactly 0 (the
    // accumulated step may pass the box's edge on the last tap).
    int32_t m = r;
    while (m > 0 && k[m] == 0.0)
        --m;
    bool equal = true;
    for (int32_t i = 1; i <= m; ++i)
        equal = equal && k[i] == k[0];
    line.boxRadius = symmetric && equal ? m : 0;
}

size_t BlurWorkDoubles(int32_t n) {
    return (static_cast<size_t>(std::max(n, 0)) + 2 * kMaxBlurExtent) * 4;
}

Pixel BlurPointReference(const BlurLine &line, const Pixel *src, size_t srcStride, int32_t n,
                         int32_t i) {
    double sum[4] = {0.0, 0.0, 0.0, 0.0};
    for (int32_t o = line.lo; o <= line.hi; ++o) {
        const double w = line.weight[o - line.lo];
        const Pixel p = BlurEdgePixel(src, srcStride, n, int64_t{i} + o, line.edge);
        sum[0] += w * AlphaOf(p);
        sum[1] += w * RedOf(p);
        sum[2] += w * GreenOf(p);
        sum[3] += w * BlueOf(p);
    }
    return RoundedSumPixel(sum);
}

void BlurLineReference(const BlurLine &line, const Pixel *src, size_t srcStride, int32_t n,
                       Pixel *dst, size_t dstStride) {
    for (int32_t i = 0; i < n; ++i)
        dst[static_cast<size_t>(i) * dstStride] = BlurPointReference(line, src, srcStride, n, i);
}

// ---- the driver ---------------------------------------------------------------------------

// Progress runs over W + 2H calls: H rows, W columns, H rows again.
void BlurDriver(LineOp lineOp, const ImageList &images, ArgBlock &in, const OutputList &outputs,
                ArgBlock &out) {
    const int32_t width = in.imageWidth[0], height = in.imageHeight[0];
    if (width <= 0 || height <= 0 || !images[0] || !outputs[0]) return;
    const uint64_t words = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    const bool fits = words <= std::numeric_limits<size_t>::max() / sizeof(Pixel);
    std::unique_ptr<Pixel[]> frame, zeros;
    std::unique_ptr<double[]> line;
    std::unique_ptr<int32_t[]> sums;
    if (fits) {
        frame.reset(new (std::nothrow) Pixel[words]);
        line.reset(new (std::nothrow) double[std::max(BlurWorkDoubles(std::max(width, height)),
                                                      BlurColumnsLineDoubles())]);
        sums.reset(new (std::nothrow) int32_t[static_cast<size_t>(width) * 4]);
        zeros.reset(new (std::nothrow) Pixel[static_cast<size_t>(width)]);
    }
    if (!frame || !line || !sums || !zeros) {
        Diag_Message("<Blur> temp buffer allocation failure");
        return;
    }
    BlurWork work{line.get(), sums.get(), zeros.get()};
    in.driverSlots[kFrameA] = frame.get();
    in.driverSlots[kWork] = &work;

    const int64_t total64 = int64_t{width} + 2 * int64_t{height};
    const auto total = static_cast<int32_t>(std::min<int64_t>(total64, INT32_MAX));
    int64_t counter = 0;
    auto report = [&] {
        const auto current = static_cast<int32_t>(std::min<int64_t>(counter, total));
        ++counter;
        return ReportRow(in, total, current);
    };
    std::array<Pixel *, kMaxImages> noRows{};
    bool going = true;
    for (int32_t i = 0; going && i < height; ++i) {
        lineOp(i == 0 ? 1 : 0, 0, i, 1, images.data(), noRows.data(), in, out);
        going = report();
    }
    for (int32_t i = 0; going && i < out.imageWidth[0]; ++i) {
        lineOp(i == 0 ? 2 : 0, 0, i, 1, images.data(), noRows.data(), in, out);
        going = report();
    }
    std::array<Pixel *, kMaxImages> outLines{};
    for (int32_t i = 0; going && i < out.imageHeight[0]; ++i) {
        for (int k = 0; k < kMaxImages && outputs[k]; ++k)
            outLines[k] = RowPtr(outputs[k], i, out.imageWidth[k]);
        lineOp(i == 0 ? 3 : 0, 0, i, 1, images.data(), outLines.data(), in, out);
        going = report();
    }
    in.driverSlots = {};
}

// ---- the line ops --------------------------------------------------------------------------

namespace {

struct Extents {
    double across, down;
};

// One call of either blur: a filter index outside the table refuses every
// call, so nothing is read and no pass writes anything.
void BlurCall(int first, int32_t i, const Pixel *const *images, Pixel *const *outLines,
              const ArgBlock &in, bool symmetric, const char *refusal,
              Extents (*extents)(const ArgBlock &)) {
    const int filterIndex = in.ints[1];
    if (!FilterAt(filterIndex)) {
        Diag_Message(refusal);
        return;
    }
    BlurState &s = StateOf(in);
    if (first) s.pass = first;
    const int32_t width = in.imageWidth[0], height = in.imageHeight[0];
    auto *a = static_cast<Pixel *>(in.driverSlots[kFrameA]);
    const BlurWork &work = *static_cast<const BlurWork *>(in.driverSlots[kWork]);
    const int32_t edge = in.ints[0];
    switch (s.pass) {
        case 1:
            if (first) BuildBlurLine(s.line, filterIndex, extents(in).across, symmetric, edge);
            if (i >= height) return;
            FilterRowSets().Pick().blurLine(s.line, RowPtr(images[0], i, width), 1, width,
                                            RowPtr(a, i, width), 1, work.line);
            break;
        case 2:
            if (first) {
                BuildBlurLine(s.line, filterIndex, extents(in).down, symmetric, edge);
                s.sumsRow = -1;
            }
            break;
        case 3:
            if (i >= height) return;
            FilterRowSets().Pick().blurColumns(s.line, a, width, height, i, i + 1, outLines[0],
                                               s.sumsRow, work);
            break;
        default:
            break;
    }
}

// Both radii scale by half the frame width.
Extents BlurFilterExtents(const ArgBlock &in) {
    const double w = in.imageWidth[0];
    return {std::fabs(in.reals[1]) * w * 0.5, std::fabs(in.reals[0]) * w * 0.5};
}

Extents MotionExtents(const ArgBlock &in) {
    const double w = in.imageWidth[0];
    const double length = in.reals[1];
    const double theta = in.reals[0] * 0.017453292519943295;
    return {length * std::cos(theta) * w * 0.5, std::sin(theta) * w * length * 0.5};
}

}  // namespace

size_t BlurScratch(const ArgBlock &, const ArgBlock &) {
    ScratchPlan plan;
    plan.Take<BlurState>(1);
    return plan.Bytes();
}

KVE_LINE_OP(BlurFilterLineOp) {
    BlurCall(first, y, inLines, outLines, in, true, "BlurFilter:  Invalid Filter Type",
             BlurFilterExtents);
}

KVE_LINE_OP(BlurMotionFilterLineOp) {
    BlurCall(first, y, inLines, outLines, in, false, "BlurMotionFilter:  Invalid Filter Type",
             MotionExtents);
}

}  // namespace kve
