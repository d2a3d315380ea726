// Resize and ZoomPan: a frame scaled and moved along its two axes
// independently.
//
//   Resize   draws at the size of its [w h] parameter
//   ZoomPan  draws at the size the host asks for (the input size by default)
//
// Both take zoom x, zoom y, pan x, pan y and a quality q. The zoom matrix
// gives, per axis, the source positions of the first and last output pixel;
// q then picks the resampling:
//   q <= 0  nearest: a column table and one source row per output row
//   q = 1   area-weighted linear: magnification interpolates between
//           neighbours, reduction averages each output pixel's span
//           (linear_resample.cpp)
//   q >= 2  filtered with contribution lists (contributions.cpp)
// The two-pass modes resample every needed source row across into an
// intermediate, then build each output row from the intermediate rows its
// list names, reporting progress after each. A zoom below 0.0001 becomes
// -0.01: the picture reduced 100 times and mirrored; a mirrored axis is
// resampled from its far end and written back to front.
#include "effects/warp/resize.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "effects/warp/matrix.h"
#include "effects/warp/resize_internal.h"
#include "engine/diag.h"
#include "engine/drivers.h"
#include "engine/monitor.h"
#include "interface/pixel.h"

namespace kve {

namespace {

// Positions this far out only ever fall outside any frame; beyond it the
// walks could no longer count whole pixels exactly in double.
constexpr double kMaxPosition = 1125899906842624.0;  // 2^50

constexpr const char *kBufferFailure = "<ZoomPan> temp buffer allocation failure";

// The matrices carry a few ulps of rounding noise (240 * 2 / 352 has no exact
// double), which would put an identity zoom's rows 1e-14 off whole pixels:
// the linear walk would then mix a trace of each next row in, truncate
// channels a step down and lose the last row. A position that close to a
// whole pixel is taken as the whole pixel.
double SnapToWhole(double p) {
    const double whole = std::nearbyint(p);
    return std::fabs(p - whole) < 1e-9 ? whole : p;
}

}  // namespace

// ---- Geometry ------------------------------------------------------------------

void ZoomSetup(ZoomState &z, const ArgBlock &in, const ArgBlock &out) {
    z.dstWidth = out.imageWidth[0];
    z.dstHeight = out.imageHeight[0];
    z.srcWidth = in.imageWidth[0];
    z.srcHeight = in.imageHeight[0];
    // Text order zoom x, zoom y, pan x, pan y: the last real is slot 0.
    double zx = in.reals[3], zy = in.reals[2];
    const double px = in.reals[1], py = in.reals[0];
    if (zx < 0.0001) zx = -0.01;
    if (zy < 0.0001) zy = -0.01;

    // A point is panned first, then scaled, in unit coordinates where a
    // vertical unit is a quarter of the width.
    Matrix3 toUnit, move, toPixel, partial, M;
    Matrix3_PixelToUnit(toUnit, z.dstWidth, z.dstHeight, 2.0);
    Matrix3_Scale(move, 1.0 / zx, 1.0 / zy);
    Matrix3_Translate(move, -px, -py);
    Matrix3_UnitToPixel(toPixel, z.srcWidth, z.srcHeight, 2.0);
    Matrix3_Multiply(partial, toUnit, move);
    Matrix3_Multiply(M, partial, toPixel);

    const Vec2 corners[2] = {{0.0, 0.0}, {z.dstWidth - 1.0, z.dstHeight - 1.0}};
    Vec2 mapped[2];
    Matrix3_MapPoints(mapped, M, corners, 2);
    z.x0 = SnapToWhole(mapped[0].x);
    z.y0 = SnapToWhole(mapped[0].y);
    z.x1 = SnapToWhole(mapped[1].x);
    z.y1 = SnapToWhole(mapped[1].y);
    z.xStep = M.m[0];
    z.yStep = M.m[4];
}

unsigned ZoomPanPrepare(const ImageList &, const CoordTexts &, ArgBlock &, const OutputList &,
                        EffectJob &) {
    return kConvertCoordinates | kConvertColors;
}

namespace {

bool UsablePosition(double v) {
    return std::fabs(v) <= kMaxPosition;  // false for NaN and infinities
}
bool UsableStep(double v) {
    return v != 0 && std::fabs(v) <= kMaxPosition;
}

// Non-finite, vanishing or astronomically far geometry draws a 0 frame.
bool UsableGeometry(const ZoomState &z) {
    return UsablePosition(z.x0) && UsablePosition(z.x1) && UsablePosition(z.y0) &&
           UsablePosition(z.y1) && UsableStep(z.xStep) && UsableStep(z.yStep);
}

}  // namespace

// ---- Nearest -------------------------------------------------------------------

namespace {

// The column walk from position a forward: columns advance by whole pixels as
// the fraction passes 1, and the table ends at the first column past the
// source.
void WalkColumns(int32_t *column, int32_t n, int32_t srcLen, double a, double b, double step,
                 int32_t &first, int32_t &last) {
    first = last = -1;
    if (b < 0 || a >= srcLen) return;
    int64_t e = static_cast<int64_t>(std::trunc(a));
    double f = a - static_cast<double>(e);
    for (int32_t i = 0; i < n; ++i) {
        // Entries outside first..last are never read; keep them in range.
        column[i] = static_cast<int32_t>(std::clamp<int64_t>(e, -1, srcLen));
        if (e >= 0 && first < 0) first = i;
        if (e >= srcLen) break;
        last = i;
        f += step;
        if (f >= 1) {
            const double whole = std::trunc(f);
            e += static_cast<int64_t>(whole);
            f -= whole;
        }
    }
}

}  // namespace

bool ColumnTableMake(ColumnTable &table, int32_t n, int32_t srcLen, double a, double b,
                     double step) {
    table = ColumnTable{};
    if (n <= 0) return true;
    table.column = TryAllocate<int32_t>(static_cast<uint64_t>(n));
    if (!table.column) return false;
    const bool mirrored = Mirrored(n, a, b, step);
    if (n > 1) step = mirrored ? (a - b) / (n - 1) : (b - a) / (n - 1);
    int32_t first, last;
    if (!mirrored) {
        WalkColumns(table.column.get(), n, srcLen, a, b, step, first, last);
    } else {
        // Walked from the far end, then turned round.
        WalkColumns(table.column.get(), n, srcLen, b, a, step, first, last);
        std::reverse(table.column.get(), table.column.get() + n);
        if (first >= 0 && last >= first) {
            const int32_t f = n - 1 - last, l = n - 1 - first;
            first = f;
            last = l;
        }
    }
    // Drift can leave the walk without a first column, or end it on the
    // column where it started: both mean an empty row.
    if (first < 0 || last < first) first = last = -1;
    table.first = first;
    table.last = last;
    for (int32_t stride : {1, 2}) {
        bool even = first >= 0;
        for (int32_t i = first + 1; even && i <= last; ++i)
            even = table.column[i] == table.column[i - 1] + stride;
        if (even) {
            table.stride = stride;
            break;
        }
    }
    return true;
}

void NearestRow(const ColumnTable &table, const Pixel *srcRow, Pixel *dst, int32_t n) {
    if (!srcRow || table.first < 0) {
        std::fill(dst, dst + n, Pixel{0});
        return;
    }
    std::fill(dst, dst + table.first, Pixel{0});
    const int32_t *column = table.column.get();
    int32_t i = table.first;
    if (table.stride == 1) {
        std::memcpy(dst + i, srcRow + column[i],
                    static_cast<size_t>(table.last - i + 1) * sizeof(Pixel));
        i = table.last + 1;
    }
#if defined(KVE_RESIZE_SSE2)
    if (table.stride == 2) {
        // Every other pixel: four outputs from eight neighbouring pixels, the
        // eighth being the one before the next output's (so inside the row).
        const Pixel *p = srcRow + column[i];
        for (; i + 4 <= table.last; i += 4, p += 8) {
            const __m128 lo = _mm_loadu_ps(reinterpret_cast<const float *>(p));
            const __m128 hi = _mm_loadu_ps(reinterpret_cast<const float *>(p + 4));
            _mm_storeu_ps(reinterpret_cast<float *>(dst + i),
                          _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)));
        }
    }
#endif
    for (; i <= table.last; ++i)
        dst[i] = srcRow[column[i]];
    std::fill(dst + table.last + 1, dst + n, Pixel{0});
}

namespace {

// The source row nearest output row r, or -1 outside the source.
int32_t NearestSourceRow(const ZoomState &z, int32_t r) {
    const double p = z.dstHeight > 1 ? z.y0 + (z.y1 - z.y0) * r / (z.dstHeight - 1) : z.y0;
    const double g = std::trunc(p > 0 ? p + 0.5 : p - 0.5);
    return g >= 0 && g < z.srcHeight ? static_cast<int32_t>(g) : -1;
}

}  // namespace

// ---- Driver --------------------------------------------------------------------

namespace {

// The source rows one output row reads, clipped to the source: [first,
// first + count).
struct RowRange {
    int32_t first = 0, count = 0;
};

RowRange RangeOf(int64_t lo, int64_t hi, int32_t len) {
    lo = std::max<int64_t>(lo, 0);
    hi = std::min<int64_t>(hi, int64_t{len} - 1);
    if (hi < lo) return {};
    return {static_cast<int32_t>(lo), static_cast<int32_t>(hi - lo + 1)};
}

RowRange LinearRows(const LinearPlan &plan, int32_t y) {
    const LinearOutput &o = plan.outputs[y];
    int64_t lo = INT64_MAX, hi = INT64_MIN;
    for (int32_t i = 0; i < o.count; ++i) {
        const LinearTerm &t = plan.terms[o.first + i];
        lo = std::min<int64_t>(lo, t.c);
        hi = std::max<int64_t>(hi, int64_t{t.c} + (t.rest != 0 ? 1 : 0));
    }
    return RangeOf(lo, hi, plan.len);
}

RowRange ClistRows(const ClistSet &set, int32_t y, int32_t len) {
    const Clist &list = set.lists[y];
    if (list.count == 0) return {};
    return RangeOf(set.taps[list.first].index, set.taps[list.first + list.count - 1].index, len);
}

// The output pass: row y from `row(y, dst)`, a progress report after each.
template <class RowFn>
void OutputPass(const ArgBlock &in, const ZoomState &z, Pixel *output, RowFn row) {
    for (int32_t y = 0; y < z.dstHeight; ++y) {
        row(y, RowPtr(output, y, z.dstWidth));
        if (!ReportRow(in, z.dstHeight, y)) return;
    }
}

void ZeroFrame(const ArgBlock &in, const ZoomState &z, Pixel *output) {
    OutputPass(in, z, output,
               [&](int32_t, Pixel *dst) { std::fill(dst, dst + z.dstWidth, Pixel{0}); });
}

void NearestMode(const ArgBlock &in, const ZoomState &z, const Pixel *src, Pixel *output) {
    ColumnTable table;
    if (!ColumnTableMake(table, z.dstWidth, z.srcWidth, z.x0, z.x1, z.xStep)) {
        Diag_Message(kBufferFailure);
        return;
    }
    OutputPass(in, z, output, [&](int32_t y, Pixel *dst) {
        const int32_t g = NearestSourceRow(z, y);
        NearestRow(table, g >= 0 ? RowPtr(src, g, z.srcWidth) : nullptr, dst, z.dstWidth);
    });
}

// The across pass's rows, kept only while output rows still read them. Each
// output row reads a run of consecutive source rows, and the runs move one
// way down (or, mirrored, up) the frame, so a ring as long as the longest
// run holds every row until no later output row needs it.
class RowRing {
  public:
    bool Allocate(int32_t length, int32_t width) {
        length_ = std::max(length, 1);
        width_ = width;
        rows_ = TryAllocate<Pixel>(uint64_t(length_) * uint64_t(width));
        held_ = TryAllocate<int32_t>(uint64_t(length_));
        window_ = TryAllocate<const Pixel *>(uint64_t(length_));
        if (!rows_ || !held_ || !window_) return false;
        std::fill(held_.get(), held_.get() + length_, -1);
        return true;
    }

    // Makes source rows [r.first, r.first + r.count) ready, computing the
    // missing ones with make(row, dst), and returns their addresses in order.
    template <class MakeRow>
    const Pixel *const *Window(RowRange r, MakeRow make) {
        for (int32_t k = r.first; k < r.first + r.count; ++k) {
            const int32_t slot = k % length_;
            Pixel *row = rows_.get() + static_cast<size_t>(slot) * static_cast<size_t>(width_);
            if (held_[slot] != k) {
                make(k, row);
                held_[slot] = k;
            }
            window_[k - r.first] = row;
        }
        return window_.get();
    }

  private:
    std::unique_ptr<Pixel[]> rows_;
    std::unique_ptr<int32_t[]> held_;
    std::unique_ptr<const Pixel *[]> window_;
    int32_t length_ = 1, width_ = 0;
};

// The storage both two-pass modes share: the ring of across rows, one source
// row as doubles, and a zero row.
struct TwoPassBuffers {
    RowRing ring;
    std::unique_ptr<Pixel[]> zeroRow;
    std::unique_ptr<double[]> channels;

    bool Allocate(const ZoomState &z, int32_t longestRun) {
        zeroRow = TryAllocate<Pixel>(uint64_t(z.dstWidth));
        channels = TryAllocate<double>((uint64_t(z.srcWidth) + 3) * 4);
        if (!ring.Allocate(longestRun, z.dstWidth) || !zeroRow || !channels) return false;
        std::fill(zeroRow.get(), zeroRow.get() + z.dstWidth, Pixel{0});
        return true;
    }
    // The source line as doubles starts one pixel in, after a zero pixel.
    double *Line() { return channels.get() + 4; }
};

void LinearMode(const ArgBlock &in, const ZoomState &z, const Pixel *src, Pixel *output) {
    LinearPlan xPlan, yPlan;
    if (!LinearPlanMake(xPlan, z.dstWidth, z.srcWidth, z.x0, z.x1, z.xStep) ||
        !LinearPlanMake(yPlan, z.dstHeight, z.srcHeight, z.y0, z.y1, z.yStep)) {
        Diag_Message(kBufferFailure);
        return;
    }
    int32_t longest = 0;
    for (int32_t y = 0; y < z.dstHeight; ++y)
        longest = std::max(longest, LinearRows(yPlan, y).count);
    TwoPassBuffers b;
    if (!b.Allocate(z, longest)) {
        Diag_Message(kBufferFailure);
        return;
    }
    const ResizeRows &rowOps = ResizeRowsBest();
    // Plans that only sum pixels and halve (a halving at zoom 1) run on
    // integers, with the same words.
    auto across = [&](int32_t r, Pixel *dst) {
        if (xPlan.boxShift >= 0) {
            LinearBoxAcross(xPlan, RowPtr(src, r, z.srcWidth), dst);
            return;
        }
        if (xPlan.lerpShift >= 0) {
            LinearLerpAcross(xPlan, RowPtr(src, r, z.srcWidth), dst);
            return;
        }
        rowOps.expand(RowPtr(src, r, z.srcWidth), z.srcWidth, b.Line());
        rowOps.linearAcross(xPlan, b.Line(), dst);
    };
    OutputPass(in, z, output, [&](int32_t y, Pixel *dst) {
        const RowRange rows = LinearRows(yPlan, y);
        const Pixel *const *window = b.ring.Window(rows, across);
        if (yPlan.boxShift >= 0)
            LinearBoxDown(yPlan, y, window, rows.first, z.dstWidth, dst);
        else if (yPlan.lerpShift >= 0)
            LinearLerpDown(yPlan, y, window, rows.first, rows.count, b.zeroRow.get(), z.dstWidth,
                           dst);
        else
            rowOps.linearDown(yPlan, y, window, rows.first, rows.count, b.zeroRow.get(), z.dstWidth,
                              dst);
    });
}

// The kernel of each quality: triangle for 2 and 3, bell, B-spline, Lanczos 3,
// Mitchell for 4 to 7, and Lanczos 3 again above. The box is never chosen.
int FilterForQuality(int32_t q) {
    switch (q) {
        case 2:
        case 3:
            return 1;
        case 4:
            return 2;
        case 5:
            return 3;
        case 7:
            return 5;
        default:
            return 4;
    }
}

void FilteredMode(const ArgBlock &in, const ZoomState &z, const Pixel *src, Pixel *output,
                  int filter) {
    ClistSet xLists, yLists;
    if (!ClistMake(xLists, filter, z.srcWidth, z.dstWidth, z.x0, z.x1, z.xStep) ||
        !ClistMake(yLists, filter, z.srcHeight, z.dstHeight, z.y0, z.y1, z.yStep))
        return;
    int32_t longest = 0;
    for (int32_t y = 0; y < z.dstHeight; ++y)
        longest = std::max(longest, ClistRows(yLists, y, z.srcHeight).count);
    TwoPassBuffers b;
    if (!b.Allocate(z, longest)) {
        Diag_Message(kBufferFailure);
        return;
    }
    const ResizeRows &rowOps = ResizeRowsBest();
    auto across = [&](int32_t r, Pixel *dst) {
        rowOps.expand(RowPtr(src, r, z.srcWidth), z.srcWidth, b.Line());
        rowOps.clistAcross(xLists, b.Line(), dst, z.dstWidth);
    };
    OutputPass(in, z, output, [&](int32_t y, Pixel *dst) {
        const RowRange rows = ClistRows(yLists, y, z.srcHeight);
        const Pixel *const *window = b.ring.Window(rows, across);
        rowOps.clistDown(yLists.lists[y], yLists.taps.get(), window, rows.first, z.dstWidth, dst);
    });
}

}  // namespace

void ResizeDriver(LineOp, const ImageList &images, ArgBlock &in, const OutputList &outputs,
                  ArgBlock &out) {
    ZoomState z;
    ZoomSetup(z, in, out);
    const Pixel *src = images[0];
    Pixel *output = outputs[0];
    if (!src || !output || z.dstWidth <= 0 || z.dstHeight <= 0) return;
    if (z.srcWidth <= 0 || z.srcHeight <= 0) return;
    if (!UsableGeometry(z)) {
        ZeroFrame(in, z, output);
        return;
    }
    // Output rows are written while source rows are still to be read: drawing
    // into the frame it reads from, read from a copy.
    std::unique_ptr<Pixel[]> copy;
    if (src == output) {
        const uint64_t pixels = uint64_t(z.srcWidth) * uint64_t(z.srcHeight);
        copy = TryAllocate<Pixel>(pixels);
        if (!copy) {
            Diag_Message(kBufferFailure);
            return;
        }
        std::memcpy(copy.get(), src, pixels * sizeof(Pixel));
        src = copy.get();
    }
    const int32_t q = in.ints[0];
    if (q <= 0)
        NearestMode(in, z, src, output);
    else if (q == 1)
        LinearMode(in, z, src, output);
    else
        FilteredMode(in, z, src, output, FilterForQuality(q));
}

}  // namespace kve
