// The warps that move the source by a displacement field rather than about a
// centre, and the noise behind Turbulence.
//
//   Lumamap     moves every point along one direction by an amount read from
//               a second image's luminance, from low (black) to high (white)
//   Mirage      moves points sideways by a sine of their height: shimmer
//   Ripple      moves points near a line along its normal, by a quarter sine
//               that dies out at the reach from the line
//   Turbulence  moves points by octave sums of smooth lattice noise
//
// Positions are in unit coordinates (y up, one unit = half the frame
// width); angles and phases in degrees.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>

#include "effects/warp/closed_form.h"
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

Vec2 Mirage(MirageParams &m, Vec2 p, Vec2) {
    return {p.x + m.amplitude * std::sin(m.phase + m.f * p.y), p.y};
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

constexpr int32_t kMostOctaves = 6;

// Octaves 2 .. 6: the scale of the point and the weight of the noise there.
struct Octave {
    double scale, weight;
};
constexpr std::array<Octave, kMostOctaves - 1> kOctaves{
    {{2, 0.5}, {4, 0.25}, {8, 0.125}, {16, 0.0625}, {32, 0.03125}}};

struct TurbulenceParams {
    double amplitude, fscale, z;
    int32_t octaves;
    NoiseCache cache;
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
Vec2 Turbulence(TurbulenceParams &t, Vec2 p, Vec2) {
    const double qx = t.fscale * p.x, qy = t.fscale * p.y;
    const double nx = Turbulence3(t.octaves, {qx, qy, t.z}, t.cache);
    const double ny = Turbulence3(t.octaves, {qx, qy, t.z + 1000}, t.cache);
    return {p.x + t.amplitude * nx, p.y + t.amplitude * ny};
}

// ---- lattice noise ---------------------------------------------------------------

// A whole-valued finite coordinate as a lattice index modulo 2^32: the hash
// works in wrap-around arithmetic, so only the low 32 bits matter. fmod keeps
// coordinates beyond 64-bit integers exact.
uint32_t LatticeIndex(double whole) {
    constexpr double kTwo32 = 4294967296.0;
    const double near = std::fabs(whole) < 9.0e18 ? whole : std::fmod(whole, kTwo32);
    return static_cast<uint32_t>(static_cast<int64_t>(near));
}

// A lattice corner's hashed value and gradient.
struct Corner {
    double value;
    std::array<double, 3> gradient;
};

Corner CornerAt(uint32_t x, uint32_t y, uint32_t z) {
    return {NoiseHash(103 * x + 107 * y + 109 * z),
            {NoiseHash(67 * x + 59 * y + 71 * z), NoiseHash(73 * x + 79 * y + 83 * z),
             NoiseHash(89 * x + 97 * y + 101 * z)}};
}

// Joins two corners that differ along `axis` at fraction t: the value by the
// cubic Hermite polynomial through both values with the gradients' slopes
// along that axis, the gradients linearly.
Corner Join(const Corner &a, const Corner &b, double t, int axis) {
    const double t2 = t * t, t3 = t2 * t;
    const double ga = a.gradient[static_cast<size_t>(axis)];
    const double gb = b.gradient[static_cast<size_t>(axis)];
    Corner out;
    out.value = (2 * t3 - 3 * t2 + 1) * a.value + (t3 - 2 * t2 + t) * ga +
                (3 * t2 - 2 * t3) * b.value + (t3 - t2) * gb;
    for (size_t k = 0; k < 3; ++k)
        out.gradient[k] = a.gradient[k] + t * (b.gradient[k] - a.gradient[k]);
    return out;
}

double LatticeNoise(Vec3 p) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
        return std::numeric_limits<double>::quiet_NaN();
    const double fx = std::floor(p.x), fy = std::floor(p.y), fz = std::floor(p.z);
    const uint32_t X = LatticeIndex(fx), Y = LatticeIndex(fy), Z = LatticeIndex(fz);
    const double tx = p.x - fx, ty = p.y - fy, tz = p.z - fz;
    // Along z for each (x, y) corner pair, then along y, then along x.
    Corner alongZ[2][2];
    for (uint32_t b0 = 0; b0 < 2; ++b0)
        for (uint32_t b1 = 0; b1 < 2; ++b1)
            alongZ[b0][b1] =
                Join(CornerAt(X + b0, Y + b1, Z), CornerAt(X + b0, Y + b1, Z + 1), tz, 2);
    const Corner low = Join(alongZ[0][0], alongZ[0][1], ty, 1);
    const Corner high = Join(alongZ[1][0], alongZ[1][1], ty, 1);
    return Join(low, high, tx, 0).value;
}

}  // namespace

double NoiseHash(uint32_t n) {
    n ^= n << 13;
    const uint32_t bits = (n * (n * n * 15731u + 789221u) - 771171059u) & 0x7fffffffu;
    return 1 - bits / 1073741824.0;
}

double Noise3(Vec3 p, NoiseCache &cache) {
    if (cache.valid && p.x == cache.point.x && p.y == cache.point.y && p.z == cache.point.z)
        return cache.value;
    const double value = LatticeNoise(p);
    cache = {p, value, true};
    return value;
}

double Turbulence3(int32_t octaves, Vec3 p, NoiseCache &cache) {
    double sum = Noise3(p, cache), total = 1;
    const int32_t count = std::min(octaves, kMostOctaves);
    for (int32_t i = 0; count >= i + 2; ++i) {
        const Octave &o = kOctaves[static_cast<size_t>(i)];
        const double shift = (i + 2) * 1000.0;
        sum +=
            Noise3({o.scale * p.x + shift, o.scale * p.y + shift, o.scale * p.z + shift}, cache) *
            o.weight;
        total += o.weight;
    }
    return sum / total;
}

const WarpKindRow kLumamapWarp{kWarpLumamap, ReadLumamap, MapClosedForm<LumamapParams, Lumamap>,
                               WarpMatrixRule::kNotMatrix};
const WarpKindRow kMirageWarp{kWarpMirage, ReadMirage, MapClosedForm<MirageParams, Mirage>,
                              WarpMatrixRule::kNotMatrix};
const WarpKindRow kRippleWarp{kWarpRipple, ReadRipple, MapClosedForm<RippleParams, Ripple>,
                              WarpMatrixRule::kNotMatrix};
const WarpKindRow kTurbulenceWarp{kWarpTurbulence, ReadTurbulence,
                                  MapClosedForm<TurbulenceParams, Turbulence>,
                                  WarpMatrixRule::kNotMatrix};

}  // namespace kve
