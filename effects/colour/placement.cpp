// Translate and Paste: moving a whole frame.
//
// Translate puts the frame's centre at a position, shifted by whole pixels;
// what leaves the frame is lost and what it uncovers is 0.
//
// Paste lays frame P over the background G with P's top-left pixel at a
// sub-pixel position. A coordinate within 0.01 of an integer counts as whole;
// otherwise P is interpolated between its two (or four) nearest placements
// with 10-bit fixed-point weight tables, and P's edges blend into G. Every
// column P does not reach keeps G's pixel.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "effects/colour/placement.h"
#include "engine/drivers.h"
#include "engine/monitor.h"
#include "engine/scanner.h"
#include "engine/scratch.h"
#include "interface/pixel.h"

namespace kve {

namespace {

// ---- Translate -------------------------------------------------------------

void CopyPixels(Pixel *dst, const Pixel *src, int64_t count) {
    if (count > 0 && dst != src) std::memmove(dst, src, static_cast<size_t>(count) * sizeof(Pixel));
}

// ---- Paste: whole, lo and hi -----------------------------------------------

// Within 0.01 of an integer.
bool Whole(double v) {
    const double t = std::trunc(v);
    if (v >= 0) return !(v - t > 0.01 && t + 1 - v > 0.01);
    return !(t - v > 0.01 && v + 1 - t > 0.01);
}
// The nearest integer for a whole value, else the integer just below / above.
// The 0.01 and 0.9999 offsets keep this consistent with Whole, up to a band
// of 0.0001 next to the 0.01 limit where lo and hi agree on a fractional value.
double Lo(double v) {
    return std::trunc(v >= -0.01 ? v + 0.01 : v + 0.01 - 0.9999);
}
double Hi(double v) {
    return std::trunc(v > -0.01 ? v + 0.9999 - 0.01 : v - 0.01);
}

// A whole-valued double as a column or row index. Values this far out only
// ever select "outside the frame", so clamping changes no result.
int64_t ToIndex(double v) {
    if (std::isnan(v)) return 0;
    return static_cast<int64_t>(std::clamp(v, -1e15, 1e15));
}

// ---- Paste: per-call state --------------------------------------------------

using WeightTable = std::array<int32_t, 256>;

struct PasteState {
    int64_t x0, x1;      // lo(PX), hi(PX)
    int64_t end0, end1;  // first columns past P at x0 and at x1, at most the output width
    double fx, fy;       // fractions, 0 for a whole coordinate
    bool pxWhole, pyWhole;
    int32_t wp, wo;
};

struct PasteStorage {
    PasteState *state;
    WeightTable *tables;  // 4 tables; which weights they hold depends on the case
    Pixel *row;           // a copy of a source row that is also the output row
};

PasteStorage PasteLayout(ScratchPlan &plan, int32_t wp, int32_t wo) {
    PasteStorage s;
    s.state = plan.Take<PasteState>(1);
    s.tables = plan.Take<WeightTable>(4);
    s.row = plan.Take<Pixel>(static_cast<size_t>(std::max(wp, wo)));
    return s;
}

// T[v] = v * 1024 * w rounded halves away from zero: weight w in 10-bit fixed point.
void BuildWeights(WeightTable &t, double w) {
    for (int32_t v = 0; v < 256; ++v)
        t[v] = RoundHalfAway(v * 1024 * w);
}

void Prepare(PasteState &s, WeightTable *t, const ArgBlock &in, const ArgBlock &out) {
    const double px = in.points[0], py = in.points[1];
    s.wp = in.imageWidth[0];
    s.wo = out.imageWidth[0];
    s.pxWhole = Whole(px);
    s.pyWhole = Whole(py);
    // A whole value has one placement; lo and hi agree on it (pinned here so
    // no rounding corner can split them).
    s.x0 = ToIndex(Lo(px));
    s.x1 = s.pxWhole ? s.x0 : ToIndex(Hi(px));
    s.end0 = std::min<int64_t>(s.wo, s.wp + s.x0);
    s.end1 = std::min<int64_t>(s.wo, s.wp + s.x1);
    s.fx = s.pxWhole ? 0.0 : px - Lo(px);
    s.fy = s.pyWhole ? 0.0 : py - Lo(py);
    const double fx = s.fx, fy = s.fy;
    if (s.pyWhole && !s.pxWhole) {
        BuildWeights(t[0], 1 - fx);  // A: P at x0
        BuildWeights(t[1], fx);      // B: the pixel to its left
    } else if (!s.pyWhole && s.pxWhole) {
        BuildWeights(t[0], fy);      // U: upper row
        BuildWeights(t[1], 1 - fy);  // D: lower row
    } else if (!s.pyWhole) {
        BuildWeights(t[0], fx * fy);              // UL
        BuildWeights(t[1], (1 - fx) * fy);        // UR
        BuildWeights(t[2], fx * (1 - fy));        // LL
        BuildWeights(t[3], (1 - fx) * (1 - fy));  // LR
    }
}

// Sums of table lookups, channel by channel, shifted back out of 10 bits.
Pixel Mix2(const WeightTable &ta, Pixel a, const WeightTable &tb, Pixel b) {
    return PackPixel((ta[AlphaOf(a)] + tb[AlphaOf(b)]) >> 10, (ta[RedOf(a)] + tb[RedOf(b)]) >> 10,
                     (ta[GreenOf(a)] + tb[GreenOf(b)]) >> 10,
                     (ta[BlueOf(a)] + tb[BlueOf(b)]) >> 10);
}
Pixel Mix4(const WeightTable &ta, Pixel a, const WeightTable &tb, Pixel b, const WeightTable &tc,
           Pixel c, const WeightTable &td, Pixel d) {
    auto sum = [&](int32_t (*channel)(uint32_t)) {
        return (ta[channel(a)] + tb[channel(b)] + tc[channel(c)] + td[channel(d)]) >> 10;
    };
    return PackPixel(sum(AlphaOf), sum(RedOf), sum(GreenOf), sum(BlueOf));
}

// A source row as seen at output columns: value(j) = pixels[j - offset], with
// offset x0 for a row of P and 0 for the background.
struct Source {
    const Pixel *pixels;
    int64_t offset;
    bool background;
    Pixel at(int64_t j) const { return pixels[j - offset]; }
    // The column left of j; the background has nothing left of column 0 and
    // repeats its edge pixel there.
    Pixel left(int64_t j) const {
        return background && j == 0 ? pixels[0] : pixels[j - 1 - offset];
    }
};

// Both rows fractional: four-term blends of the two rows and their left
// neighbours, with P's edge columns blended into the background.
void FourTermRow(const PasteState &s, const WeightTable *t, const Source &up, const Source &lo,
                 const Pixel *bg, Pixel *dst) {
    const WeightTable &ul = t[0], &ur = t[1], &ll = t[2], &lr = t[3];
    if (s.x0 >= 0) {
        const int64_t j = s.x0;
        dst[j] = Mix4(ul, bg[j], ll, bg[j], ur, up.at(j), lr, lo.at(j));
    }
    // From the column right of x0: that is x1, except in the narrow band where
    // lo and hi agree on a fractional value, where x1 would read left of P.
    // When P starts left of the frame this includes column 0, whose left
    // neighbours are P's own pixels (or the background's edge pixel).
    for (int64_t j = std::max<int64_t>(s.x0 + 1, 0); j < s.end0; ++j)
        dst[j] = Mix4(ul, up.left(j), ur, up.at(j), ll, lo.left(j), lr, lo.at(j));
    if (s.end0 < s.wo) {
        const int64_t j = s.end0;
        dst[j] = Mix4(ul, up.left(j), ll, lo.left(j), ur, bg[j], lr, bg[j]);
    }
}

}  // namespace

// ---- Translate ---------------------------------------------------------------

void TranslateDriver(LineOp lineOp, const ImageList &images, ArgBlock &in,
                     const OutputList &outputs, ArgBlock &out) {
    const int32_t rows = out.imageHeight[0];
    // The row shift truncates the position before taking half the height off,
    // unlike the column shift; on even sizes the two round differently.
    const int64_t dy = int64_t{TruncToInt(in.points[1])} - rows / 2;
    const int64_t sourceRows = std::min(rows, in.imageHeight[0]);
    std::array<const Pixel *, kMaxImages> inLines{};
    std::array<Pixel *, kMaxImages> outLines{};
    for (int32_t i = 0; i < rows; ++i) {
        const int64_t s = i - dy;
        inLines[0] = s >= 0 && s < sourceRows
                         ? RowPtr(images[0], static_cast<int32_t>(s), in.imageWidth[0])
                         : nullptr;
        outLines[0] = RowPtr(outputs[0], i, out.imageWidth[0]);
        lineOp(0, 0, i, 1, inLines.data(), outLines.data(), in, out);
        if (!ReportRow(in, rows, i)) return;
    }
}

// One row shifted by dx columns; uncovered columns become 0.
KVE_LINE_OP(TranslateLineOp) {
    const int64_t w = out.imageWidth[0];
    const Pixel *src = inLines[0];
    Pixel *dst = outLines[0];
    const int64_t dx = TruncToInt(in.points[0] - static_cast<double>(w / 2));
    if (!src || dx <= -w || dx >= w) {
        std::fill(dst, dst + w, Pixel{0});
    } else if (dx < 0) {
        CopyPixels(dst, src - dx, w + dx);
        std::fill(dst + w + dx, dst + w, Pixel{0});
    } else {
        CopyPixels(dst + dx, src, w - dx);
        std::fill(dst, dst + dx, Pixel{0});
    }
}

// ---- Paste -------------------------------------------------------------------

size_t PasteScratch(const ArgBlock &in, const ArgBlock &out) {
    ScratchPlan plan;
    PasteLayout(plan, in.imageWidth[0], out.imageWidth[0]);
    return plan.Bytes();
}

void PasteDriver(LineOp lineOp, const ImageList &images, ArgBlock &in, const OutputList &outputs,
                 ArgBlock &out) {
    const int32_t rows = std::min(out.imageHeight[0], in.imageHeight[1]);
    const double py = in.points[1];
    const int64_t lo = ToIndex(Lo(py)), hi = Whole(py) ? lo : ToIndex(Hi(py));
    const int32_t pRows = in.imageHeight[0], pWidth = in.imageWidth[0];
    auto pRow = [&](int64_t s) -> const Pixel * {
        return s >= 0 && s < pRows ? RowPtr(images[0], static_cast<int32_t>(s), pWidth) : nullptr;
    };
    std::array<const Pixel *, kMaxImages> inLines{};
    std::array<Pixel *, kMaxImages> outLines{};
    for (int32_t r = 0; r < rows; ++r) {
        inLines[0] = pRow(r - hi);  // upper
        inLines[1] = RowPtr(images[1], r, in.imageWidth[1]);
        inLines[2] = pRow(r - lo);  // lower
        outLines[0] = RowPtr(outputs[0], r, out.imageWidth[0]);
        lineOp(r == 0 ? 1 : 0, 0, r, 1, inLines.data(), outLines.data(), in, out);
        if (!ReportRow(in, rows, r)) return;
    }
}

// In-rows: P's upper row, the background row, P's lower row (absent P rows are null).
KVE_LINE_OP(PasteLineOp) {
    ScratchPlan plan(JobScratch(in));
    const PasteStorage storage = PasteLayout(plan, in.imageWidth[0], out.imageWidth[0]);
    PasteState &s = *storage.state;
    const WeightTable *t = storage.tables;
    if (first) Prepare(s, storage.tables, in, out);

    const Pixel *upper = inLines[0], *bg = inLines[1], *lower = inLines[2];
    Pixel *dst = outLines[0];
    if ((!upper && !lower) || s.x0 >= s.wo || s.x1 <= -int64_t{s.wp}) {
        CopyPixels(dst, bg, s.wo);
        return;
    }
    // A source row that is the output row itself (the background of a paste
    // in place, or P pasted onto itself) is read from a copy, so no column is
    // read after it was written.
    auto stable = [&](const Pixel *row, int64_t width) {
        if (row != dst) return row;
        std::memcpy(storage.row, row, static_cast<size_t>(width) * sizeof(Pixel));
        return static_cast<const Pixel *>(storage.row);
    };

    // Columns [begin, end) come from P; the rest keep the background.
    const int64_t begin = std::max<int64_t>(s.x0, 0);
    int64_t end = 0;
    if (s.pyWhole) {
        const Pixel *p = upper;
        if (s.pxWhole) {
            end = s.end1;
            CopyPixels(dst + begin, p + (begin - s.x0), end - begin);
        } else {
            p = stable(p, s.wp);
            end = std::min<int64_t>(s.end0 + 1, s.wo);
            if (s.x0 >= 0) dst[s.x0] = Mix2(t[0], p[0], t[1], bg[s.x0]);
            for (int64_t j = std::max<int64_t>(s.x1, 0); j < s.end0; ++j)
                dst[j] = Mix2(t[0], p[j - s.x0], t[1], p[j - s.x1]);
            if (s.end0 < s.wo) dst[s.end0] = Mix2(t[0], bg[s.end0], t[1], p[s.wp - 1]);
        }
    } else {
        // An absent P row is replaced by the background row.
        const Source up =
            upper ? Source{stable(upper, s.wp), s.x0, false} : Source{stable(bg, s.wo), 0, true};
        const Source lo = lower == upper ? up
                          : lower        ? Source{stable(lower, s.wp), s.x0, false}
                                         : Source{stable(bg, s.wo), 0, true};
        if (s.pxWhole) {
            end = s.end0;
            for (int64_t j = begin; j < end; ++j)
                dst[j] = Mix2(t[1], lo.at(j), t[0], up.at(j));
        } else {
            end = std::min<int64_t>(s.end0 + 1, s.wo);
            FourTermRow(s, t, up, lo, bg, dst);
        }
    }
    if (bg != dst) {
        CopyPixels(dst, bg, std::min(begin, end));
        const int64_t from = std::max(begin, end);
        CopyPixels(dst + from, bg + from, s.wo - from);
    }
}

}  // namespace kve
