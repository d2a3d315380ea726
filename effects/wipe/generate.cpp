// WipeGenerate: the row generator of the edge patterns.
//
// On the first row it builds the pattern's edges and applies the caller's
// scale, rotation and offset to them. On every row it cuts the row at the
// pixels where some edge's ramp enters or leaves its soft band (0 < t < 1);
// between two cuts the key is either one hard value or soft throughout, so
// keys are evaluated only at one midpoint per interval (two ends for a
// one-pixel interval) and then on every pixel of the soft intervals.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "effects/wipe/patterns.h"
#include "engine/diag.h"
#include "engine/scanner.h"

namespace kve {

namespace {

double CombinedKey(const WipeEdgeState &state, const WipePattern &pattern, double x,
                   double progress) {
    if (pattern.quickOut != QuickOut::kNone && !state.transformed) {
        const double quick = QuickOutKey(pattern.quickOut, state, x);
        if (quick >= 0) return quick;
    }
    double e[kMaxEdges] = {};
    const bool clamped = pattern.key == EdgeKeyKind::kClamped;
    for (int k = 0; k < state.n; ++k) {
        const double t = state.edges[k].a * x + state.rowConst[k];
        e[k] = clamped ? ClampedEdgeKey(t) : EdgeKey(t);
    }
    return pattern.combine(e, progress);
}

// Interval classes of one row.
enum : uint8_t { kHard = 0, kSoftByMidpoint = 1, kSoftOnePixel = 2 };

// PatternKeyAt, compiled for the pattern.
double KeyOf(const WipeEdgeState &state, double x) {
    double key;
    KeyLoopsOf(*state.pattern).at.Pick()(state, &x, 1, &key);
    return key;
}

void FillKeys(const WipeEdgeState &state, float *keys, int32_t from, int32_t to) {
    const WipeKeyRange fill = KeyLoopsOf(*state.pattern).rows.Pick();
    fill(state, from, to, keys);
}

// TruncToInt(std::floor(x)) and TruncToInt(std::ceil(x)) without the library
// calls (the baseline instruction set has no rounding instruction): inside
// the int32 range the truncation is stepped down (up) where it passed x.
int32_t FloorToInt(double x) {
    if (std::isnan(x)) return 0;
    if (x >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (x <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    const int32_t t = static_cast<int32_t>(x);
    return t > x ? t - 1 : t;
}
int32_t CeilToInt(double x) {
    if (std::isnan(x)) return 0;
    if (x >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (x <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    const int32_t t = static_cast<int32_t>(x);
    return t < x ? t + 1 : t;
}

// Sorts the `count` breakpoints into `sorted`, starting from the order the
// previous row's breakpoints took and moving each by insertion: the edges
// move little from row to row, so this is about one pass. The values are
// integers, so the result is the same as any sort's.
void SortBreaks(const int32_t *breaks, uint8_t *order, int count, int32_t *sorted) {
    for (int i = 0; i < count; ++i) {
        const uint8_t slot = order[i];
        const int32_t v = breaks[slot];
        int j = i;
        for (; j > 0 && sorted[j - 1] > v; --j) {
            sorted[j] = sorted[j - 1];
            order[j] = order[j - 1];
        }
        sorted[j] = v;
        order[j] = slot;
    }
}

// A zig-zag's quick-out regions give every column inside one of them the
// same hard key (when no transform moved the edges), so a breakpoint whose
// neighbours lie in the same region as it only splits one hard run in two:
// it is dropped, which leaves the runs, the spans and their keys unchanged
// and spares the classification of the two intervals. Returns the new count.
int DropBreaksInsideQuickOut(const WipeEdgeState &state, int32_t *points, int m) {
    const QuickOut kind = state.pattern->quickOut;
    if ((kind != QuickOut::kSidesX && kind != QuickOut::kBandX) || state.transformed || m < 3)
        return m;
    const double *b = state.bounds;
    auto oneRegion = [&](double lo, double hi) {
        if (hi < b[0] || lo > b[1]) return true;
        return kind == QuickOut::kBandX && b[2] < lo && hi < b[3];
    };
    int kept = 1;
    for (int i = 1; i + 1 < m; ++i)
        if (!oneRegion(points[kept - 1], points[i + 1])) points[kept++] = points[i];
    points[kept++] = points[m - 1];
    return kept;
}

void FillRestWithWidth(int32_t *spans, int from, int32_t width) {
    for (int i = from; i < kSpanEntries; ++i)
        spans[i] = width;
}

}  // namespace

bool SetUpWipePattern(const WipeRowArgs &row, WipeEdgeState &state) {
    state.pattern = FindWipePattern(row.number);
    if (!state.pattern) return false;
    const double W = row.width, H = row.height;
    const PatternSpace space{W, H, row.progress, row.edgeWidth};
    EdgeSet set;
    state.pattern->build(space, set);
    state.n = set.n;
    std::copy(set.edge, set.edge + set.n, state.edges);
    std::copy(set.bounds, set.bounds + 4, state.bounds);
    state.progress = row.progress;
    state.transformed = false;

    // The caller's transforms, in this order, each to every edge.
    const WipePoint centre{W / 2, H / 2};
    double xs = row.xScale, ys = row.yScale;
    if (!(xs >= 0.99999 && xs <= 1.00001) || !(ys >= 0.99999 && ys <= 1.00001)) {
        if (xs <= 0) xs = 1;
        if (ys <= 0) ys = 1;
        for (int k = 0; k < state.n; ++k)
            state.edges[k] = Stretch(state.edges[k], xs, ys, centre);
        state.transformed = true;
    }
    if (!(row.rotation >= -0.00001 && row.rotation <= 0.00001)) {
        const double theta = row.rotation * std::numbers::pi / 180;
        for (int k = 0; k < state.n; ++k)
            state.edges[k] = Turn(state.edges[k], theta, centre);
        state.transformed = true;
    }
    if (row.xOffset != 0 || row.yOffset != 0) {
        for (int k = 0; k < state.n; ++k)
            state.edges[k] = Move(state.edges[k], row.xOffset, row.yOffset);
        state.transformed = true;
    }
    return true;
}

void SetWipeRow(WipeEdgeState &state, double y) {
    state.y = y;
    for (int k = 0; k < state.n; ++k) {
        state.rowConst[k] = state.edges[k].b * y + state.edges[k].c;
        state.slope[k] = state.edges[k].a;
    }
}

double PatternKeyAt(const WipeEdgeState &state, double x) {
    return CombinedKey(state, *state.pattern, x, state.progress);
}

double WipeKeyAt(int32_t number, double x, double y, double progress, const WipeEdgeState &state) {
    const WipePattern *pattern = FindWipePattern(number);
    if (!pattern) {
        Diag_Message("Wipe:  Undefined Wipe Number");
        return 0;
    }
    WipeEdgeState row = state;
    row.pattern = pattern;
    row.n = std::min(state.n, pattern->edges);
    SetWipeRow(row, y);
    return CombinedKey(row, *pattern, x, progress);
}

int WipeGenerate(const WipeRowArgs &row, const WipeScratch &scratch) {
    WipeEdgeState &state = *scratch.edges;
    if (row.first) {
        if (!SetUpWipePattern(row, state)) return 1;
        for (int i = 0; i < 2 * state.n + 2; ++i)
            state.order[i] = static_cast<uint8_t>(i);
    }
    if (!state.pattern) return 1;
    const int32_t W = row.width, y = row.y;
    int32_t *spans = scratch.spans;
    float *keys = scratch.keys;
    const int32_t number = state.pattern->number;

    // Patterns that are the same on every row, and the uniform rows of 2.
    if ((number == 1 || number == 21) && row.rotation == 0 && !row.first) return 0;
    SetWipeRow(state, y);
    if (number == 2 && row.rotation == 0) {
        const EdgeRecord &e = state.edges[0];
        double y0 = -e.c / e.b, y1 = (1 - e.c) / e.b;
        if (y0 > y1) std::swap(y0, y1);
        if (y0 < y && y < y1) {
            spans[0] = 0;
            spans[1] = W - 1;
            FillRestWithWidth(spans, 2, W);
            std::fill(keys, keys + W, static_cast<float>(KeyOf(state, 0)));
        } else {
            FillRestWithWidth(spans, 0, W);
            keys[0] = y <= y0 ? 1.0f : 0.0f;
        }
        return 0;
    }

    // Breakpoints: where each ramp crosses 0 and 1 on this row.
    const int n = state.n;
    int32_t *breaks = state.breaks;
    for (int k = 0; k < n; ++k) {
        const EdgeRecord &e = state.edges[k];
        const double g = state.rowConst[k];
        double x0, x1;
        if (e.a < -0.000001 || e.a > 0.000001) {
            x0 = -g / e.a;
            x1 = (1 - g) / e.a;
            if (x0 > x1) std::swap(x0, x1);
        } else {
            // Parallel to the row: all of it is inside the band, or none.
            double y0 = -e.c / e.b, y1 = (1 - e.c) / e.b;
            if (y0 > y1) std::swap(y0, y1);
            x0 = x1 = W;
            if (y0 < y && y < y1) x0 = 0;
        }
        breaks[k] = FloorToInt(x0);
        breaks[n + k] = CeilToInt(x1);
    }
    breaks[2 * n] = 0;
    breaks[2 * n + 1] = W;
    int32_t sorted[2 * kMaxEdges + 2];
    SortBreaks(breaks, state.order, 2 * n + 2, sorted);

    // Distinct breakpoints from 0 to W; those right of the frame are cut at W.
    int32_t *points = state.points;
    int m = 0;
    for (int i = 0; i < 2 * n + 2; ++i) {
        const int32_t v = sorted[i];
        if (v < 0) continue;
        if (v >= W) {
            points[m++] = W;
            break;
        }
        if (m == 0 || points[m - 1] != v) points[m++] = v;
    }
    m = DropBreaksInsideQuickOut(state, points, m);
    const int intervals = m - 1;

    // Classify each interval by the keys at both ends of a one-pixel
    // interval, else at its midpoint, all found in one go.
    double *probes = state.probes;
    int probeCount = 0;
    for (int j = 0; j < intervals; ++j) {
        const int32_t lo = points[j], hi = points[j + 1];
        if (hi == lo + 1) {
            probes[probeCount++] = lo;
            probes[probeCount++] = hi;
        } else {
            probes[probeCount++] = (lo + static_cast<double>(hi)) / 2;
        }
    }
    const double *probeKeys = state.probeKeys;
    KeyLoopsOf(*state.pattern).at.Pick()(state, probes, probeCount, state.probeKeys);
    uint8_t *kinds = state.kinds;
    for (int j = 0, probe = 0; j < intervals; ++j) {
        const int32_t lo = points[j], hi = points[j + 1];
        kinds[j] = kHard;
        if (hi == lo + 1) {
            const double kLo = probeKeys[probe], kHi = probeKeys[probe + 1];
            probe += 2;
            if (kLo != kHi || (0 < kLo && kLo < 1)) {
                keys[lo] = static_cast<float>(kLo);
                if (hi < W) keys[hi] = static_cast<float>(kHi);
                kinds[j] = kSoftOnePixel;
            }
        } else {
            const double mid = probeKeys[probe++];
            if (0 < mid && mid < 1) kinds[j] = kSoftByMidpoint;
        }
    }

    // The span list: consecutive soft intervals make one span, consecutive
    // hard ones one run. A soft interval's span ends at its upper breakpoint.
    // A loop that takes whole spans fills a span's keys when it closes: the
    // key loops give every pixel the key KeyOf gives it, so the one-pixel
    // intervals' keys are written again unchanged.
    const bool wholeSpans = KeyLoopsOf(*state.pattern).wholeSpans.Pick();
    spans[0] = points[0];
    int pair = 0, lastUsed = 0;
    bool inside = false;
    int32_t spanFrom = 0;
    for (int j = 0; j < intervals; ++j) {
        const int32_t lo = points[j], hi = points[j + 1];
        if (kinds[j] == kHard) {
            if (inside) {
                if (wholeSpans) FillKeys(state, keys, spanFrom, spans[2 * pair + 1]);
                inside = false;
                ++pair;
            }
            spans[2 * pair] = hi;
            lastUsed = 2 * pair;
            continue;
        }
        if (!inside && pair == kMaxSoftSpans - 1) {
            // The 16th span takes the rest of the row, pixel by pixel.
            FillKeys(state, keys, spans[2 * pair], W - 1);
            spans[2 * pair + 1] = W - 1;
            lastUsed = 2 * pair + 1;
            break;
        }
        if (!inside) spanFrom = lo;
        if (!wholeSpans && kinds[j] == kSoftByMidpoint)
            FillKeys(state, keys, lo, std::min(hi, W - 1));
        spans[2 * pair + 1] = std::min(hi, W - 1);
        lastUsed = 2 * pair + 1;
        inside = true;
    }
    if (inside && wholeSpans) FillKeys(state, keys, spanFrom, spans[2 * pair + 1]);
    if (spans[0] == W) keys[0] = static_cast<float>(KeyOf(state, W));
    FillRestWithWidth(spans, lastUsed + 1, W);
    return 0;
}

}  // namespace kve
