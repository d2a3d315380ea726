// The edge-based wipe patterns: straight ramps over the frame, turned into
// keys and combined per wipe number, and the row generator that cuts a row at
// the ends of the ramps' soft bands.
#pragma once

#include <cmath>
#include <cstdint>
#include <span>

#include "effects/wipe/wipe.h"
#include "engine/cpu.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kve {

// A ramp t = a*x + b*y + c over pixel positions (x the column, y the row,
// growing downward). Its key is 1 (frame A) where t <= 0 and 0 where t >= 1.
struct EdgeRecord {
    double a = 0, b = 0, c = 0;
};

constexpr int kMaxEdges = 32;  // number 74 uses them all

struct WipePoint {
    double x, y;
};

// ---- the builder vocabulary --------------------------------------------------

// Turns the ramp by theta (radians) about p.
inline EdgeRecord Turn(EdgeRecord e, double theta, WipePoint p) {
    const double cs = std::cos(theta), sn = std::sin(theta);
    const double a = e.a * cs + e.b * sn, b = e.b * cs - e.a * sn;
    return {a, b, e.c + e.a * p.x + e.b * p.y - a * p.x - b * p.y};
}

// Stretches the pattern about p by xs horizontally and ys vertically.
inline EdgeRecord Stretch(EdgeRecord e, double xs, double ys, WipePoint p) {
    const double a = e.a / xs, b = e.b / ys;
    return {a, b, e.c + e.a * p.x + e.b * p.y - a * p.x - b * p.y};
}

// Scales the pattern about p by 1/f in both directions; an f of 0 or less acts as 1.
inline EdgeRecord ScaleAbout(EdgeRecord e, double f, WipePoint p) {
    if (f <= 0) f = 1;
    return Stretch(e, f, f, p);
}

// Moves the pattern by (dx, dy) pixels.
inline EdgeRecord Move(EdgeRecord e, double dx, double dy) {
    return {e.a, e.b, e.c - e.a * dx - e.b * dy};
}

// ---- pattern table -----------------------------------------------------------

// What a pattern builder knows: the output size, the progress and the edge
// width e (border + softness, a fraction of the width).
struct PatternSpace {
    double W, H, p, e;
    WipePoint Centre() const { return {W / 2, H / 2}; }
};

struct EdgeSet {
    EdgeRecord edge[kMaxEdges];
    int n = 0;
    double bounds[4] = {};  // quick-out bounds of the zig-zags
    void Add(EdgeRecord e) {
        if (n < kMaxEdges) edge[n++] = e;
    }
};

// ---- keys of two neighbouring pixels at once ----------------------------------

// Two doubles worked on lane by lane. Each operation is the single IEEE
// operation the scalar code does, so a key computed on a pair with the same
// operations in the same order is the key of the scalar code, bit for bit.
#if defined(__SSE2__)
struct KeyPair {
    __m128d v;
};
inline KeyPair Pair(double both) {
    return {_mm_set1_pd(both)};
}
inline KeyPair Pair(double first, double second) {
    return {_mm_set_pd(second, first)};
}
inline KeyPair operator+(KeyPair p, KeyPair q) {
    return {_mm_add_pd(p.v, q.v)};
}
inline KeyPair operator-(KeyPair p, KeyPair q) {
    return {_mm_sub_pd(p.v, q.v)};
}
inline KeyPair operator*(KeyPair p, KeyPair q) {
    return {_mm_mul_pd(p.v, q.v)};
}
// Lane masks of comparisons, and the choice between two pairs by a mask.
inline KeyPair LessEqual(KeyPair p, KeyPair q) {
    return {_mm_cmple_pd(p.v, q.v)};
}
inline KeyPair Less(KeyPair p, KeyPair q) {
    return {_mm_cmplt_pd(p.v, q.v)};
}
inline KeyPair Choose(KeyPair mask, KeyPair yes, KeyPair no) {
    return {_mm_or_pd(_mm_and_pd(mask.v, yes.v), _mm_andnot_pd(mask.v, no.v))};
}
// std::min(p, q) and std::max(p, q) per lane: q < p ? q : p and p < q ? q : p.
inline KeyPair Min(KeyPair p, KeyPair q) {
    return {_mm_min_pd(q.v, p.v)};
}
inline KeyPair Max(KeyPair p, KeyPair q) {
    return {_mm_max_pd(q.v, p.v)};
}
// Both lanes rounded to float, stored to to[0] and to[1].
inline void StoreFloats(float *to, KeyPair p) {
    _mm_storel_epi64(reinterpret_cast<__m128i *>(to), _mm_castps_si128(_mm_cvtpd_ps(p.v)));
}
#else
struct KeyPair {
    double v[2];
};
inline KeyPair Pair(double both) {
    return {{both, both}};
}
inline KeyPair Pair(double first, double second) {
    return {{first, second}};
}
template <class F>
inline KeyPair Lanes(KeyPair p, KeyPair q, F f) {
    return {{f(p.v[0], q.v[0]), f(p.v[1], q.v[1])}};
}
inline KeyPair operator+(KeyPair p, KeyPair q) {
    return Lanes(p, q, [](double a, double b) { return a + b; });
}
inline KeyPair operator-(KeyPair p, KeyPair q) {
    return Lanes(p, q, [](double a, double b) { return a - b; });
}
inline KeyPair operator*(KeyPair p, KeyPair q) {
    return Lanes(p, q, [](double a, double b) { return a * b; });
}
// Masks are lanes of 1 (true) and 0 (false) here.
inline KeyPair LessEqual(KeyPair p, KeyPair q) {
    return Lanes(p, q, [](double a, double b) { return a <= b ? 1.0 : 0.0; });
}
inline KeyPair Less(KeyPair p, KeyPair q) {
    return Lanes(p, q, [](double a, double b) { return a < b ? 1.0 : 0.0; });
}
inline KeyPair Choose(KeyPair mask, KeyPair yes, KeyPair no) {
    return {{mask.v[0] != 0 ? yes.v[0] : no.v[0], mask.v[1] != 0 ? yes.v[1] : no.v[1]}};
}
inline KeyPair Min(KeyPair p, KeyPair q) {
    return Lanes(p, q, [](double a, double b) { return b < a ? b : a; });
}
inline KeyPair Max(KeyPair p, KeyPair q) {
    return Lanes(p, q, [](double a, double b) { return a < b ? b : a; });
}
inline void StoreFloats(float *to, KeyPair p) {
    to[0] = static_cast<float>(p.v[0]);
    to[1] = static_cast<float>(p.v[1]);
}
#endif
inline KeyPair operator-(double c, KeyPair p) {
    return Pair(c) - p;
}
inline KeyPair &operator*=(KeyPair &p, KeyPair q) {
    return p = p * q;
}
// The scalar forms, the same choices as std::min and std::max.
inline double Min(double p, double q) {
    return q < p ? q : p;
}
inline double Max(double p, double q) {
    return p < q ? q : p;
}

// How a pattern's edge keys combine into the pixel's key, once for one pixel
// and once for a pair; both come from one generic expression, so they are the
// same operations.
struct KeyCombination {
    double (*one)(const double *e, double p);
    KeyPair (*pair)(const KeyPair *e, double p);
    template <class F>
    constexpr KeyCombination(F f) : one(f), pair(f) {}
    double operator()(const double *e, double p) const { return one(e, p); }
};

enum class EdgeKeyKind : uint8_t {
    kClamped,  // soft keys kept inside [1e-7, 1 - 1e-7]
    kPlain,
};

// The zig-zags skip their edges where a coordinate across the teeth lies
// clearly on one side (only when no scale, rotation or offset is active).
enum class QuickOut : uint8_t {
    kNone,
    kSidesX,  // bounds[0] lower, bounds[1] upper: x below gives 1, above gives 0
    kSidesY,
    kBandX,  // bounds[0..1] outer band, bounds[2..3] inner band: outside 0, inside 1
    kBandY,
};

struct WipePattern {
    int32_t number;
    int32_t edges;  // how many edges `build` makes
    EdgeKeyKind key;
    QuickOut quickOut;
    void (*build)(const PatternSpace &s, EdgeSet &out);
    // The pixel's key from its edge keys e[0..edges-1] and the progress.
    KeyCombination combine;
};

// The patterns in ascending number order.
std::span<const WipePattern> WipePatterns();
const WipePattern *FindWipePattern(int32_t number);

// ---- generator state -----------------------------------------------------------

// Built on the first row, read on every row of the same call; lives in the job's scratch.
struct WipeEdgeState {
    const WipePattern *pattern = nullptr;  // null: the number is not drawn here
    int32_t n = 0;
    EdgeRecord edges[kMaxEdges];
    double bounds[4] = {};
    bool transformed = false;  // a scale, rotation or offset was applied
    double progress = 0;
    // The row being generated and each edge's ramp constant on it (b*y + c);
    // with the slopes (each edge's a) the ramps a*x + rowConst of the row,
    // in arrays that the wide loops read across lanes.
    double y = 0;
    double rowConst[kMaxEdges] = {};
    double slope[kMaxEdges] = {};
    // Working arrays of one row: breakpoints, distinct breakpoints, the
    // interval classes, and the columns whose keys classify the intervals
    // (up to two per interval) with those keys.
    int32_t breaks[2 * kMaxEdges + 2] = {};
    // The breakpoints' slots (edge k's low end is slot k, its high end slot
    // n + k, then 0 and W) in the order the previous row sorted them into:
    // rows next to each other order their breakpoints almost alike.
    uint8_t order[2 * kMaxEdges + 2] = {};
    int32_t points[2 * kMaxEdges + 2] = {};
    uint8_t kinds[2 * kMaxEdges + 1] = {};
    double probes[4 * kMaxEdges + 2] = {};
    double probeKeys[4 * kMaxEdges + 2] = {};
};

// Key of one edge: 1 - Ease(t), written out per branch. A NaN ramp gives 0,
// so a key is always a number in [0, 1].
inline double EdgeKey(double t) {
    if (t <= 0) return 1;
    if (t < 0.5) return 1 - 2 * t * t;
    if (t <= 1) return 2 * (1 - t) * (1 - t);
    return 0;
}
// As EdgeKey, but a t strictly inside (0, 1) gives a key inside [1e-7, 1 - 1e-7].
inline double ClampedEdgeKey(double t) {
    if (t <= 0) return 1;
    if (!(t < 1)) return 0;
    const double k = EdgeKey(t);
    return k < 0.0000001 ? 0.0000001 : k > 0.9999999 ? 0.9999999 : k;
}

template <EdgeKeyKind kind>
inline double EdgeKeyOf(double t) {
    return kind == EdgeKeyKind::kClamped ? ClampedEdgeKey(t) : EdgeKey(t);
}

// EdgeKey and ClampedEdgeKey of two ramps: every branch is computed with the
// scalar operations and the lane takes the one its branch picks.
template <EdgeKeyKind kind>
inline KeyPair EdgeKeyOf(KeyPair t) {
    const KeyPair one = Pair(1), zero = Pair(0), half = Pair(0.5);
    const KeyPair rising = 1 - Pair(2) * t * t;
    const KeyPair u = 1 - t;
    const KeyPair falling = Pair(2) * u * u;
    KeyPair k = Choose(Less(t, half), rising, falling);
    if constexpr (kind == EdgeKeyKind::kClamped) {
        k = Min(Max(k, Pair(0.0000001)), Pair(0.9999999));
        k = Choose(Less(t, one), k, zero);
    } else {
        k = Choose(LessEqual(t, one), k, zero);
    }
    return Choose(LessEqual(t, zero), one, k);
}

// Builds the pattern of row.number into `state` (first row work). Returns
// false when the number has no pattern.
bool SetUpWipePattern(const WipeRowArgs &row, WipeEdgeState &state);

// Sets the row constants of row y.
void SetWipeRow(WipeEdgeState &state, double y);

// The zig-zags' shortcut: 1 or 0 when the coordinate across the teeth is
// clearly on one side, -1 when the edges must decide (x is the column,
// the row is the state's).
inline double QuickOutKey(QuickOut kind, const WipeEdgeState &state, double x) {
    const double *b = state.bounds;
    switch (kind) {
        case QuickOut::kNone:
            return -1;
        case QuickOut::kSidesX:
        case QuickOut::kSidesY: {
            const double v = kind == QuickOut::kSidesX ? x : state.y;
            if (v < b[0]) return 1;
            if (v > b[1]) return 0;
            return -1;
        }
        case QuickOut::kBandX:
        case QuickOut::kBandY: {
            const double v = kind == QuickOut::kBandX ? x : state.y;
            if (v < b[0] || v > b[1]) return 0;
            if (b[2] < v && v < b[3]) return 1;
            return -1;
        }
    }
    return -1;
}

// The key at column x (an integer or a half) of the current row.
double PatternKeyAt(const WipeEdgeState &state, double x);

// Writes keys[x] = PatternKeyAt(state, x) for x in [from, to], with the
// pattern's edge count and combination compiled in: the plain per-pixel
// reference and the loops per CPU level (the pair loop from SSE2 up), which
// must give identical keys.
using WipeKeyRange = void (*)(const WipeEdgeState &state, int32_t from, int32_t to, float *keys);
using WipeKeysAt = void (*)(const WipeEdgeState &state, const double *xs, int32_t count,
                            double *keys);
struct WipeKeyLoops {
    WipeKeyRange reference;
    CpuRows<WipeKeyRange> rows;
    // Whether the level's loop finds the soft edges block by block, so it is
    // best given a whole soft span at once rather than each stretch between
    // two breakpoints (where few edges are soft) on its own.
    CpuRows<bool> wholeSpans;
    // PatternKeyAt compiled for the pattern, for the generator's single keys:
    // keys[i] = PatternKeyAt(state, xs[i]) for i < count, per level (the
    // zig-zags several columns at a time from AVX2 up).
    CpuRows<WipeKeysAt> at;
};
const WipeKeyLoops &KeyLoopsOf(const WipePattern &pattern);

// The key of pixel (x, y) for `number` from a built state. A number without a
// pattern reports "Wipe:  Undefined Wipe Number" and gives 0.
double WipeKeyAt(int32_t number, double x, double y, double progress, const WipeEdgeState &state);

}  // namespace kve
