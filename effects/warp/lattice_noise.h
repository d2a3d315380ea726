// Smooth lattice noise and its octave sums, for the Turbulence warp.
#pragma once

#include <array>
#include <cstdint>

namespace kve {

struct Vec3 {
    double x, y, z;
};

// The last point the noise was evaluated at and its value; lives for one call.
struct NoiseCache {
    Vec3 point;
    double value;
    bool valid;  // false until the first evaluation
};

// Octaves 1 (the base noise) to 6: the most the octave table defines.
constexpr int32_t kMostOctaves = 6;

// What one octave keeps while a run of points walks along x at one y and z
// (an output row): the lattice column it was in, and the cell's corners there
// already joined along z and y, so the next point in the same cell only joins
// along x.
struct NoiseRow {
    bool valid;
    uint32_t column;
    double y, z;                  // the exact coordinates the joins were made at
    double lowValue, lowSlope;    // joined corner at the column: value, x gradient
    double highValue, highSlope;  // at the next column
};
using NoiseRows = std::array<NoiseRow, kMostOctaves>;  // one per octave, zeroed = empty

// A lattice hash in (-1, 1]: n ^= n << 13, then
// 1 - ((n (n^2 15731 + 789221) - 771171059) & 0x7fffffff) / 2^30, all in
// unsigned 32-bit arithmetic (the same bits as two's-complement wrap-around).
double NoiseHash(uint32_t n);

// Smooth noise: each lattice corner carries a hashed value and a hashed
// gradient, joined by cubic Hermite interpolation along z, then y, then x.
// The lattice index wraps every 2^32 like the hash's arithmetic, so far
// points are fine; a non-finite point gives NaN. A repeat of the last point
// comes from `cache`.
double Noise3(Vec3 p, NoiseCache &cache);

// Octave sum: Noise3(p) plus, for octaves 2 to 6, the noise at 2, 4, 8, 16
// and 32 times p (moved by 2000, 3000, ... on every axis) at weights 1/2,
// 1/4, ..., divided by the total weight. Counts above 6 act as 6.
double Turbulence3(int32_t octaves, Vec3 p, NoiseCache &cache);

// The same values as Noise3 and Turbulence3, bit for bit, reusing each
// octave's row joins while points stay in one lattice cell at one y and z.
double Noise3Row(Vec3 p, NoiseCache &cache, NoiseRow &row);
double Turbulence3Rows(int32_t octaves, Vec3 p, NoiseCache &cache, NoiseRows &rows);

}  // namespace kve
