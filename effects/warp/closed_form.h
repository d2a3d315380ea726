// The machinery the closed-form (non-matrix) warps share: a kind keeps its
// parameters as one plain record in the state's value run, and its mapping is
// one formula in unit coordinates that a map function template wraps into the
// mapping-function contract (pixel to unit, the formula, unit to pixel, and
// the Jacobians by finite differences). Internal to the warp family.
#pragma once

#include <cstddef>
#include <cstring>
#include <numbers>
#include <type_traits>

#include "effects/warp/warp_driver.h"

namespace kve {

// A kind's parameter record, copied into and out of the state's value run
// (a plain array, so the record travels by bytes, not by a cast).
template <class P>
void StoreParams(WarpState &s, const P &params) {
    static_assert(std::is_trivially_copyable_v<P>, "warp parameters are plain records");
    static_assert(sizeof(P) <= sizeof(WarpParams::values), "record fits the value run");
    std::memcpy(s.params.values.data(), &params, sizeof(P));
}

template <class P>
P LoadParams(const WarpState &s) {
    static_assert(std::is_trivially_copyable_v<P>, "warp parameters are plain records");
    static_assert(sizeof(P) <= sizeof(WarpParams::values), "record fits the value run");
    P params;
    std::memcpy(&params, s.params.values.data(), sizeof(P));
    return params;
}

inline double Radians(double degrees) {
    return degrees * std::numbers::pi / 180.0;
}

// toUnit and toPixel only scale and move (the pixel/unit frames are built
// that way), so a point goes through them as Matrix3_MapPoints' scale-and-move
// path computes it: x m00 + m20, y m11 + m21.
inline Vec2 ScaleMove(const Matrix3 &M, Vec2 p) {
    return {p.x * M.m[0] + M.m[6], p.y * M.m[4] + M.m[7]};
}

// A warp's own formula: the source position in unit coordinates for the
// output position `unit`; `pixel` is the same position in output pixels (the
// luminance map reads its image there). The record is mutable for kinds that
// remember values between points (the noise cache).
template <class P>
using UnitFormula = Vec2 (*)(P &params, Vec2 unit, Vec2 pixel);

// Maps `count` points from src to pts (which may be the same array).
template <class P, UnitFormula<P> Formula>
void MapThroughUnits(const WarpState &s, P &params, Vec2 *pts, const Vec2 *src, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const Vec2 pixel = src[i];
        pts[i] = ScaleMove(s.toPixel, Formula(params, ScaleMove(s.toUnit, pixel), pixel));
    }
}

// What a formula works on for one run of points: the kind's parameter record
// itself, or a larger record that starts from it (its first member, `params`)
// and adds what is worth keeping along one row only (zeroed at the start).
template <class Work, class P>
Work StartWork(const WarpState &s) {
    if constexpr (std::is_same_v<Work, P>)
        return LoadParams<P>(s);
    else {
        Work work{};
        work.params = LoadParams<P>(s);
        return work;
    }
}

// Puts back what the formula remembered in the parameters, for the next run.
template <class Work, class P>
void EndWork(WarpState &s, const Work &work) {
    if constexpr (std::is_same_v<Work, P>)
        StoreParams(s, work);
    else
        StoreParams(s, work.params);
}

// The mapping function of a closed-form kind: Jacobians by finite differences
// (each point and its two offset copies mapped alike).
template <class Work, UnitFormula<Work> Formula, class P = Work>
void MapClosedForm(WarpState &s, Vec2 *pts, const Vec2 *src, int n, bool withJacobian) {
    if (n <= 0) return;
    Work work = StartWork<Work, P>(s);
    const size_t points = static_cast<size_t>(n);
    if (withJacobian) {
        JacobianPrepare(pts, src, n);
        MapThroughUnits<Work, Formula>(s, work, pts, pts, 3 * points);
        JacobianFinish(pts, n);
    } else {
        MapThroughUnits<Work, Formula>(s, work, pts, src, points);
    }
    EndWork<Work, P>(s, work);
}

// The same with identity Jacobians: for mappings whose finite differences
// would jump across seams (the kaleidoscope's mirror lines), so every pixel
// samples with the unit footprint.
template <class P, UnitFormula<P> Formula>
void MapClosedFormUnitJacobian(WarpState &s, Vec2 *pts, const Vec2 *src, int n, bool withJacobian) {
    if (n <= 0) return;
    P params = LoadParams<P>(s);
    MapThroughUnits<P, Formula>(s, params, pts, src, static_cast<size_t>(n));
    if (withJacobian) JacobianIdentity(pts, n);
    StoreParams(s, params);
}

}  // namespace kve
