// The edge patterns of the Wipe effect, one table row per wipe number.
//
// Each row names how many straight edges the pattern has, whether their keys
// are clamped, how the row's builder places the edges (from the vocabulary
// below: named edges, Turn, ScaleAbout, Move) and how the edge keys combine
// into the pixel's key: a product is "inside all edges", Or() is "inside any"
// and min/max pick by progress for the sweeping patterns.
//
// Every moving edge travels so that at progress 0 no pixel of the frame has a
// key toward A and at progress 1 every pixel has: its soft band starts just
// outside the frame and ends just outside it on the far side. Edge widths are
// fractions of the frame WIDTH, also for horizontal edges. The builders run on
// the first row only, before the caller's scale, rotation and offset.
#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <numbers>
#include <type_traits>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "effects/wipe/key_lanes.h"
#include "effects/wipe/patterns.h"

namespace kve {

namespace {

constexpr double kPi = std::numbers::pi;

// ---- named edges ---------------------------------------------------------------
// `e` is passed explicitly: "an edge built with e/F" is the same formula with
// e/F in place of e (so its ramp is F times steeper until it is scaled back).

double Q(const PatternSpace &s, double e) {
    return 1 / (e * s.W);
}

// A sweeps in from the left, right, top and bottom.
EdgeRecord Lft(const PatternSpace &s, double e) {
    return {Q(s, e), 0, 1 - s.p - s.p / e};
}
EdgeRecord Rgt(const PatternSpace &s, double e) {
    return {-Q(s, e), 0, (1 + e) * (1 - s.p) / e};
}
EdgeRecord Top(const PatternSpace &s, double e) {
    return {0, Q(s, e), 1 - s.p - s.p * s.H / (e * s.W)};
}
EdgeRecord Bot(const PatternSpace &s, double e) {
    return {0, -Q(s, e), (e * s.W + s.H) * (1 - s.p) / (e * s.W)};
}

// The pair of 21: a band about the vertical centre line widening to both sides.
EdgeRecord Band21Left(const PatternSpace &s, double e) {
    return {Q(s, e), 0, (e - 0.5 - s.p * (0.5 + e)) / e};
}
EdgeRecord Band21Right(const PatternSpace &s, double e) {
    return {-Q(s, e), 0, (e + 0.5 - s.p * (0.5 + e)) / e};
}
// The pair of 22: the same about the horizontal centre line.
EdgeRecord Band22Top(const PatternSpace &s, double e) {
    return {0, Q(s, e), (e * s.W - s.H / 2 - s.p * (s.H / 2 + e * s.W)) / (e * s.W)};
}
EdgeRecord Band22Bottom(const PatternSpace &s, double e) {
    return {0, -Q(s, e), (s.H / 2 + e * s.W - s.p * (s.H / 2 + e * s.W)) / (e * s.W)};
}

// The clock pairs: half-planes left and right of the vertical centre line
// (V0, V1) and above and below the horizontal one (H0, H1).
EdgeRecord V0(const PatternSpace &s) {
    return {Q(s, s.e), 0, (s.e - 0.5 - s.e * s.p) / s.e};
}
EdgeRecord V1(const PatternSpace &s) {
    return {-Q(s, s.e), 0, (s.e + 0.5 - s.e * s.p) / s.e};
}
EdgeRecord H0(const PatternSpace &s) {
    return {0, Q(s, s.e), (s.e * s.W * (1 - s.p) - s.H / 2) / (s.e * s.W)};
}
EdgeRecord H1(const PatternSpace &s) {
    return {0, -Q(s, s.e), (s.e * s.W * (1 - s.p) + s.H / 2) / (s.e * s.W)};
}

// The corner sweeps before turning: 241 from the top-left, 242 top-right,
// 243 bottom-right, 244 bottom-left.
EdgeRecord Sweep241(const PatternSpace &s) {
    return {-Q(s, s.e), 0, 1 - s.p};
}
EdgeRecord Sweep242(const PatternSpace &s) {
    return {0, -Q(s, s.e), 1 - s.p};
}
EdgeRecord Sweep243(const PatternSpace &s) {
    return {Q(s, s.e), 0, (s.e - 1 - s.e * s.p) / s.e};
}
EdgeRecord Sweep244(const PatternSpace &s) {
    return {0, Q(s, s.e), (s.e * s.W * (1 - s.p) - s.H) / (s.e * s.W)};
}

constexpr WipePoint kOrigin{0, 0};

// ---- shared builders -------------------------------------------------------------

void AddAll(EdgeSet &out, std::initializer_list<EdgeRecord> edges) {
    for (const EdgeRecord &e : edges)
        out.Add(e);
}

// Turns edges [from, out.n) about the centre; an angle of exactly 0 leaves them alone.
void TurnAll(EdgeSet &out, int from, double theta, WipePoint p) {
    if (theta == 0) return;
    for (int k = from; k < out.n; ++k)
        out.edge[k] = Turn(out.edge[k], theta, p);
}
void MoveAll(EdgeSet &out, int from, int to, double dx, double dy) {
    for (int k = from; k < to; ++k)
        out.edge[k] = Move(out.edge[k], dx, dy);
}

// 43 and 44: four half-planes turned toward the frame diagonals.
void Diagonals43(const PatternSpace &s, EdgeSet &out) {
    const double g = s.H / std::sqrt(s.W * s.W + s.H * s.H), phi = std::atan(s.W / s.H);
    const WipePoint c = s.Centre();
    const EdgeRecord base = Lft(s, s.e / g);
    for (double theta : {-phi, phi - kPi, kPi - phi, phi})
        out.Add(ScaleAbout(Turn(base, theta, c), g, c));
}

// 45 and 46: one band along a frame diagonal.
void DiagonalBand(const PatternSpace &s, EdgeSet &out, double sign) {
    const double hX = 2 * s.H / std::sqrt(s.W * s.W + s.H * s.H);
    const WipePoint c = s.Centre();
    const double theta = sign * std::atan(s.W / s.H);
    for (EdgeRecord e : {Band21Left(s, s.e / hX), Band21Right(s, s.e / hX)})
        out.Add(ScaleAbout(Turn(e, theta, c), hX, c));
}

// 65 to 68: two vees, each a pair of 21 turned about one point and scaled about another.
struct VeeHalf {
    double theta;
    WipePoint turnAbout, scaleAbout;
};
void TwoVees(const PatternSpace &s, EdgeSet &out, double f, VeeHalf first, VeeHalf second) {
    for (const VeeHalf &half : {first, second})
        for (EdgeRecord e : {Band21Left(s, s.e / f), Band21Right(s, s.e / f)})
            out.Add(ScaleAbout(Turn(e, half.theta, half.turnAbout), f, half.scaleAbout));
}

// The teeth of 71 and 73 (ten edges from `base`, before the final move).
void Teeth71(const PatternSpace &s, EdgeSet &out, EdgeRecord base) {
    const double tooth = s.H / 10;
    const EdgeRecord e0 = Move(Turn(base, kPi / 4, kOrigin), -tooth, 0);
    const EdgeRecord e1 = Move(Turn(base, -kPi / 4, kOrigin), 0, tooth);
    out.Add(e0);
    out.Add(e1);
    for (int k = 1; k <= 4; ++k) {
        out.Add(Move(e0, 0, 2 * k * tooth));
        out.Add(Move(e1, 0, 2 * k * tooth));
    }
}
// The teeth of 72 and 74 (sixteen edges from `base`, before the final move).
void Teeth72(const PatternSpace &s, EdgeSet &out, EdgeRecord base) {
    const double u = s.W / 16;
    const EdgeRecord e0 = Move(Turn(base, -kPi / 4, kOrigin), 0, -u);
    const EdgeRecord e1 = Move(Turn(base, kPi / 4, kOrigin), u, 0);
    out.Add(e0);
    out.Add(e1);
    for (int k = 1; k <= 7; ++k) {
        out.Add(Move(e0, k * s.W / 8, 0));
        out.Add(Move(e1, k * s.W / 8, 0));
    }
}

// Shapes about the frame centre whose first edge is edge 0 of 21 built with
// e/F and scaled back by 1/F; `turns` gives the other edges as turns of it.
EdgeRecord CentredBase21(const PatternSpace &s, double f) {
    return ScaleAbout(Band21Left(s, s.e / f), f, s.Centre());
}
EdgeRecord CentredBase22(const PatternSpace &s, double f) {
    return ScaleAbout(Band22Top(s, s.e / f), f, s.Centre());
}

// 103 to 106: a triangle, then the whole turned by `whole`.
void Triangle(const PatternSpace &s, EdgeSet &out, double f, double whole) {
    const WipePoint c = s.Centre();
    const EdgeRecord e0 = CentredBase21(s, f);
    AddAll(out, {e0, Turn(e0, 2 * kPi / 3, c), Turn(e0, -2 * kPi / 3, c)});
    TurnAll(out, 0, whole, c);
}

// 107 to 110: an arrow head, then the whole turned by `whole`.
void Arrow(const PatternSpace &s, EdgeSet &out, double f, double whole) {
    const WipePoint c = s.Centre();
    const EdgeRecord base = CentredBase21(s, f);
    AddAll(out, {Turn(base, 2.827433388230814, c), Turn(base, kPi / 10, c),
                 Turn(base, -2.0420352248333655, c), Turn(base, -1.0995574287564276, c)});
    TurnAll(out, 0, whole, c);
}

// 111 to 114: regular polygons, each edge the previous one turned by `step`.
void Polygon(const PatternSpace &s, EdgeSet &out, double f, double firstTurn, int sides,
             double step) {
    const WipePoint c = s.Centre();
    EdgeRecord e = CentredBase22(s, f);
    if (firstTurn != 0) e = Turn(e, firstTurn, c);
    out.Add(e);
    for (int k = 1; k < sides; ++k)
        out.Add(e = Turn(e, step, c));
}

// 201 to 204: a clock pair with one edge turned by -2*pi*p about the centre.
void Clock(const PatternSpace &s, EdgeSet &out, EdgeRecord e0, EdgeRecord e1, int turned) {
    const double theta = -2 * kPi * s.p;
    out.Add(turned == 0 ? Turn(e0, theta, s.Centre()) : e0);
    out.Add(turned == 1 ? Turn(e1, theta, s.Centre()) : e1);
}

// ---- combinations ------------------------------------------------------------------
// Each is one generic expression over the edge keys e (doubles, or pairs of
// pixels), so the single and the pair forms do the same operations.

// Union: 1 - the product of all (1 - term), in order. Always inlined, so the
// wide loops compile it for their own instruction set (and its terms are
// references: no wide vector is passed by value outside a wide region).
template <class T, class... R>
[[gnu::always_inline]] inline T Or(const T &first, const R &...rest) {
    T left = 1 - first;
    ((left *= 1 - rest), ...);
    return 1 - left;
}

constexpr auto KeyE0 = [](const auto *e, double) { return e[0]; };
constexpr auto KeyNotE0 = [](const auto *e, double) { return 1 - e[0]; };
constexpr auto KeyAnd2 = [](const auto *e, double) { return e[0] * e[1]; };
constexpr auto KeyAnd3 = [](const auto *e, double) { return e[0] * e[1] * e[2]; };
constexpr auto KeyAnd4 = [](const auto *e, double) { return e[0] * e[1] * e[2] * e[3]; };
constexpr auto KeyAnd5 = [](const auto *e, double) { return e[0] * e[1] * e[2] * e[3] * e[4]; };
constexpr auto KeyAnd6 = [](const auto *e, double) {
    return e[0] * e[1] * e[2] * e[3] * e[4] * e[5];
};
constexpr auto KeyOr2 = [](const auto *e, double) { return Or(e[0], e[1]); };
constexpr auto KeyOrPairs2 = [](const auto *e, double) { return Or(e[0] * e[1], e[2] * e[3]); };
constexpr auto KeyOrPairs4 = [](const auto *e, double) {
    return Or(e[0] * e[1], e[2] * e[3], e[4] * e[5], e[6] * e[7]);
};
constexpr auto KeyOrPairs5 = [](const auto *e, double) __attribute__((always_inline)) {
    return Or(e[0] * e[1], e[2] * e[3], e[4] * e[5], e[6] * e[7], e[8] * e[9]);
};
constexpr auto KeyOrPairs8 = [](const auto *e, double) __attribute__((always_inline)) {
    return Or(e[0] * e[1], e[2] * e[3], e[4] * e[5], e[6] * e[7], e[8] * e[9], e[10] * e[11],
              e[12] * e[13], e[14] * e[15]);
};
// 7: four boxes from the corners (e0/e1 left/right halves, e2/e3 top/bottom).
constexpr auto Key7 = [](const auto *e, double) {
    return 1 - (1 - e[1] * e[3]) * (1 - e[1] * e[2]) * (1 - e[0] * e[3]) * (1 - e[0] * e[2]);
};
// 8: four boxes about the quadrant centres (e0, e1 and e2, e3 the vertical
// pairs at W/4 and 3W/4; e4, e5 and e6, e7 the horizontal pairs at H/4 and 3H/4).
constexpr auto Key8 = [](const auto *e, double) {
    return Or(e[0] * e[1] * e[4] * e[5], e[2] * e[3] * e[4] * e[5], e[0] * e[1] * e[6] * e[7],
              e[2] * e[3] * e[6] * e[7]);
};
constexpr auto Key44 = [](const auto *e, double) { return Or(e[0] * e[3], e[1] * e[2]); };
// 73 and 74: the product of the two fronts' teeth (edges 0-9 and 10-19 of
// 73, 0-15 and 16-31 of 74).
constexpr auto Front73 = [](const auto *e) __attribute__((always_inline)) {
    return Or(e[0] * e[1], e[2] * e[3], e[4] * e[5], e[6] * e[7], e[8] * e[9]);
};
constexpr auto Back73 = [](const auto *e) __attribute__((always_inline)) {
    return Or(e[10], e[19], e[11] * e[12], e[13] * e[14], e[15] * e[16], e[17] * e[18]);
};
constexpr auto Key73 = [](const auto *e, double) __attribute__((always_inline)) {
    return Front73(e) * Back73(e);
};
constexpr auto Front74 = [](const auto *e) __attribute__((always_inline)) {
    return Or(e[0] * e[1], e[2] * e[3], e[4] * e[5], e[6] * e[7], e[8] * e[9], e[10] * e[11],
              e[12] * e[13], e[14] * e[15]);
};
constexpr auto Back74 = [](const auto *e) __attribute__((always_inline)) {
    return Or(e[16], e[31], e[17] * e[18], e[19] * e[20], e[21] * e[22], e[23] * e[24],
              e[25] * e[26], e[27] * e[28], e[29] * e[30]);
};
constexpr auto Key74 = [](const auto *e, double) __attribute__((always_inline)) {
    return Front74(e) * Back74(e);
};
constexpr auto KeyArrow = [](const auto *e, double) { return e[0] * e[1] * Or(e[2], e[3]); };
constexpr auto Key127 = [](const auto *e, double) {
    return Or(e[1], e[4]) * Or(e[0], e[7]) * Or(e[2], e[5]) * Or(e[3], e[6]);
};
constexpr auto Key128 = [](const auto *e, double) __attribute__((always_inline)) {
    return Or(e[0], e[1]) * Or(e[1], e[2]) * Or(e[2], e[3]) * Or(e[3], e[4]) * Or(e[4], e[0]);
};
constexpr auto Key129 = [](const auto *e, double) {
    return Or(e[0] * e[1] * e[2], e[3] * e[4] * e[5]);
};
// The swept wedge is the intersection of the two half-planes until it passes
// half a turn, their union afterwards. Min and Max choose as std::min and
// std::max do; a list is taken from the left.
constexpr auto KeyClock = [](const auto *e, double p) {
    return p < 0.5 ? Min(e[0], e[1]) : Max(e[0], e[1]);
};
constexpr auto Key227 = [](const auto *e, double p) {
    return p < 0.5 ? Max(e[0], e[1]) : Min(e[0], e[1]);
};
constexpr auto Key261 = [](const auto *e, double p) {
    return p > 0.5 ? Max(Max(e[0], e[1]), e[2]) : Min(Min(e[0], e[1]), e[2]);
};
constexpr auto Key263 = [](const auto *e, double p) {
    return p >= 0.5 ? Max(Max(Max(e[0], e[1]), e[2]), e[3]) : Max(Min(e[0], e[1]), Min(e[2], e[3]));
};

constexpr EdgeKeyKind kClamped = EdgeKeyKind::kClamped;
constexpr EdgeKeyKind kPlain = EdgeKeyKind::kPlain;
constexpr QuickOut kNone = QuickOut::kNone;

using S = const PatternSpace &;
using O = EdgeSet &;

// clang-format off
constexpr WipePattern kPatterns[] = {
    // ---- bars and boxes ----
    {1, 1, kClamped, kNone, [](S s, O o) { o.Add(Lft(s, s.e)); }, KeyE0},
    {2, 1, kClamped, kNone, [](S s, O o) { o.Add(Top(s, s.e)); }, KeyE0},
    {3, 2, kClamped, kNone, [](S s, O o) { AddAll(o, {Lft(s, s.e), Top(s, s.e)}); }, KeyAnd2},
    {4, 2, kClamped, kNone, [](S s, O o) { AddAll(o, {Rgt(s, s.e), Top(s, s.e)}); }, KeyAnd2},
    {5, 2, kClamped, kNone, [](S s, O o) { AddAll(o, {Rgt(s, s.e), Bot(s, s.e)}); }, KeyAnd2},
    {6, 2, kClamped, kNone, [](S s, O o) { AddAll(o, {Lft(s, s.e), Bot(s, s.e)}); }, KeyAnd2},
    {7, 4, kClamped, kNone, [](S s, O o) {
        const double e = s.e, p = s.p, q = Q(s, e), eW = e * s.W;
        AddAll(o, {{q, 0, (e - p * (0.5 + e)) / e},
                   {-q, 0, (1 + e - p * (0.5 + e)) / e},
                   {0, q, (eW - p * (s.H / 2 + eW)) / eW},
                   {0, -q, (eW + s.H - p * (s.H / 2 + eW)) / eW}});
    }, Key7},
    {8, 8, kClamped, kNone, [](S s, O o) {
        // Each pair moves apart from its centre line by p*(0.25 + e) widths
        // (vertically p*(H/4 + e*W) pixels), on the model of 21 and 22.
        const double e = s.e, p = s.p, q = Q(s, e), eW = e * s.W, H = s.H;
        for (double centre : {0.25, 0.75})
            AddAll(o, {{q, 0, (e - centre - p * (0.25 + e)) / e},
                       {-q, 0, (e + centre - p * (0.25 + e)) / e}});
        for (double centre : {H / 4, 3 * H / 4})
            AddAll(o, {{0, q, (eW - centre - p * (H / 4 + eW)) / eW},
                       {0, -q, (centre + eW - p * (H / 4 + eW)) / eW}});
    }, Key8},
    {21, 2, kClamped, kNone, [](S s, O o) { AddAll(o, {Band21Left(s, s.e), Band21Right(s, s.e)}); }, KeyAnd2},
    {22, 2, kClamped, kNone, [](S s, O o) { AddAll(o, {Band22Top(s, s.e), Band22Bottom(s, s.e)}); }, KeyAnd2},
    {23, 3, kClamped, kNone, [](S s, O o) { AddAll(o, {Band21Left(s, s.e), Band21Right(s, s.e), Top(s, s.e)}); }, KeyAnd3},
    {24, 3, kClamped, kNone, [](S s, O o) { AddAll(o, {Band22Top(s, s.e), Band22Bottom(s, s.e), Rgt(s, s.e)}); }, KeyAnd3},
    {25, 3, kClamped, kNone, [](S s, O o) { AddAll(o, {Band21Left(s, s.e), Band21Right(s, s.e), Bot(s, s.e)}); }, KeyAnd3},
    {26, 3, kClamped, kNone, [](S s, O o) { AddAll(o, {Band22Top(s, s.e), Band22Bottom(s, s.e), Lft(s, s.e)}); }, KeyAnd3},

    // ---- diagonals ----
    {41, 1, kClamped, kNone, [](S s, O o) {
        // g is the sine of the frame-diagonal angle atan(H/W).
        const double g = s.H / std::sqrt(s.W * s.W + s.H * s.H);
        o.Add({g / (s.e * s.W), g / (s.e * s.H), 1 - s.p * (1 + 2 * g / s.e)});
    }, KeyE0},
    {42, 1, kClamped, kNone, [](S s, O o) {
        const double g = s.H / std::sqrt(s.W * s.W + s.H * s.H);
        o.Add({g / (s.e * s.W), -g / (s.e * s.H), s.p * (1 + 2 * g / s.e) - g / s.e});
    }, KeyNotE0},
    {43, 4, kClamped, kNone, Diagonals43, KeyOrPairs2},
    {44, 4, kClamped, kNone, Diagonals43, Key44},
    {45, 2, kClamped, kNone, [](S s, O o) { DiagonalBand(s, o, -1); }, KeyAnd2},
    {46, 2, kClamped, kNone, [](S s, O o) { DiagonalBand(s, o, 1); }, KeyAnd2},
    {47, 4, kClamped, kNone, [](S s, O o) {
        const double g = s.H / std::sqrt(s.W * s.W + s.H * s.H), phi = std::atan(s.W / s.H);
        const WipePoint c = s.Centre();
        for (double theta : {phi, -phi})
            for (EdgeRecord e : {Band21Left(s, s.e / g), Band21Right(s, s.e / g)})
                o.Add(ScaleAbout(Turn(e, theta, c), g, c));
    }, KeyOrPairs2},
    {48, 8, kClamped, kNone, [](S s, O o) {
        const double f = std::sqrt(s.W * s.W + s.H * s.H) / (2 * s.W), phi = std::atan(s.W / s.H);
        const WipePoint c = s.Centre();
        struct Band { double theta, dx, dy; };
        for (Band band : {Band{phi, -s.W / 4, s.H / 4}, Band{phi, s.W / 4, -s.H / 4},
                          Band{-phi, -s.W / 4, -s.H / 4}, Band{-phi, s.W / 4, s.H / 4}})
            for (EdgeRecord e : {Band21Left(s, s.e / f), Band21Right(s, s.e / f)})
                o.Add(Move(ScaleAbout(Turn(e, band.theta, c), f, c), band.dx, band.dy));
    }, KeyOrPairs4},

    // ---- vees ----
    {61, 2, kClamped, kNone, [](S s, O o) {
        const double f = s.H / std::sqrt(s.W * s.W / 4 + s.H * s.H), theta = std::atan(s.W / (2 * s.H));
        const WipePoint corner{0, s.H};
        const EdgeRecord e0 = ScaleAbout(Turn(Lft(s, s.e / f), -theta, corner), f, corner);
        AddAll(o, {e0, Turn(e0, 2 * theta - kPi, {s.W / 2, 0})});
    }, KeyAnd2},
    {62, 2, kClamped, kNone, [](S s, O o) {
        const double f = 2 * s.H / std::sqrt(4 * s.W * s.W + s.H * s.H), theta = std::atan(2 * s.W / s.H);
        const WipePoint p{s.W, s.H / 2};
        const EdgeRecord base = Rgt(s, s.e / f);
        AddAll(o, {ScaleAbout(Turn(base, -theta, p), f, p), ScaleAbout(Turn(base, theta, p), f, p)});
    }, KeyAnd2},
    {63, 2, kClamped, kNone, [](S s, O o) {
        const double f = s.H / std::sqrt(s.W * s.W / 4 + s.H * s.H), theta = std::atan(s.W / (2 * s.H));
        const EdgeRecord e0 = ScaleAbout(Turn(Lft(s, s.e / f), theta, kOrigin), f, kOrigin);
        AddAll(o, {e0, Turn(e0, kPi - 2 * theta, {s.W / 2, s.H})});
    }, KeyAnd2},
    {64, 2, kClamped, kNone, [](S s, O o) {
        const double f = 2 * s.H / std::sqrt(4 * s.W * s.W + s.H * s.H), theta = std::atan(2 * s.W / s.H);
        const WipePoint p{0, s.H / 2};
        const EdgeRecord base = Lft(s, s.e / f);
        AddAll(o, {ScaleAbout(Turn(base, -theta, p), f, p), ScaleAbout(Turn(base, theta, p), f, p)});
    }, KeyAnd2},
    {65, 4, kClamped, kNone, [](S s, O o) {
        const double theta = std::atan(s.W / (2 * s.H)), f = (2 * s.H / s.W) * std::sin(theta);
        TwoVees(s, o, f, {-theta, {s.W / 2, s.H}, {3 * s.W / 4, s.H / 2}},
                {theta, {s.W / 2, s.H}, {s.W / 4, s.H / 2}});
    }, KeyOrPairs2},
    {66, 4, kClamped, kNone, [](S s, O o) {
        const double f = 2 * std::sin(std::atan(s.H / (2 * s.W))), phi = std::atan(2 * s.W / s.H);
        const WipePoint low{s.W / 2, 3 * s.H / 4}, high{s.W / 2, s.H / 4};
        TwoVees(s, o, f, {phi, low, low}, {-phi, high, high});
    }, KeyOrPairs2},
    {67, 4, kClamped, kNone, [](S s, O o) {
        const double theta = std::atan(s.W / (2 * s.H)), f = (2 * s.H / s.W) * std::sin(theta);
        TwoVees(s, o, f, {-theta, {s.W / 2, 0}, {s.W / 4, s.H / 2}},
                {theta, {s.W / 2, 0}, {3 * s.W / 4, s.H / 2}});
    }, KeyOrPairs2},
    {68, 4, kClamped, kNone, [](S s, O o) {
        const double f = 2 * std::sin(std::atan(s.H / (2 * s.W))), phi = std::atan(2 * s.W / s.H);
        const WipePoint low{s.W / 2, 3 * s.H / 4}, high{s.W / 2, s.H / 4};
        TwoVees(s, o, f, {phi, high, high}, {-phi, low, low});
    }, KeyOrPairs2},

    // ---- zig-zags ----
    {71, 10, kClamped, QuickOut::kSidesX, [](S s, O o) {
        const double tooth = s.H / 10, e = s.e, W = s.W;
        Teeth71(s, o, {Q(s, e), 0, 1 - s.p});
        MoveAll(o, 0, o.n, (W + tooth) * s.p, 0);
        o.bounds[0] = ((e + 1) * W + tooth) * s.p - tooth - 1.5 * e * W;
        o.bounds[1] = ((1.5 * e + 1) * W + tooth) * s.p;
    }, KeyOrPairs5},
    {72, 16, kPlain, QuickOut::kSidesY, [](S s, O o) {
        const double u = s.W / 16, e = s.e, H = s.H;
        Teeth72(s, o, {0, Q(s, e), 1 - s.p});
        MoveAll(o, 0, o.n, 0, (H + u) * s.p);
        o.bounds[0] = ((H + u) - H * e) * s.p - u - 1.5 * e * s.W;
        o.bounds[1] = (H + u) * s.p + 1.5 * e * s.W;
    }, KeyOrPairs8},
    {73, 20, kPlain, QuickOut::kBandX, [](S s, O o) {
        const double tooth = s.H / 10, W = s.W, m = (W + tooth) * s.p, b = 1.5 * s.e * W;
        Teeth71(s, o, {Q(s, s.e), 0, 1 - s.p});
        Teeth71(s, o, {-Q(s, s.e), 0, 1 - s.p});
        MoveAll(o, 0, 10, (W + m) / 2 + tooth / 2, 0);
        MoveAll(o, 10, 20, W / 2 + tooth / 2 - m / 2, 0);
        o.bounds[0] = W / 2 - tooth / 2 - m / 2 - b;
        o.bounds[1] = W / 2 + tooth / 2 + m / 2 + b;
        o.bounds[2] = W / 2 + tooth / 2 - m / 2 + b;
        o.bounds[3] = W / 2 - tooth / 2 + m / 2 - b;
    }, Key73},
    {74, 32, kPlain, QuickOut::kBandY, [](S s, O o) {
        const double u = s.W / 16, v = s.W / 32, H = s.H, m = (H + u) * s.p, b = 1.5 * s.e * s.W;
        Teeth72(s, o, {0, Q(s, s.e), 1 - s.p});
        Teeth72(s, o, {0, -Q(s, s.e), 1 - s.p});
        MoveAll(o, 0, 16, 0, (H + m) / 2 + v);
        MoveAll(o, 16, 32, 0, H / 2 + v - m / 2);
        o.bounds[0] = H / 2 - v - m / 2 - b;
        o.bounds[1] = H / 2 + v + m / 2 + b;
        o.bounds[2] = H / 2 + v - m / 2 + b;
        o.bounds[3] = H / 2 - v + m / 2 - b;
    }, Key74},

    // ---- irises, triangles, arrows, polygons ----
    {101, 4, kClamped, kNone, [](S s, O o) {
        const EdgeRecord e0 = Band21Left(s, s.e), e1 = Band21Right(s, s.e);
        AddAll(o, {e0, e1, Turn(e0, kPi / 2, s.Centre()), Turn(e1, kPi / 2, s.Centre())});
    }, KeyAnd4},
    {102, 4, kClamped, kNone, [](S s, O o) {
        const double f = std::sqrt(s.W * s.W + s.H * s.H) / s.W;
        const WipePoint c = s.Centre();
        const EdgeRecord e0 = Band21Left(s, s.e / f), e1 = Band21Right(s, s.e / f);
        for (EdgeRecord e : {e0, e1, Turn(e0, kPi / 2, c), Turn(e1, kPi / 2, c)})
            o.Add(ScaleAbout(Turn(e, kPi / 4, c), f, c));
    }, KeyAnd4},
    {103, 3, kClamped, kNone, [](S s, O o) { Triangle(s, o, (s.H / s.W + std::sqrt(3.0)) / 2, -kPi / 2); }, KeyAnd3},
    {104, 3, kClamped, kNone, [](S s, O o) { Triangle(s, o, (s.H * std::sqrt(3.0) / s.W + 1) / 2, kPi); }, KeyAnd3},
    {105, 3, kClamped, kNone, [](S s, O o) { Triangle(s, o, (s.H / s.W + std::sqrt(3.0)) / 2, kPi / 2); }, KeyAnd3},
    {106, 3, kClamped, kNone, [](S s, O o) { Triangle(s, o, (s.H * std::sqrt(3.0) / s.W + 1) / 2, 0); }, KeyAnd3},
    {107, 4, kClamped, kNone, [](S s, O o) { Arrow(s, o, s.H * std::sin(kPi / 10) / s.W + std::cos(kPi / 10), 0); }, KeyArrow},
    {108, 4, kClamped, kNone, [](S s, O o) { Arrow(s, o, std::sin(kPi / 10) + s.H * std::cos(kPi / 10) / s.W, -kPi / 2); }, KeyArrow},
    {109, 4, kClamped, kNone, [](S s, O o) { Arrow(s, o, s.H * std::sin(kPi / 10) / s.W + std::cos(kPi / 10), kPi); }, KeyArrow},
    {110, 4, kClamped, kNone, [](S s, O o) { Arrow(s, o, std::sin(kPi / 10) + s.H * std::cos(kPi / 10) / s.W, kPi / 2); }, KeyArrow},
    {111, 5, kClamped, kNone, [](S s, O o) { Polygon(s, o, std::sqrt(s.W * s.W + s.H * s.H) / s.H, 0, 5, 2 * kPi / 5); }, KeyAnd5},
    {112, 5, kClamped, kNone, [](S s, O o) { Polygon(s, o, std::sqrt(s.W * s.W + s.H * s.H) / s.H, kPi, 5, 2 * kPi / 5); }, KeyAnd5},
    {113, 6, kClamped, kNone, [](S s, O o) { Polygon(s, o, (s.W * std::sqrt(3.0) / s.H + 1) / 2, 0, 6, kPi / 3); }, KeyAnd6},
    {114, 6, kClamped, kNone, [](S s, O o) { Polygon(s, o, (s.W / s.H + std::sqrt(3.0)) / 2, kPi / 2, 6, kPi / 3); }, KeyAnd6},

    // ---- stars ----
    {127, 8, kClamped, kNone, [](S s, O o) {
        const WipePoint c = s.Centre();
        const EdgeRecord base = CentredBase21(s, std::cos(kPi / 10) * s.H / s.W + std::sin(kPi / 10));
        for (double start : {-kPi / 10, kPi / 10})
            for (int k = 0; k < 4; ++k) o.Add(Turn(base, start + k * kPi / 2, c));
    }, Key127},
    {128, 5, kClamped, kNone, [](S s, O o) {
        const WipePoint c = s.Centre();
        EdgeRecord e = Turn(CentredBase21(s, std::cos(kPi / 5) / std::cos(kPi / 10)), kPi / 10, c);
        o.Add(e);
        for (int k = 1; k < 5; ++k) o.Add(e = Turn(e, 2 * kPi / 5, c));
    }, Key128},
    {129, 6, kClamped, kNone, [](S s, O o) {
        const WipePoint c = s.Centre();
        const EdgeRecord t0 = CentredBase21(s, std::sqrt(3.0) / 2);
        const EdgeRecord t1 = Turn(t0, 2 * kPi / 3, c), t2 = Turn(t0, -2 * kPi / 3, c);
        for (double theta : {-kPi / 2, kPi / 2})
            AddAll(o, {Turn(t0, theta, c), Turn(t1, theta, c), Turn(t2, theta, c)});
    }, Key129},

    // ---- clocks ----
    {201, 2, kClamped, kNone, [](S s, O o) { Clock(s, o, V0(s), V1(s), 0); }, KeyClock},
    {202, 2, kClamped, kNone, [](S s, O o) { Clock(s, o, H0(s), H1(s), 0); }, KeyClock},
    {203, 2, kClamped, kNone, [](S s, O o) { Clock(s, o, V0(s), V1(s), 1); }, KeyClock},
    {204, 2, kClamped, kNone, [](S s, O o) { Clock(s, o, H0(s), H1(s), 1); }, KeyClock},
    {205, 4, kPlain, kNone, [](S s, O o) {
        const double theta = -s.p * kPi;
        const WipePoint c = s.Centre();
        AddAll(o, {Turn(V0(s), theta, c), V1(s), V0(s), Turn(V1(s), theta, c)});
    }, KeyOrPairs2},
    {206, 4, kPlain, kNone, [](S s, O o) {
        const double theta = -s.p * kPi;
        const WipePoint c = s.Centre();
        AddAll(o, {Turn(H0(s), theta, c), H1(s), H0(s), Turn(H1(s), theta, c)});
    }, KeyOrPairs2},
    {207, 8, kPlain, kNone, [](S s, O o) {
        const double theta = -s.p * kPi / 2;
        const WipePoint c = s.Centre();
        AddAll(o, {Turn(V0(s), theta, c), V1(s), V0(s), Turn(V1(s), theta, c),
                   Turn(H0(s), theta, c), H1(s), H0(s), Turn(H1(s), theta, c)});
    }, KeyOrPairs4},
    // 211 and 212 take the clock's rule (min before half-way, max after) so
    // that progress 0 shows B and progress 1 shows A.
    {211, 2, kPlain, kNone, [](S s, O o) {
        const WipePoint c = s.Centre();
        AddAll(o, {Turn(V0(s), -s.p * kPi, c), Turn(V1(s), s.p * kPi, c)});
    }, KeyClock},
    {212, 2, kPlain, kNone, [](S s, O o) {
        const WipePoint c = s.Centre();
        AddAll(o, {Turn(V0(s), -(s.p + 0.5) * kPi, c), Turn(V1(s), (s.p - 0.5) * kPi, c)});
    }, KeyClock},
    {213, 4, kPlain, kNone, [](S s, O o) {
        const double theta = s.p * kPi / 2;
        const WipePoint c = s.Centre();
        AddAll(o, {Turn(V0(s), -theta, c), Turn(V1(s), theta, c), Turn(V0(s), theta, c),
                   Turn(V1(s), -theta, c)});
    }, KeyOrPairs2},
    {214, 4, kPlain, kNone, [](S s, O o) {
        const double less = (1 - s.p) * kPi / 2, more = (1 + s.p) * kPi / 2;
        const WipePoint c = s.Centre();
        AddAll(o, {Turn(V0(s), less, c), Turn(V1(s), more, c), Turn(V0(s), more, c),
                   Turn(V1(s), less, c)});
    }, KeyOrPairs2},

    // ---- single-edge sweeps and fans ----
    {221, 1, kPlain, kNone, [](S s, O o) { o.Add(Turn(V1(s), (0.5 - s.p) * kPi, {s.W / 2, 0})); }, KeyE0},
    {222, 1, kPlain, kNone, [](S s, O o) { o.Add(Turn(H1(s), (0.5 - s.p) * kPi, {s.W, s.H / 2})); }, KeyE0},
    {223, 1, kPlain, kNone, [](S s, O o) { o.Add(Turn(V0(s), (0.5 - s.p) * kPi, {s.W / 2, s.H})); }, KeyE0},
    {224, 1, kPlain, kNone, [](S s, O o) { o.Add(Turn(H0(s), (0.5 - s.p) * kPi, {0, s.H / 2})); }, KeyE0},
    {225, 2, kPlain, kNone, [](S s, O o) {
        const double theta = (1 - s.p) * kPi / 2;
        AddAll(o, {Turn(V0(s), theta, {s.W / 2, s.H}), Turn(V1(s), theta, {s.W / 2, 0})});
    }, KeyOr2},
    {226, 2, kPlain, kNone, [](S s, O o) {
        const double theta = (1 - s.p) * kPi / 2;
        AddAll(o, {Turn(H0(s), theta, {0, s.H / 2}), Turn(H1(s), theta, {s.W, s.H / 2})});
    }, KeyOr2},
    {227, 2, kPlain, kNone, [](S s, O o) {
        AddAll(o, {Turn(V1(s), (s.p - 0.5) * kPi, {s.W / 2, s.H}),
                   Turn(V1(s), (0.5 - s.p) * kPi, {s.W / 2, 0})});
    }, Key227},
    {228, 2, kPlain, kNone, [](S s, O o) {
        AddAll(o, {Turn(H0(s), (s.p - 0.5) * kPi, {s.W, s.H / 2}),
                   Turn(H0(s), (0.5 - s.p) * kPi, {0, s.H / 2})});
    }, Key227},
    {231, 2, kPlain, kNone, [](S s, O o) {
        const double theta = s.p * kPi / 2;
        AddAll(o, {Turn(V0(s), theta, {s.W / 2, 0}), Turn(V1(s), -theta, {s.W / 2, 0})});
    }, KeyAnd2},
    {232, 2, kPlain, kNone, [](S s, O o) {
        const double theta = s.p * kPi / 2;
        AddAll(o, {Turn(H0(s), theta, {s.W, s.H / 2}), Turn(H1(s), -theta, {s.W, s.H / 2})});
    }, KeyAnd2},
    {233, 2, kPlain, kNone, [](S s, O o) {
        const double theta = s.p * kPi / 2;
        AddAll(o, {Turn(V0(s), -theta, {s.W / 2, s.H}), Turn(V1(s), theta, {s.W / 2, s.H})});
    }, KeyAnd2},
    {234, 2, kPlain, kNone, [](S s, O o) {
        const double theta = s.p * kPi / 2;
        AddAll(o, {Turn(H0(s), -theta, {0, s.H / 2}), Turn(H1(s), theta, {0, s.H / 2})});
    }, KeyAnd2},
    {235, 4, kPlain, kNone, [](S s, O o) {
        const double theta = s.p * kPi / 2;
        const WipePoint bottom{s.W / 2, s.H}, top{s.W / 2, 0};
        AddAll(o, {Turn(V0(s), -theta, bottom), Turn(V1(s), theta, bottom),
                   Turn(V0(s), theta, top), Turn(V1(s), -theta, top)});
    }, KeyAnd4},
    {236, 4, kPlain, kNone, [](S s, O o) {
        const double theta = s.p * kPi / 2;
        const WipePoint left{0, s.H / 2}, right{s.W, s.H / 2};
        AddAll(o, {Turn(H0(s), -theta, left), Turn(H1(s), theta, left),
                   Turn(H0(s), theta, right), Turn(H1(s), -theta, right)});
    }, KeyAnd4},
    {241, 1, kPlain, kNone, [](S s, O o) { o.Add(Turn(Sweep241(s), (1 - s.p) * kPi / 2, kOrigin)); }, KeyE0},
    {242, 1, kPlain, kNone, [](S s, O o) { o.Add(Turn(Sweep242(s), (1 - s.p) * kPi / 2, {s.W, 0})); }, KeyE0},
    {243, 1, kPlain, kNone, [](S s, O o) { o.Add(Turn(Sweep243(s), (1 - s.p) * kPi / 2, {s.W, s.H})); }, KeyE0},
    {244, 1, kPlain, kNone, [](S s, O o) { o.Add(Turn(Sweep244(s), (1 - s.p) * kPi / 2, {0, s.H})); }, KeyE0},
    {245, 2, kPlain, kNone, [](S s, O o) {
        const double theta = kPi / 2 - std::atan(s.H / s.W) * s.p;
        AddAll(o, {Turn(Sweep241(s), theta, kOrigin), Turn(Sweep243(s), theta, {s.W, s.H})});
    }, KeyOr2},
    {246, 2, kPlain, kNone, [](S s, O o) {
        const double theta = kPi / 2 - std::atan(s.W / s.H) * s.p;
        AddAll(o, {Turn(Sweep242(s), theta, {s.W, 0}), Turn(Sweep244(s), theta, {0, s.H})});
    }, KeyOr2},
    {251, 2, kPlain, kNone, [](S s, O o) {
        AddAll(o, {Turn(Sweep243(s), (s.p - 1) * kPi / 2, {s.W, 0}),
                   Turn(Sweep241(s), (1 - s.p) * kPi / 2, kOrigin)});
    }, KeyAnd2},
    {252, 2, kPlain, kNone, [](S s, O o) {
        AddAll(o, {Turn(Sweep244(s), (1 - s.p) * kPi / 2, {0, s.H}),
                   Turn(Sweep242(s), (s.p - 1) * kPi / 2, kOrigin)});
    }, KeyAnd2},
    {253, 2, kPlain, kNone, [](S s, O o) {
        AddAll(o, {Turn(Sweep243(s), (1 - s.p) * kPi / 2, {s.W, s.H}),
                   Turn(Sweep241(s), (s.p - 1) * kPi / 2, {0, s.H})});
    }, KeyAnd2},
    {254, 2, kPlain, kNone, [](S s, O o) {
        AddAll(o, {Turn(Sweep244(s), (s.p - 1) * kPi / 2, {s.W, s.H}),
                   Turn(Sweep242(s), (1 - s.p) * kPi / 2, {s.W, 0})});
    }, KeyAnd2},
    {261, 3, kPlain, kNone, [](S s, O o) {
        const double theta = 2 * kPi * s.p;
        AddAll(o, {V1(s), Turn(V0(s), -theta, {s.W / 2, 3 * s.H / 4}),
                   Turn(V0(s), theta, {s.W / 2, s.H / 4})});
    }, Key261},
    {262, 3, kPlain, kNone, [](S s, O o) {
        const double theta = 2 * kPi * s.p;
        AddAll(o, {H0(s), Turn(H1(s), -theta, {3 * s.W / 4, s.H / 2}),
                   Turn(H1(s), theta, {s.W / 4, s.H / 2})});
    }, Key261},
    {263, 4, kPlain, kNone, [](S s, O o) {
        const double theta = s.p * kPi;
        const WipePoint low{s.W / 2, 3 * s.H / 4}, high{s.W / 2, s.H / 4};
        AddAll(o, {Turn(V1(s), -theta, low), Turn(V0(s), theta, low),
                   Turn(V1(s), theta, high), Turn(V0(s), -theta, high)});
    }, Key263},
    {264, 4, kPlain, kNone, [](S s, O o) {
        const double theta = s.p * kPi;
        const WipePoint right{3 * s.W / 4, s.H / 2}, left{s.W / 4, s.H / 2};
        AddAll(o, {Turn(H0(s), -theta, right), Turn(H1(s), theta, right),
                   Turn(H0(s), theta, left), Turn(H1(s), -theta, left)});
    }, Key263},
};
// clang-format on

constexpr bool Ascending() {
    for (size_t i = 1; i < std::size(kPatterns); ++i)
        if (kPatterns[i - 1].number >= kPatterns[i].number) return false;
    return true;
}
static_assert(Ascending(), "wipe patterns are looked up by number in ascending order");

// The soft keys of a row are most of a wipe's work, so each pattern gets a
// key loop with its edge count and combination compiled in. It evaluates
// exactly the expressions PatternKeyAt does, so the keys are the same.
//
// A range handed to it usually lies between two breakpoints, where most edges
// are on one side of their band throughout: a*x + g is monotone in x also
// after rounding, so an edge whose ramp is <= 0 (or >= 1) at both ends of the
// range has that key on every pixel of it and is evaluated once.
template <size_t index>
struct RangeEdges {
    static constexpr int n = kPatterns[index].edges;
    double a[n], g[n], e[n];
    uint32_t soft = 0;  // bit k: edge k is evaluated per pixel

    RangeEdges(const WipeEdgeState &state, int32_t from, int32_t to) {
        for (int k = 0; k < n; ++k) {
            a[k] = state.edges[k].a;
            g[k] = state.rowConst[k];
            const double first = a[k] * from + g[k], last = a[k] * to + g[k];
            if (first <= 0 && last <= 0) {
                e[k] = 1;
            } else if (first >= 1 && last >= 1) {
                e[k] = 0;
            } else {
                e[k] = 0;
                soft |= uint32_t{1} << k;
            }
        }
    }
    bool Soft(int k) const { return (soft >> k) & 1; }
};

// The plain loop, one pixel at a time: the reference of the pair loop.
template <size_t index>
void KeysOver(const WipeEdgeState &state, int32_t from, int32_t to, float *keys) {
    constexpr WipePattern pattern = kPatterns[index];
    RangeEdges<index> r(state, from, to);
    const double p = state.progress;
    const bool quickOut = pattern.quickOut != QuickOut::kNone && !state.transformed;
    for (int32_t x = from; x <= to; ++x) {
        if constexpr (pattern.quickOut != QuickOut::kNone) {
            const double quick = quickOut ? QuickOutKey(pattern.quickOut, state, x) : -1;
            if (quick >= 0) {
                keys[x] = static_cast<float>(quick);
                continue;
            }
        }
        for (int k = 0; k < r.n; ++k)
            if (r.Soft(k)) r.e[k] = EdgeKeyOf<pattern.key>(r.a[k] * x + r.g[k]);
        keys[x] = static_cast<float>(pattern.combine.one(r.e, p));
    }
}

// The pair loop proper over [from, to], without the zig-zags' shortcut.
template <size_t index>
void PairsOver(const WipeEdgeState &state, int32_t from, int32_t to, float *keys) {
    constexpr WipePattern pattern = kPatterns[index];
    RangeEdges<index> r(state, from, to);
    KeyPair e[r.n], a[r.n], g[r.n];
    for (int k = 0; k < r.n; ++k) {
        e[k] = Pair(r.e[k]);
        a[k] = Pair(r.a[k]);
        g[k] = Pair(r.g[k]);
    }
    const double p = state.progress;
    int32_t x = from;
    KeyPair xs = Pair(x, x + 1.0);
    const KeyPair step = Pair(2);
    for (; x < to; x += 2, xs = xs + step) {
        if constexpr (r.n <= 8) {
            for (int k = 0; k < r.n; ++k)
                if (r.Soft(k)) e[k] = EdgeKeyOf<pattern.key>(a[k] * xs + g[k]);
        } else {
            // Many edges, few of them soft: visit only those.
            for (uint32_t m = r.soft; m != 0; m &= m - 1) {
                const int k = std::countr_zero(m);
                e[k] = EdgeKeyOf<pattern.key>(a[k] * xs + g[k]);
            }
        }
        StoreFloats(keys + x, pattern.combine.pair(e, p));
    }
    if (x == to) {
        for (int k = 0; k < r.n; ++k)
            if (r.Soft(k)) r.e[k] = EdgeKeyOf<pattern.key>(r.a[k] * x + r.g[k]);
        keys[x] = static_cast<float>(pattern.combine.one(r.e, p));
    }
}

// PatternKeyAt with the edge count and combination compiled in: the same
// shortcut, every edge's key and the combination.
template <size_t index>
double KeyAt(const WipeEdgeState &state, double x) {
    constexpr WipePattern pattern = kPatterns[index];
    if constexpr (pattern.quickOut != QuickOut::kNone) {
        if (!state.transformed) {
            const double quick = QuickOutKey(pattern.quickOut, state, x);
            if (quick >= 0) return quick;
        }
    }
    double e[pattern.edges] = {};
    const int n = std::min<int>(state.n, pattern.edges);
    for (int k = 0; k < n; ++k)
        e[k] = EdgeKeyOf<pattern.key>(state.edges[k].a * x + state.rowConst[k]);
    return pattern.combine.one(e, state.progress);
}

// ---- four and eight pixels at a time ------------------------------------------------
//
// The zig-zags' and the star's combinations are always inlined (above), so a wide loop runs
// them on its own lane type: edge keys and combination of four (AVX2) or
// eight (AVX-512) neighbouring pixels stay in registers. The other patterns'
// combinations run on the low and the high pair of four edge keys, as the
// pair loop runs them. Either way every key is the reference's.
template <int32_t number>
constexpr auto WideCombination() {
    if constexpr (number == 71) {
        return KeyOrPairs5;
    } else if constexpr (number == 72) {
        return KeyOrPairs8;
    } else if constexpr (number == 73) {
        return Key73;
    } else if constexpr (number == 74) {
        return Key74;
    } else if constexpr (number == 128) {
        return Key128;
    } else {
        return nullptr;
    }
}
template <size_t index>
constexpr bool HasWideCombination() {
    constexpr WipePattern pattern = kPatterns[index];
    constexpr auto combine = WideCombination<pattern.number>();
    if constexpr (std::is_same_v<decltype(combine), const std::nullptr_t>) {
        return false;
    } else {
        static_assert(KeyCombination(combine).one == pattern.combine.one,
                      "a wide combination is its table row's");
        return true;
    }
}

// The star's five edges in four lanes run slower than the split quads
// below, so its wide loop starts at eight lanes.
template <size_t index>
constexpr bool WideFromQuads() {
    return HasWideCombination<index>() && kPatterns[index].number != 128;
}

// A front's teeth in the order its Or() takes them: tooth i is the product
// of the keys of edges first[i] and second[i]; a tooth of one edge names as
// its second the slot past the pattern's edges, which holds the key 1 (a
// product with 1 is the other factor, bit for bit).
struct FrontTeeth {
    int count;
    int8_t first[9], second[9];
};
// The two fronts of a combination that is the product of their unions.
struct TwoFronts {
    FrontTeeth front, back;
};
template <int32_t number>
constexpr auto WideFronts() {
    if constexpr (number == 73) {
        return TwoFronts{{5, {0, 2, 4, 6, 8}, {1, 3, 5, 7, 9}},
                         {6, {10, 19, 11, 13, 15, 17}, {20, 20, 12, 14, 16, 18}}};
    } else if constexpr (number == 74) {
        return TwoFronts{
            {8, {0, 2, 4, 6, 8, 10, 12, 14}, {1, 3, 5, 7, 9, 11, 13, 15}},
            {9, {16, 31, 17, 19, 21, 23, 25, 27, 29}, {32, 32, 18, 20, 22, 24, 26, 28, 30}}};
    } else {
        return nullptr;
    }
}

// A front over one chunk, from the edges whose key is 0 (`zeros`) or 1
// (`ones`, with the slot of the constant 1) on the whole chunk: a tooth with
// an edge of key 0 is 0 and drops out of the union (1 - 0 is 1, a factor that
// changes no product); a tooth of edges of key 1 is 1 and makes the union 1;
// else the union is computed over the teeth left (`live`, bit i for tooth i),
// which read the edges `needed`.
enum class FrontValue { kZero, kOne, kLive };
[[gnu::always_inline]] inline FrontValue FrontOver(const FrontTeeth &teeth, uint64_t zeros,
                                                   uint64_t ones, uint32_t &live,
                                                   uint64_t &needed) {
    live = 0;
    uint64_t read = 0;
    for (int i = 0; i < teeth.count; ++i) {
        const uint64_t edges = (uint64_t{1} << teeth.first[i]) | (uint64_t{1} << teeth.second[i]);
        if (edges & zeros) continue;
        if ((edges & ~ones) == 0) return FrontValue::kOne;
        live |= uint32_t{1} << i;
        read |= edges;
    }
    if (live == 0) return FrontValue::kZero;
    needed |= read;
    return FrontValue::kLive;
}
// Or() over the live teeth, in their order: starting from 1 instead of from
// the first term is exact (1 * x is x).
template <class L>
[[gnu::always_inline]] inline L UnionOver(const FrontTeeth &teeth, uint32_t live, const L *e) {
    const L one = L::Splat(1);
    L left = one;
    for (uint32_t m = live; m != 0; m &= m - 1) {
        const int i = std::countr_zero(m);
        left = left * (1 - e[teeth.first[i]] * e[teeth.second[i]]);
    }
    return 1 - left;
}

// UnionOver of two blocks' keys at once: each block's product is a chain of
// dependent multiplications, and two chains side by side keep the core busy.
template <class L>
[[gnu::always_inline]] inline void TwoUnionsOver(const FrontTeeth &teeth, uint32_t live, const L *e,
                                                 const L *f, L &first, L &second) {
    L left = L::Splat(1), right = left;
    for (uint32_t m = live; m != 0; m &= m - 1) {
        const int i = std::countr_zero(m);
        left = left * (1 - e[teeth.first[i]] * e[teeth.second[i]]);
        right = right * (1 - f[teeth.first[i]] * f[teeth.second[i]]);
    }
    first = 1 - left;
    second = 1 - right;
}

// Bit k of `low` (`high`): edge k's ramp is <= 0 (>= 1) at column x.
template <int kGroups, class L>
[[gnu::always_inline]] inline void RampSides(const WipeEdgeState &state, int32_t x, uint32_t &low,
                                             uint32_t &high) {
    low = high = 0;
    for (int i = 0; i < kGroups; ++i) {
        const L t = L::Load(state.slope + i * L::kCount) * L::Splat(x) +
                    L::Load(state.rowConst + i * L::kCount);
        low |= Bits(LessEqual(t, L::Splat(0))) << (i * L::kCount);
        high |= Bits(LessEqual(L::Splat(1), t)) << (i * L::kCount);
    }
}

// Keys and combination in lanes of L (L::kCount pixels), always inlined into
// the loop of L's instruction set (as is all it calls: a lambda here would be
// compiled for the baseline).
//
// A zig-zag's span crosses many teeth, each edge soft on a short stretch of
// it, so the soft edges are found chunk by chunk (kChunkBlocks blocks): with
// the edges across lanes, an edge whose ramp is <= 0 (or >= 1) at both x and
// x + chunk has that key on the pixels between (a*x + g is monotone in x also
// after rounding); the ramps at the chunk's end are the next chunk's start.
// Such whole keys are 0 or 1, so the zig-zags' teeth over them are exactly 0
// or 1 (FrontOver): the loop leaves out the teeth of 0, takes a front with a
// tooth of 1 as 1, and computes only the edges the teeth left read.
// The last block's lanes past the range are computed but not stored.
constexpr int32_t kChunkBlocks = 4;

template <size_t index, class L>
[[gnu::always_inline]] inline void LanesOver(const WipeEdgeState &state, int32_t from, int32_t to,
                                             float *keys) {
    constexpr WipePattern pattern = kPatterns[index];
    constexpr auto combine = WideCombination<pattern.number>();
    constexpr auto fronts = WideFronts<pattern.number>();
    constexpr bool kTwoFronts = !std::is_same_v<decltype(fronts), const std::nullptr_t>;
    constexpr int n = pattern.edges, kGroups = (n + L::kCount - 1) / L::kCount;
    static_assert(kGroups * L::kCount <= kMaxEdges, "the state's arrays hold the lanes read");
    constexpr uint32_t kAll = n == 32 ? ~uint32_t{0} : (uint32_t{1} << n) - 1;
    const L zero = L::Splat(0), one = L::Splat(1);
    // e holds the keys of one block; f those of the block after it where two
    // blocks are computed at once.
    L e[n + 1], f[n + 1], a[n], g[n];
    for (int k = 0; k < n; ++k) {
        a[k] = L::Splat(state.slope[k]);
        g[k] = L::Splat(state.rowConst[k]);
    }
    e[n] = f[n] = one;  // the second edge of a tooth of one edge
    const double p = state.progress;
    constexpr int32_t kChunk = kChunkBlocks * L::kCount;
    uint32_t low0, high0;
    RampSides<kGroups, L>(state, from, low0, high0);
    uint32_t held = 0, heldOne = 0;  // edges whose e[k] holds a whole-chunk key, and which are 1
    for (int32_t chunk = from; chunk <= to; chunk += kChunk) {
        uint32_t low1, high1;
        RampSides<kGroups, L>(state, chunk + kChunk, low1, high1);
        const uint32_t low = low0 & low1, whole = kAll & (low | (high0 & high1));
        low0 = low1;
        high0 = high1;
        for (uint32_t m = whole & (~held | (heldOne ^ low)); m != 0; m &= m - 1) {
            const int k = std::countr_zero(m);
            e[k] = f[k] = (low >> k) & 1 ? one : zero;
        }
        held = whole;
        heldOne = low;
        const int32_t end = std::min(to, chunk + (kChunk - 1));
        uint32_t soft = kAll & ~whole;  // the edges computed block by block
        FrontValue front = FrontValue::kLive, back = FrontValue::kLive;
        uint32_t frontLive = 0, backLive = 0;
        if constexpr (kTwoFronts) {
            const uint64_t zeros = whole & ~low, ones = (whole & low) | (uint64_t{1} << n);
            uint64_t needed = 0;
            front = FrontOver(fronts.front, zeros, ones, frontLive, needed);
            back = FrontOver(fronts.back, zeros, ones, backLive, needed);
            if (front == FrontValue::kZero || back == FrontValue::kZero) {
                std::fill(keys + chunk, keys + end + 1, 0.0f);
                continue;
            }
            if (front == FrontValue::kOne && back == FrontValue::kOne) {
                std::fill(keys + chunk, keys + end + 1, 1.0f);
                continue;
            }
            soft &= static_cast<uint32_t>(needed);
        }
        int32_t x = chunk;
        if constexpr (kTwoFronts) {
            for (; end - x >= 2 * L::kCount - 1; x += 2 * L::kCount) {
                const L xs = L::Ramp(x), next = L::Ramp(x + L::kCount);
                for (uint32_t m = soft; m != 0; m &= m - 1) {
                    const int k = std::countr_zero(m);
                    e[k] = EdgeKeyLanes<pattern.key>(a[k] * xs + g[k]);
                    f[k] = EdgeKeyLanes<pattern.key>(a[k] * next + g[k]);
                }
                L key, keyNext;
                if (front == FrontValue::kOne) {
                    TwoUnionsOver(fronts.back, backLive, e, f, key, keyNext);
                } else if (back == FrontValue::kOne) {
                    TwoUnionsOver(fronts.front, frontLive, e, f, key, keyNext);
                } else {
                    L frontKey, frontNext;
                    TwoUnionsOver(fronts.front, frontLive, e, f, frontKey, frontNext);
                    TwoUnionsOver(fronts.back, backLive, e, f, key, keyNext);
                    key = frontKey * key;
                    keyNext = frontNext * keyNext;
                }
                StoreFloats(keys + x, key);
                StoreFloats(keys + x + L::kCount, keyNext);
            }
        }
        for (; x <= end; x += L::kCount) {
            const L xs = L::Ramp(x);
            for (uint32_t m = soft; m != 0; m &= m - 1) {
                const int k = std::countr_zero(m);
                e[k] = EdgeKeyLanes<pattern.key>(a[k] * xs + g[k]);
            }
            L key;
            if constexpr (kTwoFronts) {
                // A front of 1 leaves the other: 1 * x is x.
                key = front == FrontValue::kOne  ? UnionOver(fronts.back, backLive, e)
                      : back == FrontValue::kOne ? UnionOver(fronts.front, frontLive, e)
                                                 : UnionOver(fronts.front, frontLive, e) *
                                                       UnionOver(fronts.back, backLive, e);
            } else {
                key = combine(e, p);
            }
            if (end - x >= L::kCount - 1) {
                StoreFloats(keys + x, key);
            } else {
                StoreFloats(keys + x, key, end - x + 1);
            }
        }
    }
}

// KeyAt at several columns in lanes of L: the shortcut's answers where it
// has one (the comparisons of QuickOutKey lane by lane), every edge's key
// and the combination elsewhere.
template <size_t index, class L>
[[gnu::always_inline]] inline L LanesKeyAt(const WipeEdgeState &state, const L &x) {
    constexpr WipePattern pattern = kPatterns[index];
    constexpr auto combine = WideCombination<pattern.number>();
    constexpr QuickOut kind = pattern.quickOut;
    auto quickMask = Less(x, x);  // no lane
    L quick = L::Splat(0);
    if (kind != QuickOut::kNone && !state.transformed) {
        const double *b = state.bounds;
        const L v = kind == QuickOut::kSidesX || kind == QuickOut::kBandX ? x : L::Splat(state.y);
        const auto below = Less(v, L::Splat(b[0])), above = Less(L::Splat(b[1]), v);
        if constexpr (kind == QuickOut::kSidesX || kind == QuickOut::kSidesY) {
            quickMask = below | above;
            quick = Choose(below, L::Splat(1), L::Splat(0));
        } else {
            const auto inside = Less(L::Splat(b[2]), v) & Less(v, L::Splat(b[3]));
            quickMask = below | above | inside;
            quick = Choose(below | above, L::Splat(0), L::Splat(1));
        }
        if (AllOf(quickMask)) return quick;
    }
    // The columns of one call lie near each other, so most edges' ramps are
    // <= 0 (key 1) or >= 1 (key 0) in every lane, the values EdgeKeyLanes
    // gives there.
    const L zero = L::Splat(0), one = L::Splat(1);
    L e[pattern.edges];
    for (int k = 0; k < pattern.edges; ++k) {
        const L t = L::Splat(state.slope[k]) * x + L::Splat(state.rowConst[k]);
        if (AllOf(LessEqual(t, zero))) {
            e[k] = one;
        } else if (AllOf(LessEqual(one, t))) {
            e[k] = zero;
        } else {
            e[k] = EdgeKeyLanes<pattern.key>(t);
        }
    }
    return Choose(quickMask, quick, combine(e, state.progress));
}

template <size_t index, class L>
[[gnu::always_inline]] inline void LanesKeysAt(const WipeEdgeState &state, const double *xs,
                                               int32_t count, double *keys) {
    int32_t i = 0;
    for (; i + L::kCount <= count; i += L::kCount)
        L::Store(keys + i, LanesKeyAt<index, L>(state, L::Load(xs + i)));
    if (i == count) return;
    double lanes[L::kCount], answers[L::kCount];
    for (int32_t j = 0; j < L::kCount; ++j)
        lanes[j] = xs[std::min(i + j, count - 1)];
    L::Store(answers, LanesKeyAt<index, L>(state, L::Load(lanes)));
    std::copy(answers, answers + (count - i), keys + i);
}

#if defined(__x86_64__)
KVE_TARGET_AVX2_BEGIN
namespace quads {
using namespace key_quads;

// Patterns of few edges over short ranges stay with pairs: splitting their
// quads into pairs costs more than the wider ramps save there.
template <size_t index>
void QuadsOver(const WipeEdgeState &state, int32_t from, int32_t to, float *keys) {
    constexpr WipePattern pattern = kPatterns[index];
    if constexpr (WideFromQuads<index>()) {
        return LanesOver<index, Lanes>(state, from, to, keys);
    } else {
        if (to - from < 8) return PairsOver<index>(state, from, to, keys);
        RangeEdges<index> r(state, from, to);
        Lanes e[r.n], a[r.n], g[r.n];
        for (int k = 0; k < r.n; ++k) {
            e[k] = Splat(r.e[k]);
            a[k] = Splat(r.a[k]);
            g[k] = Splat(r.g[k]);
        }
        const double p = state.progress;
        int32_t x = from;
        Lanes xs = Ramp(x);
        const Lanes step = Splat(4);
        for (; x + 3 <= to; x += 4, xs = xs + step) {
            for (int k = 0; k < r.n; ++k)
                if (r.Soft(k)) e[k] = EdgeKeyOf<pattern.key>(a[k] * xs + g[k]);
            KeyPair low[r.n], high[r.n];
            for (int k = 0; k < r.n; ++k) {
                low[k] = {_mm256_castpd256_pd128(e[k].v)};
                high[k] = {_mm256_extractf128_pd(e[k].v, 1)};
            }
            StoreFloats(keys + x, pattern.combine.pair(low, p));
            StoreFloats(keys + x + 2, pattern.combine.pair(high, p));
        }
        if (x <= to) PairsOver<index>(state, x, to, keys);
    }
}

template <size_t index>
void QuadsKeysAt(const WipeEdgeState &state, const double *xs, int32_t count, double *keys) {
    LanesKeysAt<index, Lanes>(state, xs, count, keys);
}

}  // namespace quads
KVE_TARGET_END

KVE_TARGET_AVX512_BEGIN
namespace octs {

// Eight lanes for the zig-zags and the star; the other patterns keep the AVX2 loop.
template <size_t index>
void OctsOver(const WipeEdgeState &state, int32_t from, int32_t to, float *keys) {
    if constexpr (HasWideCombination<index>()) {
        return LanesOver<index, key_octs::Lanes>(state, from, to, keys);
    } else {
        return quads::QuadsOver<index>(state, from, to, keys);
    }
}

template <size_t index>
void OctsKeysAt(const WipeEdgeState &state, const double *xs, int32_t count, double *keys) {
    LanesKeysAt<index, key_octs::Lanes>(state, xs, count, keys);
}

}  // namespace octs
KVE_TARGET_END
#endif

// The loops the generator runs: two or four pixels at a time (kInner) with
// the reference's operations in the reference's order, lane by lane, so the
// keys are identical. Where the zig-zags' shortcut applies, its pixels are
// written directly and the inner loop runs on the stretches between them.
template <size_t index, WipeKeyRange kInner>
void KeysOverRanges(const WipeEdgeState &state, int32_t from, int32_t to, float *keys) {
    constexpr QuickOut kind = kPatterns[index].quickOut;
    if (kind == QuickOut::kNone || state.transformed) return kInner(state, from, to, keys);
    if (kind == QuickOut::kSidesY || kind == QuickOut::kBandY) {
        // Decided by the row alone.
        const double quick = QuickOutKey(kind, state, from);
        if (quick < 0) return kInner(state, from, to, keys);
        std::fill(keys + from, keys + to + 1, static_cast<float>(quick));
        return;
    }
    // A range between the outer bounds and clear of the inner band has no
    // pixel the shortcut answers.
    const double *b = state.bounds;
    const double first = from, last = to;
    if (b[0] <= first && last <= b[1] &&
        (kind == QuickOut::kSidesX || last <= b[2] || b[3] <= first))
        return kInner(state, from, to, keys);
    // Each bound flips its test once along the row; between the flips the
    // shortcut answers every pixel alike or none.
    int32_t cuts[6] = {from, to + 1};
    int count = 2;
    auto cut = [&](auto test) {
        const bool start = test(static_cast<double>(from));
        int32_t lo = from, hi = to + 1;  // test(lo) == start; hi is past it or the end
        while (hi - lo > 1) {
            const int32_t mid = lo + (hi - lo) / 2;
            (test(static_cast<double>(mid)) == start ? lo : hi) = mid;
        }
        cuts[count++] = hi;
    };
    cut([&](double v) { return v < b[0]; });
    cut([&](double v) { return v > b[1]; });
    if (kind == QuickOut::kBandX) {
        cut([&](double v) { return b[2] < v; });
        cut([&](double v) { return v < b[3]; });
    }
    for (int i = 1; i < count; ++i)  // at most six, in order
        for (int j = i; j > 0 && cuts[j] < cuts[j - 1]; --j)
            std::swap(cuts[j], cuts[j - 1]);
    for (int i = 0; i + 1 < count; ++i) {
        const int32_t lo = cuts[i], hi = cuts[i + 1] - 1;
        if (hi < lo) continue;
        const double quick = QuickOutKey(kind, state, lo);
        if (quick < 0) {
            kInner(state, lo, hi, keys);
        } else {
            std::fill(keys + lo, keys + hi + 1, static_cast<float>(quick));
        }
    }
}

// Pairs from SSE2 up, quads from AVX2 up, the zig-zags and the star in
// eights with AVX-512.
template <size_t index>
constexpr CpuRows<WipeKeyRange> KeyRowsOf() {
#if defined(__x86_64__)
    return {{KeysOver<index>, KeysOverRanges<index, PairsOver<index>>,
             KeysOverRanges<index, quads::QuadsOver<index>>,
             KeysOverRanges<index, octs::OctsOver<index>>}};
#else
    return Sse2Rows<WipeKeyRange>(KeysOver<index>, KeysOverRanges<index, PairsOver<index>>);
#endif
}

// The levels whose loop is LanesOver.
template <size_t index>
constexpr CpuRows<bool> WholeSpansOf() {
#if defined(__x86_64__)
    return {{false, false, WideFromQuads<index>(), HasWideCombination<index>()}};
#else
    return {};
#endif
}

template <size_t index>
void KeysAt(const WipeEdgeState &state, const double *xs, int32_t count, double *keys) {
    for (int32_t i = 0; i < count; ++i)
        keys[i] = KeyAt<index>(state, xs[i]);
}

// The zig-zags' single keys several at a time from AVX2 up.
template <size_t index>
constexpr CpuRows<WipeKeysAt> KeysAtRowsOf() {
#if defined(__x86_64__)
    if constexpr (HasWideCombination<index>())
        return {{KeysAt<index>, KeysAt<index>, quads::QuadsKeysAt<index>, octs::OctsKeysAt<index>}};
#endif
    return Sse2Rows<WipeKeysAt>(KeysAt<index>, KeysAt<index>);
}

template <size_t... index>
constexpr auto KeyLoops(std::index_sequence<index...>) {
    return std::array<WipeKeyLoops, sizeof...(index)>{WipeKeyLoops{
        KeysOver<index>, KeyRowsOf<index>(), WholeSpansOf<index>(), KeysAtRowsOf<index>()}...};
}
constexpr auto kKeyLoops = KeyLoops(std::make_index_sequence<std::size(kPatterns)>());

}  // namespace

const WipeKeyLoops &KeyLoopsOf(const WipePattern &pattern) {
    return kKeyLoops[static_cast<size_t>(&pattern - kPatterns)];
}

std::span<const WipePattern> WipePatterns() {
    return kPatterns;
}

const WipePattern *FindWipePattern(int32_t number) {
    const auto *found =
        std::lower_bound(std::begin(kPatterns), std::end(kPatterns), number,
                         [](const WipePattern &row, int32_t n) { return row.number < n; });
    return found != std::end(kPatterns) && found->number == number ? found : nullptr;
}

}  // namespace kve
