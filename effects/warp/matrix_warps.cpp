// The matrix warps: each builds one projective matrix E that maps output
// unit coordinates to source unit coordinates (the inverse of what the viewer
// sees); set-up folds the pixel/unit frames around it so one matrix maps
// output pixels straight to source pixels.
//
//   SRT      the source scaled, turned counter-clockwise, then moved
//   Shear    moved, sheared by two angles, scaled
//   Tilt     moved, tilted in perspective by two angles, scaled
//   X4Corner the output rectangle's corners show four given source points
//            (ResizeX4Corner: the same at an output size of its own)
//   Xform    nine matrix entries given directly
//
// Degenerate parameters (a zero scale, an angle of exactly 90 degrees, a
// quad that cannot be mapped) blank the whole output.
#include "effects/warp/warp_driver.h"

namespace kve {

namespace {

// SRT: scale x, scale y, rotation, move x, move y, softness.
bool ReadSrt(WarpState &s, const ArgBlock &in) {
    constexpr int n = 6;
    const double sx = TextReal(in, n, 0), sy = TextReal(in, n, 1), turn = TextReal(in, n, 2);
    const double mx = TextReal(in, n, 3), my = TextReal(in, n, 4);
    if (sx == 0 || sy == 0) return false;
    // Prepended last is applied first: a point is moved back, turned back, unscaled.
    Matrix3 &E = s.params.matrix;
    Matrix3_Identity(E);
    Matrix3_Scale(E, 1 / sx, 1 / sy);
    Matrix3_Rotate(E, -turn);
    Matrix3_Translate(E, -mx, -my);
    return true;
}

using AngleBuilder = void (*)(Matrix3 &M, double aDegrees, double bDegrees);

// Shear and Tilt: scale x, scale y, angle a, angle b, move x, move y,
// softness. The moves are used as given, not negated.
bool ReadAngled(WarpState &s, const ArgBlock &in, AngleBuilder angles) {
    constexpr int n = 7;
    const double sx = TextReal(in, n, 0), sy = TextReal(in, n, 1);
    const double a = TextReal(in, n, 2), b = TextReal(in, n, 3);
    const double mx = TextReal(in, n, 4), my = TextReal(in, n, 5);
    if (sx == 0 || sy == 0 || a == 90.0 || b == 90.0) return false;
    Matrix3 &E = s.params.matrix;
    Matrix3_Identity(E);
    Matrix3_Scale(E, 1 / sx, 1 / sy);
    angles(E, a, b);
    Matrix3_Translate(E, mx, my);
    return true;
}

bool ReadShear(WarpState &s, const ArgBlock &in) {
    return ReadAngled(s, in, Matrix3_Shear);
}

bool ReadTilt(WarpState &s, const ArgBlock &in) {
    return ReadAngled(s, in, Matrix3_Tilt);
}

// X4Corner: x1 y1 .. x4 y4, softness. The output rectangle's corners, in
// unit coordinates bottom-left, bottom-right, top-right, top-left, go to the
// four points in turn.
bool ReadX4Corner(WarpState &s, const ArgBlock &in) {
    constexpr int n = 9;
    const double k = static_cast<double>(s.dstHeight) / s.dstWidth;
    const std::array<Vec2, 4> rectangle{Vec2{-1, -k}, Vec2{1, -k}, Vec2{1, k}, Vec2{-1, k}};
    std::array<Vec2, 4> quad{};
    for (int i = 0; i < 4; ++i)
        quad[i] = {TextReal(in, n, 2 * i), TextReal(in, n, 2 * i + 1)};
    return QuadToQuad(s.params.matrix, rectangle, quad);
}

// Xform: the nine entries in row-major order m00 m01 m02 m10 .. m22, softness.
// (The parser hands them over last first; they are put back in text order.)
bool ReadXform(WarpState &s, const ArgBlock &in) {
    constexpr int n = 10;
    Matrix3 &E = s.params.matrix;
    for (int k = 0; k < 9; ++k)
        E.m[k] = TextReal(in, n, k);
    Matrix3_Classify(E);
    return true;
}

}  // namespace

const WarpKindRow kXformWarp{kWarpXform, ReadXform, MapMatrix,
                             WarpMatrixRule::kAffineUnlessPerspective};
const WarpKindRow kX4CornerWarp{kWarpX4Corner, ReadX4Corner, MapMatrix,
                                WarpMatrixRule::kAffineUnlessPerspective};
const WarpKindRow kSrtWarp{kWarpSrt, ReadSrt, MapMatrix, WarpMatrixRule::kAlwaysAffine};
const WarpKindRow kTiltWarp{kWarpTilt, ReadTilt, MapMatrix, WarpMatrixRule::kKeepQuality};
const WarpKindRow kShearWarp{kWarpShear, ReadShear, MapMatrix,
                             WarpMatrixRule::kAffineUnlessPerspective};

}  // namespace kve
