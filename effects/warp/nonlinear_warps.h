// The closed-form warps, one kind record each for the effect table, and the
// noise behind Turbulence.
#pragma once

#include <cstdint>

#include "effects/warp/warp_driver.h"

namespace kve {

// Centred on a point (radial_warps.cpp).
extern const WarpKindRow kBubbleWarp;
extern const WarpKindRow kDropletWarp;
extern const WarpKindRow kKscopeWarp;
extern const WarpKindRow kPinchWarp;
extern const WarpKindRow kVortexWarp;
extern const WarpKindRow kWavesWarp;

// Displacement fields (field_warps.cpp).
extern const WarpKindRow kLumamapWarp;
extern const WarpKindRow kMirageWarp;
extern const WarpKindRow kRippleWarp;
extern const WarpKindRow kTurbulenceWarp;

struct Vec3 {
    double x, y, z;
};

// The last point the noise was evaluated at and its value; lives for one call.
struct NoiseCache {
    Vec3 point;
    double value;
    bool valid;  // false until the first evaluation
};

// A lattice hash in (-1, 1]: n ^= n << 13, then
// 1 - ((n (n^2 15731 + 789221) - 771171059) & 0x7fffffff) / 2^30, all in
// unsigned 32-bit arithmetic (the same bits as two's-complement wrap-around).
double NoiseHash(uint32_t n);

// Smooth noise: each lattice corner carries a hashed value and a hashed
// gradient, joined by cubic Hermite interpolation along z, then y, then x.
// A non-finite point gives NaN. Repeats of the last point come from `cache`.
double Noise3(Vec3 p, NoiseCache &cache);

// Octave sum: Noise3(p) plus, for octaves 2 to 6, the noise at 2, 4, 8, 16
// and 32 times p (moved by 2000, 3000, ... on every axis) at weights 1/2,
// 1/4, ..., divided by the total weight. Counts above 6 act as 6.
double Turbulence3(int32_t octaves, Vec3 p, NoiseCache &cache);

}  // namespace kve
