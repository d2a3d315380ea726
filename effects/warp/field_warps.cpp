// The warps that move the source by a displacement field rather than about a
// centre.
//
//   Lumamap     moves every point along one direction by an amount read from
//               a second image's luminance, from low (black) to high (white)
//   Mirage      moves points sideways by a sine of their height: shimmer
//   Ripple      moves points near a line along its normal, by a quarter sine
//               that dies out at the reach from the line
//   Turbulence  moves points by octave sums of smooth lattice noise
//               (lattice_noise.cpp)
//
// Positions are in unit coordinates (y up, one unit = half the frame
// width); angles and phases in degrees.
#include <cmath>
#include <numbers>

#include "effects/warp/closed_form.h"
#include "effects/warp/lattice_noise.h"
#include "effects/warp/nonlinear_warps.h"
#include "interface/pixel.h"

namespace kve {

namespace {

constexpr double kPi = std::numbers::pi;

// ---- Lumamap: high, low, dx, dy, softness; the second image is the map ----------

struct LumamapParams {
    double high, low;
    Vec2 direction;  // length 1, or (0, 0)
    const ScanCache *luminance;
};

bool ReadLumamap(WarpState &s, const ArgBlock &in) {
    constexpr int n = 5;
    const double dx = TextReal(in, n, 2), dy = TextReal(in, n, 3);
    const double length = std::sqrt(dx * dx + dy * dy);
    const Vec2 direction = length != 0 ? Vec2{dx / length, dy / length} : Vec2{dx, dy};
    const ScanCache *luminance = s.caches[1];
    StoreParams(s, LumamapParams{TextReal(in, n, 0), TextReal(in, n, 1), direction, luminance});
    return luminance != nullptr;  // the table's signature always brings one
}

// A pixel position as a 64-bit index: truncated, saturated at the ends, NaN 0.
int64_t TruncatedIndex(double v) {
    constexpr double kLimit = 9.0e18;
    if (!(v > -kLimit)) return v != v ? 0 : -static_cast<int64_t>(kLimit);
    if (v >= kLimit) return static_cast<int64_t>(kLimit);
    return static_cast<int64_t>(v);
}

// The map's luminance under an output pixel position, 0 (black) to 1 (white),
// with the map mirrored beyond its edges.
double LuminanceAt(const ScanCache &map, Vec2 pixel) {
    const int32_t c = WrapIndex(TruncatedIndex(pixel.x), map.width, 1);
    const int32_t r = WrapIndex(TruncatedIndex(pixel.y), map.height, 1);
    const Pixel p = ScanCache_GetLine(map, r)[c];
    return (RedOf(p) + GreenOf(p) + BlueOf(p)) / 765.0;
}

Vec2 Lumamap(LumamapParams &m, Vec2 p, Vec2 pixel) {
    const double l = LuminanceAt(*m.luminance, pixel);
    const double s = m.low + l * (m.high - m.low);
    return {p.x + s * m.direction.x, p.y + s * m.direction.y};
}

// ---- Mirage: amplitude, frequency, phase, softness -------------------------------

struct MirageParams {
    double amplitude;
    double f;      // radians per unit of height
    double phase;  // radians
};

// The frequency counts whole periods over the source frame's height, which is
// 2 H / W units tall.
bool ReadMirage(WarpState &s, const ArgBlock &in) {
    constexpr int n = 4;
    const double f = TextReal(in, n, 1) * kPi * s.srcWidth / s.srcHeight;
    StoreParams(s, MirageParams{TextReal(in, n, 0), f, Radians(TextReal(in, n, 2))});
    return true;
}

// Per run of points: the move depends on the height only, and a run walks
// along one output row, so the last height's move is kept (NaN heights are
// never equal to it, so they are recomputed, which is harmless).
struct MirageWork {
    MirageParams params;
    bool known;
    double y, move;
};

Vec2 Mirage(MirageWork &w, Vec2 p, Vec2) {
    if (!(w.known && w.y == p.y)) {
        const MirageParams &m = w.params;
        w = {m, true, p.y, m.amplitude * std::sin(m.phase + m.f * p.y)};
    }
    return {p.x + w.move, p.y};
}

// ---- Ripple: angle, offset, amplitude, reach, far reach, softness ----------------

struct RippleParams {
    Vec2 normal;  // (sin angle, cos angle)
    double offset, amplitude, reach, farReach;
};

bool ReadRipple(WarpState &s, const ArgBlock &in) {
    constexpr int n = 6;
    const double angle = Radians(TextReal(in, n, 0));
    StoreParams(s, RippleParams{{std::sin(angle), std::cos(angle)},
                                TextReal(in, n, 1),
                                TextReal(in, n, 2),
                                TextReal(in, n, 3),
                                TextReal(in, n, 4)});
    return true;
}

// The line is normal . p + offset = 0. Points closer to it than the reach
// move along the normal by amplitude times a quarter sine, full on the line
// and 0 at the reach. The distance has no side, so the far reach only counts
// for points exactly on the line (with a positive far reach they move by the
// full amplitude).
Vec2 Ripple(RippleParams &r, Vec2 p, Vec2) {
    const double a = std::fabs(r.normal.x * p.x + r.normal.y * p.y + r.offset);
    const double reach = a > 0 ? r.reach : r.farReach;
    if (!(a < reach)) return p;
    const double wave = std::sin((1 - a / reach) * kPi / 2);
    return {p.x + r.normal.x * r.amplitude * wave, p.y + r.normal.y * r.amplitude * wave};
}

// ---- Turbulence: amplitude, octaves, fscale, z, softness -------------------------

struct TurbulenceParams {
    double amplitude, fscale, z;
    int32_t octaves;
    NoiseCache cache;
};

// Per run of points: the parameters, and each component's octave row joins.
struct TurbulenceWork {
    TurbulenceParams params;
    NoiseRows alongX, alongY;
};

// The octave count: the whole part of the parameter, at most 6 (all the
// octaves there are); one that is not a number, or infinite, counts as 0.
int32_t OctaveCount(double r) {
    if (!std::isfinite(r)) return 0;
    if (r >= kMostOctaves) return kMostOctaves;
    return r > 0 ? static_cast<int32_t>(r) : 0;
}

bool ReadTurbulence(WarpState &s, const ArgBlock &in) {
    constexpr int n = 5;
    StoreParams(s,
                TurbulenceParams{TextReal(in, n, 0), TextReal(in, n, 2), TextReal(in, n, 3),
                                 OctaveCount(TextReal(in, n, 1)), NoiseCache{{0, 0, 0}, 0, false}});
    return true;
}

// The two components come from the same noise at heights z and z + 1000.
Vec2 Turbulence(TurbulenceWork &w, Vec2 p, Vec2) {
    TurbulenceParams &t = w.params;
    const double qx = t.fscale * p.x, qy = t.fscale * p.y;
    const double nx = Turbulence3Rows(t.octaves, {qx, qy, t.z}, t.cache, w.alongX);
    const double ny = Turbulence3Rows(t.octaves, {qx, qy, t.z + 1000}, t.cache, w.alongY);
    return {p.x + t.amplitude * nx, p.y + t.amplitude * ny};
}

}  // namespace

const WarpKindRow kLumamapWarp{kWarpLumamap, ReadLumamap, MapClosedForm<LumamapParams, Lumamap>,
                               WarpMatrixRule::kNotMatrix};
const WarpKindRow kMirageWarp{kWarpMirage, ReadMirage,
                              MapClosedForm<MirageWork, Mirage, MirageParams>,
                              WarpMatrixRule::kNotMatrix};
const WarpKindRow kRippleWarp{kWarpRipple, ReadRipple, MapClosedForm<RippleParams, Ripple>,
                              WarpMatrixRule::kNotMatrix};
const WarpKindRow kTurbulenceWarp{kWarpTurbulence, ReadTurbulence,
                                  MapClosedForm<TurbulenceWork, Turbulence, TurbulenceParams>,
                                  WarpMatrixRule::kNotMatrix};

}  // namespace kve
