// Projective 3 x 3 matrices for the linear warps, the pixel/unit frames and
// the zoom geometry, with the 2-vector helpers of the radial warps.
//
// A point (x, y) maps as the row vector [x y 1] times M:
//   x' = x m00 + y m10 + m20,  y' = x m01 + y m11 + m21,  w' = x m02 + y m12 + m22
// and comes out as (x'/w', y'/w'), or undivided when w' is 0. A x B applies A
// first, then B. The flags word classifies a matrix so that bulk mapping can
// skip the multiplications its class makes trivial.
#pragma once

#include <array>
#include <cstdint>

namespace kve {

struct Vec2 {
    double x, y;
};

enum Matrix3Flags : int32_t {
    kMatrixLinear = 1,       // linear part other than the identity
    kMatrixTranslate = 2,    // m20 or m21 non-zero
    kMatrixScale = 4,        // m00 or m11 other than 1
    kMatrixPerspective = 8,  // m02 or m12 non-zero, or m22 other than 1
};

struct Matrix3 {
    int32_t flags = 0;
    std::array<double, 9> m{1, 0, 0, 0, 1, 0, 0, 0, 1};  // row-major m00 m01 m02 m10 ...
};

void Matrix3_Identity(Matrix3 &M);
void Matrix3_Classify(Matrix3 &M);
// out = A x B (A applied first); out may be A or B.
void Matrix3_Multiply(Matrix3 &out, const Matrix3 &A, const Matrix3 &B);

// Each builds T and replaces M by T x M, so the operation prepended last is
// the one a point meets first. Each does nothing for its neutral arguments.
void Matrix3_Translate(Matrix3 &M, double tx, double ty);
void Matrix3_Scale(Matrix3 &M, double sx, double sy);
void Matrix3_Rotate(Matrix3 &M, double degrees);
void Matrix3_Tilt(Matrix3 &M, double aDegrees, double bDegrees);
void Matrix3_Shear(Matrix3 &M, double aDegrees, double bDegrees);

// Pixel (x right, y down) to unit coordinates (x from -1 to 1 across the
// width, y up, one unit = half the width; s = 2 makes a vertical unit a
// quarter of the width) and back.
void Matrix3_PixelToUnit(Matrix3 &M, int32_t W, int32_t H, double s);
void Matrix3_UnitToPixel(Matrix3 &M, int32_t W, int32_t H, double s);

// out = M^-1. False, with out a copy of M, when M has a zero row (singular).
bool Matrix3_Invert(Matrix3 &out, const Matrix3 &M);

// The matrix taking the unit square's corners (0,0) (1,0) (1,1) (0,1) to the
// quad's four corners; false when three corners are collinear.
bool SquareToQuad(Matrix3 &M, const std::array<Vec2, 4> &quad);
// The matrix taking quad `from` to quad `to`; false when either is degenerate
// or `from`'s mapping cannot be inverted.
bool QuadToQuad(Matrix3 &M, const std::array<Vec2, 4> &from, const std::array<Vec2, 4> &to);

// LU decomposition of the 3 x 3 part with implicit partial pivoting, and the
// matching substitution. LuDecompose fails only on a row of zeros; a zero
// pivot is replaced by 1e-20.
bool LuDecompose(std::array<double, 9> &a, std::array<int, 3> &index, int &parity);
void LuSolve(const std::array<double, 9> &a, const std::array<int, 3> &index,
             std::array<double, 3> &b);

// Maps n points (dst may be src), by the cheapest path the flags allow.
void Matrix3_MapPoints(Vec2 *dst, const Matrix3 &M, const Vec2 *src, int n);
// Maps n evenly spaced points of one horizontal row: src[0] is mapped once and
// each next point adds the matrix's first row times the spacing before the
// divide. Only src[0] and src[n-1] are read.
void Matrix3_MapRow(Vec2 *dst, const Matrix3 &M, const Vec2 *src, int n);

double Vec2Length(Vec2 v);
// Degrees clockwise from +y: 0 along +y, 90 along +x, in [0, 360).
double Vec2Angle(Vec2 v);
Vec2 Vec2FromPolar(double r, double degrees);

}  // namespace kve
