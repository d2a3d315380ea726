// Circle wipes (numbers 119-125, 130, 131): a circle, two ellipses, two eyes
// (the lens where two circles overlap), two rounded rectangles, and two
// shapes made of circles and straight edges. Each grows from nothing at
// progress 0 until it covers the frame at progress 1, A inside and B outside.
//
// Circles are measured through a shape matrix (scale, rotation, and the
// stretch of the ellipses) about the pattern centre; straight edges are the
// ramps of the edge patterns, scaled, turned and moved about the frame centre
// as those are. Per row the generator finds the intervals where some ring or
// edge can be soft, walks the row pixel by pixel inside them and jumps over
// the hard stretches between them, so hard pixels cost nothing but the copy.
#include "effects/wipe/circles.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "effects/wipe/key_lanes.h"
#include "engine/diag.h"

namespace kve {

namespace {

constexpr int32_t kCircleNumbers[] = {119, 120, 121, 122, 123, 124, 125, 130, 131};

bool IsRound(int32_t number) {
    return std::find(std::begin(kCircleNumbers), std::end(kCircleNumbers), number) !=
           std::end(kCircleNumbers);
}

// What the shape builders know.
struct ShapeSpace {
    double W, H, p, E, V;  // E: the soft band in pixels; V: half the frame diagonal
};

// The set-up's results before the caller's transforms reach the lines.
struct Shape {
    CircleRecord circle[kMaxCircles];
    int circles = 0;
    EdgeRecord line[kMaxCircleLines];
    int lines = 0;
    // Multipliers of the shape matrix's two rows; the lines' scales are
    // divided by `lineScale`.
    double row1 = 1, row2 = 1, lineScale = 1;
    bool transformed = false;

    void Circle(double dx, double dy, double c, double k) {
        if (circles < kMaxCircles) circle[circles++] = {dx, dy, c, k};
    }
    void Line(EdgeRecord e) {
        if (lines < kMaxCircleLines) line[lines++] = e;
    }
};

void BuildCircle(const ShapeSpace &s, Shape &out) {
    // The radius grows from 0 to V + E, its soft ring E wide lying inside it.
    out.Circle(0, 0, s.p * (s.V + s.E) / s.E, 1 / s.E);
}

// An ellipse whose semi-axes are 2:1 (wide) or 1:2 (tall), sized so that at
// progress 1 it reaches the frame's corners.
void BuildEllipse(const ShapeSpace &s, Shape &out, bool wide) {
    const double reach =
        wide ? std::sqrt(s.W * s.W / 4 + s.H * s.H) / 2 : std::sqrt(s.H * s.H / 4 + s.W * s.W) / 2;
    const double f = (s.V + s.E) / (s.E + reach);
    const double M = s.E / f;
    out.Circle(0, 0, (s.p * (s.V + M) - M) / M + 1, 1 / M);
    out.row1 = wide ? f / 2 : f;
    out.row2 = wide ? f : f / 2;
    out.transformed = true;
}

// Two circles whose overlap is a lens, wider than high (the circles one
// above the other) or higher than wide.
void BuildEye(const ShapeSpace &s, Shape &out, bool wide) {
    if (wide) {
        const double n = 1.8 * s.H / s.V;
        const double q = (n + std::sqrt(n * n + 23.04)) * 0.08680555555555555;
        const double r = (s.V + s.E) * s.p - s.E / (3 * q);
        const double a = std::max(r, 0.0);
        const double c = 3 * q * r / s.E + 1;
        out.Circle(0, -1.8 * q * a, c, 1 / s.E);
        out.Circle(0, 1.8 * q * a, c, 1 / s.E);
    } else {
        const double n = 2.4 * s.W / s.V;
        const double q = (n + std::sqrt(n * n + 40.96)) * 0.048828125;
        const double r = (s.V + s.E) * s.p - s.E / (4 * q);
        const double a = std::max(r, 0.0);
        const double c = 4 * q * r / s.E + 1;
        out.Circle(-2.4 * q * a, 0, c, 1 / s.E);
        out.Circle(2.4 * q * a, 0, c, 1 / s.E);
    }
}

// A band with soft edges across the frame, cut hard at both ends, joined to
// two circles that round its ends.
void BuildRoundedRectangle(const ShapeSpace &s, Shape &out, bool wide) {
    constexpr double K = 999999999.9999999;  // a ramp this steep is a hard cut
    const double across = wide ? s.H : s.W, along = wide ? s.W : s.H;
    const double h = across * s.p / 2;
    const double n = s.E * (1 - s.p);
    const double L = std::max((h - n / 4) * 1.5, 0.0);
    const double c = (h - n) / s.E + 1;
    if (wide) {
        out.Circle(-L, 0, c, 1 / s.E);
        out.Circle(L, 0, c, 1 / s.E);
        out.Line({0, -1 / s.E, (n + across / 2 - h) / s.E});
        out.Line({0, 1 / s.E, -(across * (s.p + 1) / 2 - n) / s.E});
        out.Line({K, 0, -(L + along / 2) * K});
        out.Line({-K, 0, (along / 2 - L) * K});
    } else {
        out.Circle(0, -L, c, 1 / s.E);
        out.Circle(0, L, c, 1 / s.E);
        out.Line({-1 / s.E, 0, (n + across / 2 - h) / s.E});
        out.Line({1 / s.E, 0, -(across * (s.p + 1) / 2 - n) / s.E});
        out.Line({0, K, -(L + along / 2) * K});
        out.Line({0, -K, (along / 2 - L) * K});
    }
}

// Number 130: five circles and two hard edges.
void Build130(const ShapeSpace &s, Shape &out) {
    constexpr double K = 99999.99999999999;
    const double W = s.W, H = s.H, p = s.p, V = s.V, E = s.E;
    const double A =
        (2 * std::sqrt(2.6900000000000004) + 1) * (2 * std::sqrt(2.6900000000000004) + 1) - 6.25 -
        3.8025;
    const double d = (1.9500000000000002 * W + 2.5 * H) / V;
    const double g = 2 * A / (d + std::sqrt(d * d + 4 * A));
    const double F = g * E;
    const double R = V * p;
    const double P = std::pow(p, 0.15);
    const double T = R - (p + 1) * (1 - p) * (1 - P / 2) * F;
    double w = 0.95 - 1.5 * T / F;
    if (w >= 0.95)
        w = 0.95;
    else if (w > -0.6)
        w = (0.2 * w + 0.12354838709677417) * w + 0.6521290322580645;
    else
        w = 0.65;
    const double Z = std::sqrt(4 * w * w + 1) * R;
    const double D = T + 2 * Z;
    const double Q = R == 0 ? 0 : (T + F) / (D - T);
    const double X = (4 * Q + 1) * w * R;
    const double Y = (2 * Q - 0.5) * R;
    const double y5 = H / 2 + Y;
    const double a0 = std::atan2(1, 2 * w), a1 = std::atan2(-1, 2 * w);
    out.Line({-K * std::sin(a0), -K * std::cos(a0),
              K * ((W / 2 - X) * std::sin(a0) + y5 * std::cos(a0))});
    out.Line({-K * std::sin(a1), -K * std::cos(a1),
              K * ((W / 2 + X) * std::sin(a1) + y5 * std::cos(a1))});
    const double Yc = X == w * R
                          ? -R / 2 - std::sqrt(std::max((T + F) * (T + F) - R * R * w * w, 0.0))
                          : (-0.5 * X * R - Y * w * R) / (X - w * R);
    out.Circle(-w * R, R / 2, T / F + 1, 1 / F);
    out.Circle(w * R, R / 2, T / F + 1, 1 / F);
    out.Circle(-3 * w * R, 2.5 * R, D / F + 1, 1 / F);
    out.Circle(3 * w * R, 2.5 * R, D / F + 1, 1 / F);
    out.Circle(0, -Yc, (std::sqrt((R / 2 + Yc) * (R / 2 + Yc) + R * R * w * w) - T - F) / F + 1,
               1 / F);
    out.row1 = out.row2 = out.lineScale = g;
    out.transformed = true;
}

// Number 131: a circle over a tapered body of four edges.
void Build131(const ShapeSpace &s, Shape &out) {
    const double W = s.W, H = s.H, p = s.p, V = s.V, E = s.E;
    const double sp = p * (3 * p + 1) / 4;
    const double lift = 2.25 * V * sp;  // the circle's centre above the pattern centre
    const double d = (2.25 * H - 12 * E) / V;
    const double g = 7.875 / (d + std::sqrt((1 - 4 * (E / V) * (E / V)) * 15.75 + d * d));
    const double M = E * g;
    out.Circle(0, lift, 3 * (V * sp + (sp - 0.3333333333333333) * M) / M + 1, 1 / M);
    out.Line({0, 1 / M,
              -(H / 2 - lift + 2.42 * M + 10.25 * (V * sp + (sp - 0.3333333333333333) * M)) / M});
    out.Line({0, -10000.0, (H / 2 - lift) * 10000.0});
    const WipePoint pivot{W / 2, H / 2 - lift};
    out.Line(Turn({1 / M, 0, -(W / 2 - M) / M}, 0.2, pivot));
    out.Line(Turn({-1 / M, 0, (W / 2 + M) / M}, -0.2, pivot));
    out.row1 = out.row2 = out.lineScale = g;
    out.transformed = true;
}

bool Finite(double v) {
    return std::isfinite(v);
}

bool ShapeIsFinite(const Shape &shape) {
    for (int i = 0; i < shape.circles; ++i) {
        const CircleRecord &c = shape.circle[i];
        if (!Finite(c.dx) || !Finite(c.dy) || !Finite(c.c) || !Finite(c.k)) return false;
    }
    for (int i = 0; i < shape.lines; ++i) {
        const EdgeRecord &e = shape.line[i];
        if (!Finite(e.a) || !Finite(e.b) || !Finite(e.c)) return false;
    }
    return Finite(shape.row1) && Finite(shape.row2) && Finite(shape.lineScale) &&
           shape.lineScale != 0;
}

// Ease of a ring's ramp; a ramp that is not a number is outside.
double RingKey(double o) {
    return o == o ? Ease(o) : 0;
}

// The ring's ramp at squared distance d2, as CircleKey computes it.
double RingRamp(const CircleRecord &c, double d2) {
    return c.c - c.k * std::sqrt(d2);
}

// With k > 0 the ramp never rises with the distance (each rounded operation
// keeps the order), so one squared distance whose ramp is <= 0 bounds the
// ring's outside (key 0) and one whose ramp is >= 1 its full inside (key 1).
// The candidates lie just beyond the radii; each is kept only if its ramp
// confirms it.
void SetRingBounds(WipeCircleState &s) {
    constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    for (int i = 0; i < s.circles; ++i) {
        const CircleRecord &c = s.circle[i];
        s.outsideFrom[i] = s.insideTo[i] = kNone;
        if (!(c.k > 0)) continue;
        const double outer = c.c / c.k, inner = (c.c - 1) / c.k;
        const double out = outer > 0 ? outer * outer * (1 + 1e-9) : 0;
        if (RingRamp(c, out) <= 0) s.outsideFrom[i] = out;
        if (inner > 0) {
            const double in = inner * inner * (1 - 1e-9);
            if (RingRamp(c, in) >= 1) s.insideTo[i] = in;
        }
    }
}

double CircleKey(const WipeCircleState &s, int i, double X, double Y) {
    const CircleRecord &c = s.circle[i];
    const double u = c.dx + (s.transformed ? s.m11 * X + s.m12 * Y : X);
    const double v = c.dy + (s.transformed ? s.m21 * X + s.m22 * Y : Y);
    return RingKey(c.c - c.k * std::sqrt(u * u + v * v));
}

double LineKey(const WipeCircleState &s, int i, double x, double y) {
    const EdgeRecord &e = s.line[i];
    return EdgeKey(e.a * x + e.b * y + e.c);
}

// ---- the row's intervals -----------------------------------------------------------

// Adds the pixels between two crossings x0 <= x1 (in pixels) as [lo, hi):
// lo is x0 truncated, hi one past x1 truncated, both kept inside 0 .. W
// before they become integers.
void AddInterval(WipeCircleState &s, double x0, double x1, int32_t W) {
    if (s.intervals >= kMaxCircleIntervals) return;
    if (x0 != x0 || x1 != x1) {
        x0 = 0;  // a crossing that is not a number: the whole row may be soft
        x1 = W;
    }
    if (x1 < 0 || x0 >= W) return;
    const int32_t lo = static_cast<int32_t>(std::clamp(x0, 0.0, static_cast<double>(W)));
    const int32_t hi =
        std::min(static_cast<int32_t>(std::clamp(x1, 0.0, static_cast<double>(W))) + 1, W);
    if (hi <= lo) return;
    s.lo[s.intervals] = lo;
    s.hi[s.intervals] = hi;
    ++s.intervals;
}

enum class Crossing { kMiss, kWhole, kTwo };

// Where the circle of radius `radius` (after the matrix) meets row Y: the
// quadratic in X of (alpha1*X + beta1)^2 + (alpha2*X + beta2)^2 = radius^2.
// When the leading coefficient vanishes, the distance is the same along the
// whole row; a crossing that is not finite counts as the whole row.
Crossing CrossRow(const WipeCircleState &s, const CircleRecord &c, double radius, double Y,
                  double &x0, double &x1) {
    if (radius != radius) return Crossing::kWhole;
    if (radius < 0) return Crossing::kMiss;
    double a1 = 1, b1 = c.dx, a2 = 0, b2 = c.dy + Y;
    if (s.transformed) {
        a1 = s.m11;
        b1 = c.dx + s.m12 * Y;
        a2 = s.m21;
        b2 = c.dy + s.m22 * Y;
    }
    const double A = a1 * a1 + a2 * a2;
    const double B = a1 * b1 + a2 * b2;
    const double C = b1 * b1 + b2 * b2 - radius * radius;
    if (!(A > 0) || !Finite(A)) return C > 0 ? Crossing::kMiss : Crossing::kWhole;
    const double disc = B * B - A * C;
    if (disc < 0) return Crossing::kMiss;
    const double root = std::sqrt(disc);
    const double X0 = (-B - root) / A, X1 = (-B + root) / A;
    if (!Finite(X0) || !Finite(X1)) return Crossing::kWhole;
    x0 = X0 + s.cx;
    x1 = X1 + s.cx;
    return Crossing::kTwo;
}

// ---- the walk ----------------------------------------------------------------------

// Sorts the row's intervals by their start and joins those that overlap or
// touch: a pixel lies in the union exactly when it lies in one of them, and
// the first start of the union after a pixel outside it is the first start
// of any interval after it.
void JoinIntervals(WipeCircleState &s) {
    for (int i = 1; i < s.intervals; ++i)
        for (int j = i; j > 0 && s.lo[j - 1] > s.lo[j]; --j) {
            std::swap(s.lo[j - 1], s.lo[j]);
            std::swap(s.hi[j - 1], s.hi[j]);
        }
    int n = 0;
    for (int i = 0; i < s.intervals; ++i) {
        if (n > 0 && s.lo[i] <= s.hi[n - 1]) {
            s.hi[n - 1] = std::max(s.hi[n - 1], s.hi[i]);
            continue;
        }
        s.lo[n] = s.lo[i];
        s.hi[n] = s.hi[i];
        ++n;
    }
    s.intervals = n;
}

void FillKeysUniform(const WipeCircleState &s, int32_t from, int32_t to, float *keys) {
    for (int32_t x = from; x <= to; ++x)
        keys[x] = static_cast<float>(s.uniformKey);
}

void FillKeysReference(const WipeCircleState &s, int32_t from, int32_t to, float *keys) {
    for (int32_t x = from; x <= to; ++x)
        keys[x] = static_cast<float>(CircleKeyAt(s, x, s.rowY));
}

// The key loops per instruction set, from circle_lanes.inc: two lanes of the
// baseline's pairs, four in AVX2 and eight in AVX-512.
namespace pairs {
using Lanes = KeyPair;
constexpr int32_t kLanes = 2;
inline Lanes Splat(double d) {
    return Pair(d);
}
inline Lanes Ramp(double d) {
    return Pair(d, d + 1);
}
#if defined(__SSE2__)
inline Lanes Sqrt(Lanes p) {
    return {_mm_sqrt_pd(p.v)};
}
inline bool AllOf(Lanes mask) {
    return _mm_movemask_pd(mask.v) == 3;
}
inline void StoreFloats(float *to, Lanes p, int32_t count) {
    to[0] = static_cast<float>(_mm_cvtsd_f64(p.v));
    if (count > 1) to[1] = static_cast<float>(_mm_cvtsd_f64(_mm_unpackhi_pd(p.v, p.v)));
}
#else
inline Lanes Sqrt(Lanes p) {
    return {{std::sqrt(p.v[0]), std::sqrt(p.v[1])}};
}
inline bool AllOf(Lanes mask) {
    return mask.v[0] != 0 && mask.v[1] != 0;
}
inline void StoreFloats(float *to, Lanes p, int32_t count) {
    to[0] = static_cast<float>(p.v[0]);
    if (count > 1) to[1] = static_cast<float>(p.v[1]);
}
#endif
#include "effects/wipe/circle_lanes.inc"
}  // namespace pairs

#if defined(__x86_64__)
KVE_TARGET_AVX2_BEGIN
namespace quads {
using namespace key_quads;
#include "effects/wipe/circle_lanes.inc"
}  // namespace quads
KVE_TARGET_END

KVE_TARGET_AVX512_BEGIN
namespace octs {
using namespace key_octs;
#include "effects/wipe/circle_lanes.inc"
}  // namespace octs
KVE_TARGET_END
#endif

// Pairs from SSE2 up; quads from AVX2 up; eights with AVX-512.
CpuRows<CircleKeyRange> LoopsOf(int32_t number) {
#if defined(__x86_64__)
    return {
        {FillKeysReference, pairs::LoopOf(number), quads::LoopOf(number), octs::LoopOf(number)}};
#else
    return Sse2Rows(FillKeysReference, pairs::LoopOf(number));
#endif
}

constexpr int kMaxCircleSpans = 5;

}  // namespace

bool SetUpCircleShape(const WipeRowArgs &row, WipeCircleState &state) {
    state = WipeCircleState{};
    if (!IsRound(row.number)) return false;
    const double W = row.width, H = row.height;
    ShapeSpace space{W, H, row.progress, row.edgeWidth * W, std::sqrt((W * W + H * H) / 4)};
    Shape shape;
    switch (row.number) {
        case 119:
            BuildCircle(space, shape);
            break;
        case 120:
        case 121:
            BuildEllipse(space, shape, row.number == 120);
            break;
        case 122:
        case 123:
            BuildEye(space, shape, row.number == 122);
            break;
        case 124:
        case 125:
            BuildRoundedRectangle(space, shape, row.number == 124);
            break;
        case 130:
            Build130(space, shape);
            break;
        case 131:
            Build131(space, shape);
            break;
    }
    state.number = row.number;

    // The shape matrix: the caller's scale and rotation about the pattern
    // centre, then the shape's own stretch.
    const double xs = row.xScale <= 0 ? 1 : row.xScale, ys = row.yScale <= 0 ? 1 : row.yScale;
    const double theta = row.rotation * std::numbers::pi / 180;
    if (theta != 0) {
        state.m11 = std::cos(theta) / xs;
        state.m12 = -std::sin(theta) / xs;
        state.m21 = std::sin(theta) / ys;
        state.m22 = std::cos(theta) / ys;
    } else {
        state.m11 = 1 / xs;
        state.m12 = 0;
        state.m21 = 0;
        state.m22 = 1 / ys;
    }
    state.m11 *= shape.row1;
    state.m12 *= shape.row1;
    state.m21 *= shape.row2;
    state.m22 *= shape.row2;
    state.transformed = row.rotation != 0 || xs != 1 || ys != 1 || shape.transformed;
    state.cx = W / 2 + row.xOffset;
    state.cy = H / 2 + row.yOffset;

    // The lines take the caller's transforms as the edge patterns do.
    const WipePoint centre{W / 2, H / 2};
    const double lxs = xs / shape.lineScale, lys = ys / shape.lineScale;
    for (int i = 0; i < shape.lines; ++i) {
        EdgeRecord e = shape.line[i];
        if (!(lxs >= 0.99999 && lxs <= 1.00001) || !(lys >= 0.99999 && lys <= 1.00001))
            e = Stretch(e, lxs, lys, centre);
        if (!(row.rotation >= -0.00001 && row.rotation <= 0.00001)) e = Turn(e, theta, centre);
        if (row.xOffset != 0 || row.yOffset != 0) e = Move(e, row.xOffset, row.yOffset);
        shape.line[i] = e;
    }

    // A figure that is not finite (a progress below 0 for 130, a soft band of
    // exactly half the half-diagonal for 131, parameters beyond any frame)
    // shows B until the transition has ended and A from then on.
    if (!ShapeIsFinite(shape) || !Finite(state.m11) || !Finite(state.m12) || !Finite(state.m21) ||
        !Finite(state.m22)) {
        state.uniform = true;
        state.uniformKey = row.progress >= 1 ? 1 : 0;
        return true;
    }
    std::copy(shape.circle, shape.circle + shape.circles, state.circle);
    state.circles = shape.circles;
    SetRingBounds(state);
    std::copy(shape.line, shape.line + shape.lines, state.line);
    state.lines = shape.lines;
    return true;
}

double CircleKeyAt(const WipeCircleState &s, double x, double y) {
    if (s.uniform) return s.uniformKey;
    const double X = x - s.cx, Y = y - s.cy;
    auto c = [&](int i) { return CircleKey(s, i, X, Y); };
    auto l = [&](int i) { return LineKey(s, i, x, y); };
    switch (s.number) {
        case 119:
        case 120:
        case 121:
            return c(0);
        case 122:
        case 123:
            return c(0) * c(1);
        case 124:
        case 125:
            return std::max({c(0), c(1), std::min({l(0), l(1), l(2), l(3)})});
        case 130: {
            const double band = l(0) * l(1);
            return std::max((1 - band) * std::max(c(0), c(1)),
                            band * std::min({c(2), c(3), 1 - c(4)}));
        }
        case 131:
            return 1 - (1 - c(0)) * (1 - l(0) * l(1) * l(2) * l(3));
    }
    Diag_Message(" error: invalid circle wipe number");
    return 0;
}

void FindCircleIntervals(WipeCircleState &s, int32_t W, int32_t y) {
    s.intervals = 0;
    if (s.uniform) return;
    for (int i = 0; i < s.lines; ++i) {
        const EdgeRecord &e = s.line[i];
        const double g = e.b * y + e.c;
        double x0, x1;
        if (e.a < -0.000001 || e.a > 0.000001) {
            x0 = -g / e.a;
            x1 = (1 - g) / e.a;
            if (x0 > x1) std::swap(x0, x1);
        } else {
            // Parallel to the row: all of it is inside the band, or none.
            double y0 = -e.c / e.b, y1 = (1 - e.c) / e.b;
            if (y0 > y1) std::swap(y0, y1);
            if (!(y0 < y && y < y1)) continue;
            x0 = 0;
            x1 = W;
        }
        AddInterval(s, x0, x1, W);
    }
    const double Y = y - s.cy;
    for (int i = 0; i < s.circles; ++i) {
        const CircleRecord &c = s.circle[i];
        double xa = 0, xb = 0, xc = 0, xd = 0;
        const Crossing outer = CrossRow(s, c, c.c / c.k, Y, xa, xb);
        if (outer == Crossing::kMiss) continue;
        if (outer == Crossing::kWhole) {
            AddInterval(s, 0, W, W);
            continue;
        }
        const Crossing inner = CrossRow(s, c, (c.c - 1) / c.k, Y, xc, xd);
        if (inner == Crossing::kTwo) {
            // The ring only: inside the inner circle the key is 1.
            AddInterval(s, xa, xc, W);
            AddInterval(s, xd, xb, W);
        } else {
            AddInterval(s, xa, xb, W);
        }
    }
}

std::span<const int32_t> CircleWipeNumbers() {
    return kCircleNumbers;
}

void SetCircleRow(WipeCircleState &s, int32_t y) {
    s.rowY = y;
    const double Y = y - s.cy;
    for (int i = 0; i < s.circles; ++i) {
        s.rowU[i] = s.m12 * Y;
        s.rowV[i] = s.m22 * Y;
    }
    for (int i = 0; i < s.lines; ++i)
        s.rowB[i] = s.line[i].b * y;
}

CircleKeyLoops CircleKeyLoopsOf(int32_t number) {
    return {FillKeysReference, LoopsOf(number)};
}

// The row is walked from the left. Inside an interval, or on a soft pixel,
// the current span grows to take the next pixel too; on a hard pixel outside
// every interval the span is closed and the walk jumps to the next interval.
// The fifth span takes the rest of the row pixel by pixel. The keys of a
// stretch inside an interval are computed in one go.
int CircleWipe(const WipeRowArgs &row, const WipeScratch &scratch) {
    WipeCircleState &s = *scratch.circles;
    if (row.first && !SetUpCircleShape(row, s)) return 1;
    if (s.number == 0) return 1;
    const int32_t W = row.width, y = row.y;
    int32_t *spans = scratch.spans;
    float *keys = scratch.keys;
    FindCircleIntervals(s, W, y);
    JoinIntervals(s);
    SetCircleRow(s, y);
    const CircleKeyRange fill =
        s.uniform ? FillKeysUniform : CircleKeyLoopsOf(s.number).rows.Pick();
    auto keyAt = [&](int32_t x) {
        fill(s, x, x, keys);
        return keys[x];
    };

    int pair = 0;
    spans[0] = spans[1] = 0;  // while walking a span is [start, end)
    int32_t x = 0;
    int m = 0;  // the first interval that ends after x
    while (x < W) {
        while (m < s.intervals && s.hi[m] <= x)
            ++m;
        if (pair == kMaxCircleSpans - 1 || (m < s.intervals && s.lo[m] <= x)) {
            const int32_t end = pair == kMaxCircleSpans - 1 ? W : s.hi[m];
            fill(s, x, end - 1, keys);
            spans[2 * pair + 1] = end;
            x = end;
            continue;
        }
        const float key = keyAt(x);
        if (0 < key && key < 1) {
            spans[2 * pair + 1] = x + 1;
            ++x;
            continue;
        }
        const int32_t next = m < s.intervals ? s.lo[m] : W;
        if (spans[2 * pair] != spans[2 * pair + 1]) {
            keyAt(spans[2 * pair + 1] + 1);
            ++pair;
        }
        spans[2 * pair] = spans[2 * pair + 1] = next;
        if (next >= 1) keyAt(next - 1);
        x = next;
    }
    // The list stores inclusive ends; a span still open at the row's end stops there.
    spans[2 * pair + 1] = std::min(spans[2 * pair + 1], W - 1);
    for (int i = 2 * pair + 2; i < kSpanEntries; ++i)
        spans[i] = W;
    return 0;
}

}  // namespace kve
