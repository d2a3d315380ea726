// The closed-form warps, one kind record each for the effect table.
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

}  // namespace kve
