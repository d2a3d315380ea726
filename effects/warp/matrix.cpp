#include "effects/warp/matrix.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace kve {

namespace {

constexpr double DegreesToRadians(double degrees) {
    return degrees * std::numbers::pi / 180.0;
}

// Replaces M by T x M and marks T's own kind on top of the classification.
void Prepend(Matrix3 &M, const Matrix3 &T, int32_t bit) {
    Matrix3_Multiply(M, T, M);
    M.flags |= bit;
}

}  // namespace

void Matrix3_Identity(Matrix3 &M) {
    M = Matrix3{};
}

void Matrix3_Classify(Matrix3 &M) {
    const auto &m = M.m;
    int32_t flags = 0;
    if (m[0] != 1 || m[4] != 1 || m[1] != 0 || m[3] != 0) flags |= kMatrixLinear;
    if (m[6] != 0 || m[7] != 0) flags |= kMatrixTranslate;
    if (m[0] != 1 || m[4] != 1) flags |= kMatrixScale;
    if (m[2] != 0 || m[5] != 0 || m[8] != 1) flags |= kMatrixPerspective;
    M.flags = flags;
}

void Matrix3_Multiply(Matrix3 &out, const Matrix3 &A, const Matrix3 &B) {
    Matrix3 r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r.m[3 * i + j] =
                A.m[3 * i] * B.m[j] + A.m[3 * i + 1] * B.m[3 + j] + A.m[3 * i + 2] * B.m[6 + j];
    Matrix3_Classify(r);
    out = r;
}

void Matrix3_Translate(Matrix3 &M, double tx, double ty) {
    if (tx == 0 && ty == 0) return;
    Matrix3 T;
    T.m[6] = tx;
    T.m[7] = ty;
    Prepend(M, T, kMatrixTranslate);
}

void Matrix3_Scale(Matrix3 &M, double sx, double sy) {
    if (sx == 1 && sy == 1) return;
    Matrix3 T;
    T.m[0] = sx;
    T.m[4] = sy;
    Prepend(M, T, kMatrixScale);
}

void Matrix3_Rotate(Matrix3 &M, double degrees) {
    if (degrees == 0) return;
    const double r = DegreesToRadians(degrees), c = std::cos(r), s = std::sin(r);
    Matrix3 T;
    T.m[0] = c;
    T.m[1] = s;
    T.m[3] = -s;
    T.m[4] = c;
    Prepend(M, T, kMatrixLinear);
}

void Matrix3_Tilt(Matrix3 &M, double aDegrees, double bDegrees) {
    if (aDegrees == 0 && bDegrees == 0) return;
    Matrix3 T;
    T.m[2] = std::tan(DegreesToRadians(aDegrees));
    T.m[5] = std::tan(DegreesToRadians(bDegrees));
    Prepend(M, T, kMatrixPerspective);
}

void Matrix3_Shear(Matrix3 &M, double aDegrees, double bDegrees) {
    if (aDegrees == 0 && bDegrees == 0) return;
    Matrix3 T;
    T.m[1] = std::tan(DegreesToRadians(aDegrees));
    T.m[3] = std::tan(DegreesToRadians(bDegrees));
    Prepend(M, T, kMatrixLinear);
}

void Matrix3_PixelToUnit(Matrix3 &M, int32_t W, int32_t H, double s) {
    M.m = {2.0 / W, 0, 0, 0, -2.0 * s / W, 0, -1, H * s / W, 1};
    M.flags = kMatrixTranslate | kMatrixScale;
}

void Matrix3_UnitToPixel(Matrix3 &M, int32_t W, int32_t H, double s) {
    M.m = {W / 2.0, 0, 0, 0, -W / (2.0 * s), 0, W / 2.0, H / 2.0, 1};
    M.flags = kMatrixTranslate | kMatrixScale;
}

bool LuDecompose(std::array<double, 9> &a, std::array<int, 3> &index, int &parity) {
    std::array<double, 3> rowScale{};
    parity = 1;
    for (int i = 0; i < 3; ++i) {
        double big = 0;
        for (int j = 0; j < 3; ++j)
            big = std::max(big, std::fabs(a[3 * i + j]));
        if (big == 0) return false;
        rowScale[i] = 1.0 / big;
    }
    for (int j = 0; j < 3; ++j) {
        for (int i = 0; i < j; ++i) {
            double sum = a[3 * i + j];
            for (int k = 0; k < i; ++k)
                sum -= a[3 * i + k] * a[3 * k + j];
            a[3 * i + j] = sum;
        }
        double big = 0;
        int pivot = j;
        for (int i = j; i < 3; ++i) {
            double sum = a[3 * i + j];
            for (int k = 0; k < j; ++k)
                sum -= a[3 * i + k] * a[3 * k + j];
            a[3 * i + j] = sum;
            const double merit = rowScale[i] * std::fabs(sum);
            if (merit >= big) {
                big = merit;
                pivot = i;
            }
        }
        if (pivot != j) {
            for (int k = 0; k < 3; ++k)
                std::swap(a[3 * pivot + k], a[3 * j + k]);
            parity = -parity;
            rowScale[pivot] = rowScale[j];
        }
        index[j] = pivot;
        if (a[3 * j + j] == 0) a[3 * j + j] = 1e-20;
        if (j != 2) {
            const double inverse = 1.0 / a[3 * j + j];
            for (int i = j + 1; i < 3; ++i)
                a[3 * i + j] *= inverse;
        }
    }
    return true;
}

void LuSolve(const std::array<double, 9> &a, const std::array<int, 3> &index,
             std::array<double, 3> &b) {
    int firstNonZero = -1;
    for (int i = 0; i < 3; ++i) {
        const int ip = index[i];
        double sum = b[ip];
        b[ip] = b[i];
        if (firstNonZero >= 0) {
            for (int j = firstNonZero; j < i; ++j)
                sum -= a[3 * i + j] * b[j];
        } else if (sum != 0) {
            firstNonZero = i;
        }
        b[i] = sum;
    }
    for (int i = 2; i >= 0; --i) {
        double sum = b[i];
        for (int j = i + 1; j < 3; ++j)
            sum -= a[3 * i + j] * b[j];
        b[i] = sum / a[3 * i + i];
    }
}

bool Matrix3_Invert(Matrix3 &out, const Matrix3 &M) {
    out = M;
    std::array<double, 9> lu = M.m;
    std::array<int, 3> index{};
    int parity = 1;
    if (!LuDecompose(lu, index, parity)) return false;
    for (int k = 0; k < 3; ++k) {
        std::array<double, 3> column{};
        column[k] = 1;
        LuSolve(lu, index, column);
        for (int r = 0; r < 3; ++r)
            out.m[3 * r + k] = column[r];
    }
    Matrix3_Classify(out);
    return true;
}

bool SquareToQuad(Matrix3 &M, const std::array<Vec2, 4> &quad) {
    const double x0 = quad[0].x, y0 = quad[0].y, x1 = quad[1].x, y1 = quad[1].y;
    const double x2 = quad[2].x, y2 = quad[2].y, x3 = quad[3].x, y3 = quad[3].y;
    const double px = x0 - x1 + x2 - x3, py = y0 - y1 + y2 - y3;
    if (std::fabs(px) < 1e-20 && std::fabs(py) < 1e-20) {
        M.m = {x1 - x0, y1 - y0, 0, x2 - x1, y2 - y1, 0, x0, y0, 1};
    } else {
        const double dx1 = x1 - x2, dx2 = x3 - x2, dy1 = y1 - y2, dy2 = y3 - y2;
        const double del = dx1 * dy2 - dx2 * dy1;
        if (std::fabs(del) < 1e-20) return false;
        const double g = (px * dy2 - dx2 * py) / del, h = (dx1 * py - px * dy1) / del;
        M.m = {x1 - x0 + g * x1,
               y1 - y0 + g * y1,
               g,
               x3 - x0 + h * x3,
               y3 - y0 + h * y3,
               h,
               x0,
               y0,
               1};
    }
    Matrix3_Classify(M);
    return true;
}

bool QuadToQuad(Matrix3 &M, const std::array<Vec2, 4> &from, const std::array<Vec2, 4> &to) {
    Matrix3 squareToFrom, fromToSquare, squareToTo;
    if (!SquareToQuad(squareToFrom, from) || !SquareToQuad(squareToTo, to)) return false;
    if (!Matrix3_Invert(fromToSquare, squareToFrom)) return false;
    Matrix3_Multiply(M, fromToSquare, squareToTo);
    return true;
}

void Matrix3_MapPoints(Vec2 *dst, const Matrix3 &M, const Vec2 *src, int n) {
    const auto &m = M.m;
    switch (M.flags) {
        case 0:
            for (int i = 0; i < n; ++i)
                dst[i] = src[i];
            return;
        case kMatrixTranslate:
            for (int i = 0; i < n; ++i)
                dst[i] = {src[i].x + m[6], src[i].y + m[7]};
            return;
        case kMatrixScale:
            for (int i = 0; i < n; ++i)
                dst[i] = {src[i].x * m[0], src[i].y * m[4]};
            return;
        case kMatrixScale | kMatrixTranslate:
            for (int i = 0; i < n; ++i)
                dst[i] = {src[i].x * m[0] + m[6], src[i].y * m[4] + m[7]};
            return;
        case kMatrixLinear | kMatrixTranslate:
        case kMatrixLinear | kMatrixTranslate | kMatrixScale:
            for (int i = 0; i < n; ++i) {
                const double x = src[i].x, y = src[i].y;
                dst[i] = {x * m[0] + y * m[3] + m[6], x * m[1] + y * m[4] + m[7]};
            }
            return;
        case kMatrixLinear:
        case kMatrixLinear | kMatrixScale:
            for (int i = 0; i < n; ++i) {
                const double x = src[i].x, y = src[i].y;
                dst[i] = {x * m[0] + y * m[3], x * m[1] + y * m[4]};
            }
            return;
        default:
            for (int i = 0; i < n; ++i) {
                const double x = src[i].x, y = src[i].y;
                const double xp = x * m[0] + y * m[3] + m[6];
                const double yp = x * m[1] + y * m[4] + m[7];
                const double wp = x * m[2] + y * m[5] + m[8];
                dst[i] = wp != 0 ? Vec2{xp / wp, yp / wp} : Vec2{xp, yp};
            }
            return;
    }
}

void Matrix3_MapRow(Vec2 *dst, const Matrix3 &M, const Vec2 *src, int n) {
    if (n <= 0) return;
    const auto &m = M.m;
    const double spacing = n < 2 ? 0.0 : (src[n - 1].x - src[0].x) / (n - 1);
    const double x = src[0].x, y = src[0].y;
    double xp = x * m[0] + y * m[3] + m[6];
    double yp = x * m[1] + y * m[4] + m[7];
    double wp = x * m[2] + y * m[5] + m[8];
    const double dx = m[0] * spacing, dy = m[1] * spacing, dw = m[2] * spacing;
    const bool perspective = (M.flags & kMatrixPerspective) != 0;
    for (int i = 0; i < n; ++i) {
        if (perspective && wp != 0)
            dst[i] = {xp / wp, yp / wp};
        else
            dst[i] = {xp, yp};
        xp += dx;
        yp += dy;
        wp += dw;
    }
}

double Vec2Length(Vec2 v) {
    return std::sqrt(v.x * v.x + v.y * v.y);
}

double Vec2Angle(Vec2 v) {
    const double degrees = std::atan2(v.x, v.y) * 180.0 / std::numbers::pi;
    return degrees < 0 ? degrees + 360.0 : degrees;
}

Vec2 Vec2FromPolar(double r, double degrees) {
    const double a = DegreesToRadians(degrees);
    return {r * std::sin(a), r * std::cos(a)};
}

}  // namespace kve
