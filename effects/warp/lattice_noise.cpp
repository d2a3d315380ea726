// Smooth lattice noise for the Turbulence warp: a hashed value and gradient
// at every integer lattice corner, joined by cubic Hermite interpolation, and
// octave sums of it.
//
// Turbulence evaluates the noise at many points that share a y and z (one
// output row) and move slowly along x, so besides the plain evaluation there
// is a row form that keeps each octave's corners joined along z and y while
// the points stay in one lattice cell. Both forms run the same operations on
// the same values; a test holds them to equal bits.
#include "effects/warp/lattice_noise.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kve {

namespace {

// Octaves 2 .. 6: the scale of the point and the weight of the noise there.
struct Octave {
    double scale, weight;
};
constexpr std::array<Octave, kMostOctaves - 1> kOctaves{
    {{2, 0.5}, {4, 0.25}, {8, 0.125}, {16, 0.0625}, {32, 0.03125}}};

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

// The cubic Hermite polynomial through values va and vb with slopes ga and gb.
double Hermite(double t, double va, double ga, double vb, double gb) {
    const double t2 = t * t, t3 = t2 * t;
    return (2 * t3 - 3 * t2 + 1) * va + (t3 - 2 * t2 + t) * ga + (3 * t2 - 2 * t3) * vb +
           (t3 - t2) * gb;
}

// Joins two corners that differ along `axis` at fraction t: the value by the
// Hermite polynomial with the gradients' slopes along that axis, the
// gradients linearly.
Corner Join(const Corner &a, const Corner &b, double t, size_t axis) {
    Corner out;
    out.value = Hermite(t, a.value, a.gradient[axis], b.value, b.gradient[axis]);
    for (size_t k = 0; k < 3; ++k)
        out.gradient[k] = a.gradient[k] + t * (b.gradient[k] - a.gradient[k]);
    return out;
}

bool Finite(Vec3 p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// The cell's corners joined along z (for each x, y pair), then along y: what
// is left to join along x, at column X (low) and X + 1 (high).
struct RowJoins {
    Corner low, high;
};

RowJoins JoinAlongZY(uint32_t X, double fy, double fz, Vec3 p) {
    const uint32_t Y = LatticeIndex(fy), Z = LatticeIndex(fz);
    const double ty = p.y - fy, tz = p.z - fz;
    Corner alongZ[2][2];
    for (uint32_t b0 = 0; b0 < 2; ++b0)
        for (uint32_t b1 = 0; b1 < 2; ++b1)
            alongZ[b0][b1] =
                Join(CornerAt(X + b0, Y + b1, Z), CornerAt(X + b0, Y + b1, Z + 1), tz, 2);
    return {Join(alongZ[0][0], alongZ[0][1], ty, 1), Join(alongZ[1][0], alongZ[1][1], ty, 1)};
}

double LatticeNoise(Vec3 p) {
    if (!Finite(p)) return std::numeric_limits<double>::quiet_NaN();
    const double fx = std::floor(p.x);
    const RowJoins joins = JoinAlongZY(LatticeIndex(fx), std::floor(p.y), std::floor(p.z), p);
    return Hermite(p.x - fx, joins.low.value, joins.low.gradient[0], joins.high.value,
                   joins.high.gradient[0]);
}

// LatticeNoise with the z and y joins kept in `row` while p stays in its cell
// at the same y and z.
double LatticeNoiseRow(Vec3 p, NoiseRow &row) {
    if (!Finite(p)) return std::numeric_limits<double>::quiet_NaN();
    const double fx = std::floor(p.x);
    const uint32_t X = LatticeIndex(fx);
    if (!(row.valid && row.column == X && row.y == p.y && row.z == p.z)) {
        const RowJoins joins = JoinAlongZY(X, std::floor(p.y), std::floor(p.z), p);
        row = {true,
               X,
               p.y,
               p.z,
               joins.low.value,
               joins.low.gradient[0],
               joins.high.value,
               joins.high.gradient[0]};
    }
    return Hermite(p.x - fx, row.lowValue, row.lowSlope, row.highValue, row.highSlope);
}

template <class Noise>
double OctaveSum(int32_t octaves, Vec3 p, Noise noise) {
    double sum = noise(0, p), total = 1;
    const int32_t count = std::min(octaves, kMostOctaves);
    for (int32_t i = 0; count >= i + 2; ++i) {
        const Octave &o = kOctaves[static_cast<size_t>(i)];
        const double shift = (i + 2) * 1000.0;
        sum += noise(i + 1, {o.scale * p.x + shift, o.scale * p.y + shift, o.scale * p.z + shift}) *
               o.weight;
        total += o.weight;
    }
    return sum / total;
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

double Noise3Row(Vec3 p, NoiseCache &cache, NoiseRow &row) {
    if (cache.valid && p.x == cache.point.x && p.y == cache.point.y && p.z == cache.point.z)
        return cache.value;
    const double value = LatticeNoiseRow(p, row);
    cache = {p, value, true};
    return value;
}

double Turbulence3(int32_t octaves, Vec3 p, NoiseCache &cache) {
    return OctaveSum(octaves, p, [&](int32_t, Vec3 q) { return Noise3(q, cache); });
}

double Turbulence3Rows(int32_t octaves, Vec3 p, NoiseCache &cache, NoiseRows &rows) {
    return OctaveSum(octaves, p, [&](int32_t octave, Vec3 q) {
        return Noise3Row(q, cache, rows[static_cast<size_t>(octave)]);
    });
}

}  // namespace kve
