// The warps centred on a point c: each maps an output position p (unit
// coordinates, y up) to its source position by its offset v = p - c from the
// centre and the distance d = |v|.
//
//   Bubble   inside the radius, pulls the source along v by a half sine of
//            (d / radius) raised to an exponent: a lens
//   Droplet  concentric waves along v, fading out across a ring of given
//            inner and outer widths
//   Kscope   inside the radius, folds every angle into one sector (mirrored
//            in alternate sectors when asked) and turns it: a kaleidoscope
//   Pinch    scales the whole picture about the frame centre by a factor
//            that depends on the angle of v from the horizontal
//   Vortex   inside the radius, turns the source by an angle that grows from
//            0 at the rim to the twist at the centre
//   Waves    concentric sine waves along v, everywhere
//
// Angles are in degrees, distances in units of half the frame width.
#include <cmath>
#include <numbers>

#include "effects/warp/closed_form.h"
#include "effects/warp/nonlinear_warps.h"

namespace kve {

namespace {

constexpr double kPi = std::numbers::pi;

Vec2 Offset(Vec2 p, Vec2 c) {
    return {p.x - c.x, p.y - c.y};
}

// p + s v / d: a move of s along the direction of v.
Vec2 MoveAlong(Vec2 p, double s, Vec2 v, double d) {
    return {p.x + s * v.x / d, p.y + s * v.y / d};
}

// ---- Bubble: cx, cy, radius, amplitude, exponent, softness -----------------------

struct BubbleParams {
    Vec2 c;
    double radius, amplitude, exponent;
};

bool ReadBubble(WarpState &s, const ArgBlock &in) {
    constexpr int n = 6;
    StoreParams(s, BubbleParams{{TextReal(in, n, 0), TextReal(in, n, 1)},
                                TextReal(in, n, 2),
                                TextReal(in, n, 3),
                                TextReal(in, n, 4)});
    return true;
}

// The centre and everything at or beyond the radius stay. A negative radius
// with a fractional exponent has no real power: the position is NaN and the
// pixel transparent black.
Vec2 Bubble(BubbleParams &b, Vec2 p, Vec2) {
    const Vec2 v = Offset(p, b.c);
    const double d2 = v.x * v.x + v.y * v.y;
    if (!(d2 > 0 && d2 < b.radius * b.radius)) return p;
    const double d = std::sqrt(d2);
    double m = d / b.radius;
    if (b.exponent != 1) m = std::pow(m, b.exponent);
    const double t = std::sin(kPi * m);
    return {p.x - t * b.amplitude * v.x / d, p.y - t * b.amplitude * v.y / d};
}

// ---- Droplet: cx, cy, amplitude, frequency, phase, ring radius, outer width,
// inner width, softness ----------------------------------------------------------

struct DropletParams {
    Vec2 c;
    double amplitude, frequency, phase;  // phase in radians
    double ring, outer, inner;
};

bool ReadDroplet(WarpState &s, const ArgBlock &in) {
    constexpr int n = 9;
    StoreParams(s, DropletParams{{TextReal(in, n, 0), TextReal(in, n, 1)},
                                 TextReal(in, n, 2),
                                 TextReal(in, n, 3),
                                 Radians(TextReal(in, n, 4)),
                                 TextReal(in, n, 5),
                                 TextReal(in, n, 6),
                                 TextReal(in, n, 7)});
    return true;
}

// How far the waves have faded at distance d inside the ring band: 0 on the
// ring itself, 1 at the band's edges. Exactly on the ring the fade is 0 even
// when the outer width is 0 (the quarter-sine would be 0 / 0 there).
double RingFade(const DropletParams &w, double d) {
    if (d == w.ring) return 0;
    if (d >= w.ring) return std::sin((d - w.ring) * (kPi / 2) / w.outer);
    return std::sin((w.ring - d) * (kPi / 2) / w.inner);
}

Vec2 Droplet(DropletParams &w, Vec2 p, Vec2) {
    const Vec2 v = Offset(p, w.c);
    const double d = Vec2Length(v);
    if (!(d > 0 && w.ring - w.inner <= d && d <= w.ring + w.outer)) return p;
    const double fade = RingFade(w, d);
    const double s = w.amplitude * std::sin(d * 2 * kPi * w.frequency + w.phase) * (1 - fade);
    return MoveAlong(p, s, v, d);
}

// ---- Kscope: cx, cy, turn, start, radius, segments, mirror (integer), softness ---

struct KscopeParams {
    Vec2 c;
    double turn, start, radius;
    double sector;  // degrees
    int32_t mirror;
};

bool ReadKscope(WarpState &s, const ArgBlock &in) {
    constexpr int n = 7;
    const double segments = TextReal(in, n, 5);
    // Fewer than one segment (or none that is a number) is the whole turn.
    const double sector = segments >= 1 ? 360 / segments : 360;
    StoreParams(s, KscopeParams{{TextReal(in, n, 0), TextReal(in, n, 1)},
                                TextReal(in, n, 2),
                                TextReal(in, n, 3),
                                TextReal(in, n, 4),
                                sector,
                                in.ints[2]});
    return true;
}

// Whether a whole number is odd, decided in double arithmetic so that sector
// counts beyond any integer type still have an answer (huge doubles are even);
// NaN counts as odd, which keeps the position NaN.
bool IsOddWhole(double whole) {
    return std::fmod(whole, 2.0) != 0;
}

// Inside the radius the angle from +y (clockwise, plus the start) is folded
// into [0, sector) (fmod keeps the sign of a negative angle), mirrored in odd
// sectors when asked, turned and put back at the same distance.
Vec2 Kscope(KscopeParams &k, Vec2 p, Vec2) {
    const Vec2 v = Offset(p, k.c);
    const double d = Vec2Length(v);
    if (!(d < k.radius)) return p;
    const double a = Vec2Angle(v) + k.start;
    double e = std::fmod(a, k.sector);
    if (k.mirror != 0 && IsOddWhole(std::trunc(a / k.sector))) e = k.sector - e;
    const Vec2 q = Vec2FromPolar(d, e + k.turn);
    return {k.c.x + q.x, k.c.y + q.y};
}

// ---- Pinch: cx, cy, factor, limit angle, softness --------------------------------

struct PinchParams {
    Vec2 c;
    double factor, limit;  // limit in degrees
};

bool ReadPinch(WarpState &s, const ArgBlock &in) {
    constexpr int n = 5;
    StoreParams(
        s, PinchParams{
               {TextReal(in, n, 0), TextReal(in, n, 1)}, TextReal(in, n, 2), TextReal(in, n, 3)});
    return true;
}

// The angle o of v from the horizontal through c (0 to 90 degrees) picks the
// strength: m runs from 1 at o = 0 down to 0 at the limit angle, then up to 1
// again at 90 degrees. The sine of the angle is rounded to single precision
// before its arc sine is taken. A factor of 0 changes nothing, and so does a
// limit of 0 (m = 0 everywhere); otherwise the picture is scaled about the
// frame centre (not about c) by up to 1 / factor.
Vec2 Pinch(PinchParams &q, Vec2 p, Vec2) {
    const Vec2 v = Offset(p, q.c);
    const double d = Vec2Length(v);
    const float t = static_cast<float>(std::fabs(v.y) / (d + 0.000001));
    const double o = std::asin(static_cast<double>(t)) * 180.0 / kPi;
    if (q.factor == 0) return p;
    double m;
    if (q.limit == 0)
        m = 0;
    else if (o > q.limit)
        m = (o - q.limit) / (90 - q.limit);
    else
        m = 1 - o / q.limit;
    const double k = (1 / q.factor - 1) * std::sin(m * kPi / 2) + 1;
    return {k * p.x, k * p.y};
}

// ---- Vortex: cx, cy, twist, radius, softness -------------------------------------

struct VortexParams {
    Vec2 c;
    double twist;  // radians
    double radius;
};

bool ReadVortex(WarpState &s, const ArgBlock &in) {
    constexpr int n = 5;
    StoreParams(s, VortexParams{{TextReal(in, n, 0), TextReal(in, n, 1)},
                                Radians(TextReal(in, n, 2)),
                                TextReal(in, n, 3)});
    return true;
}

// The turn eases in along a quarter cosine: 0 at the rim, the whole twist at
// the centre; outside the radius nothing moves.
Vec2 Vortex(VortexParams &w, Vec2 p, Vec2) {
    const Vec2 v = Offset(p, w.c);
    const double d = Vec2Length(v);
    if (!(d > 0 && d < w.radius)) return p;
    const double a = (1 - std::cos((1 - d / w.radius) * kPi / 2)) * w.twist;
    const double sa = std::sin(a), ca = std::cos(a);
    return {w.c.x + (v.y * sa + v.x * ca), w.c.y + (v.y * ca - v.x * sa)};
}

// ---- Waves: cx, cy, amplitude, frequency, phase, softness ------------------------

struct WavesParams {
    Vec2 c;
    double amplitude, frequency, phase;  // phase in radians
};

bool ReadWaves(WarpState &s, const ArgBlock &in) {
    constexpr int n = 6;
    StoreParams(s, WavesParams{{TextReal(in, n, 0), TextReal(in, n, 1)},
                               TextReal(in, n, 2),
                               TextReal(in, n, 3),
                               Radians(TextReal(in, n, 4))});
    return true;
}

// Frequency in cycles per unit of distance from the centre.
Vec2 Waves(WavesParams &w, Vec2 p, Vec2) {
    const Vec2 v = Offset(p, w.c);
    const double d = Vec2Length(v);
    if (!(d > 0)) return p;
    const double s = w.amplitude * std::sin(d * 2 * kPi * w.frequency + w.phase);
    return MoveAlong(p, s, v, d);
}

}  // namespace

const WarpKindRow kBubbleWarp{kWarpBubble, ReadBubble, MapClosedForm<BubbleParams, Bubble>,
                              WarpMatrixRule::kNotMatrix};
const WarpKindRow kDropletWarp{kWarpDroplet, ReadDroplet, MapClosedForm<DropletParams, Droplet>,
                               WarpMatrixRule::kNotMatrix};
// Identity Jacobians: the folds make finite differences jump at every seam.
const WarpKindRow kKscopeWarp{kWarpKscope, ReadKscope,
                              MapClosedFormUnitJacobian<KscopeParams, Kscope>,
                              WarpMatrixRule::kNotMatrix};
const WarpKindRow kPinchWarp{kWarpPinch, ReadPinch, MapClosedForm<PinchParams, Pinch>,
                             WarpMatrixRule::kNotMatrix};
const WarpKindRow kVortexWarp{kWarpVortex, ReadVortex, MapClosedForm<VortexParams, Vortex>,
                              WarpMatrixRule::kNotMatrix};
const WarpKindRow kWavesWarp{kWarpWaves, ReadWaves, MapClosedForm<WavesParams, Waves>,
                             WarpMatrixRule::kNotMatrix};

}  // namespace kve
