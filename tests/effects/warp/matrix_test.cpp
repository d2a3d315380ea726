#include "effects/warp/matrix.h"

#include <gtest/gtest.h>

namespace kve {
namespace {

Vec2 Map(const Matrix3 &M, Vec2 p) {
    Matrix3_MapPoints(&p, M, &p, 1);
    return p;
}

TEST(Matrix3, BuildersSetTheirFlagsAndSkipNeutralArguments) {
    Matrix3 M;
    Matrix3_Scale(M, 1, 1);
    Matrix3_Translate(M, 0, 0);
    Matrix3_Rotate(M, 0);
    Matrix3_Tilt(M, 0, 0);
    Matrix3_Shear(M, 0, 0);
    EXPECT_EQ(M.flags, 0);
    Matrix3_Scale(M, 2, 1);
    EXPECT_EQ(M.flags, kMatrixScale | kMatrixLinear);
    Matrix3_Translate(M, 3, 4);
    EXPECT_EQ(M.flags, kMatrixScale | kMatrixLinear | kMatrixTranslate);
    Matrix3_Tilt(M, 10, 0);
    EXPECT_TRUE(M.flags & kMatrixPerspective);
}

TEST(Matrix3, PrependedOperationsApplyLastPrependedFirst) {
    // Scale, then translate prepended: a point is translated first, scaled last.
    Matrix3 M;
    Matrix3_Scale(M, 2, 3);
    Matrix3_Translate(M, 1, 1);
    const Vec2 p = Map(M, {1, 2});
    EXPECT_EQ(p.x, 4.0);
    EXPECT_EQ(p.y, 9.0);
    // A quarter turn takes +x to +y in this row-vector convention.
    Matrix3 R;
    Matrix3_Rotate(R, 90);
    const Vec2 q = Map(R, {1, 0});
    EXPECT_NEAR(q.x, 0.0, 1e-15);
    EXPECT_EQ(q.y, 1.0);
}

TEST(Matrix3, PixelAndUnitFrames) {
    Matrix3 M;
    Matrix3_PixelToUnit(M, 720, 480, 1.0);
    EXPECT_EQ(M.flags, 6);
    Vec2 p = Map(M, {0, 0});
    EXPECT_EQ(p.x, -1.0);
    EXPECT_NEAR(p.y, 2.0 / 3.0, 1e-15);
    p = Map(M, {360, 240});
    EXPECT_EQ(p.x, 0.0);
    EXPECT_NEAR(p.y, 0.0, 1e-15);
    Matrix3 back, round;
    Matrix3_UnitToPixel(back, 720, 480, 1.0);
    Matrix3_Multiply(round, M, back);
    p = Map(round, {123, 45});
    EXPECT_NEAR(p.x, 123.0, 1e-12);
    EXPECT_NEAR(p.y, 45.0, 1e-12);
}

TEST(Matrix3, InversionAndQuads) {
    Matrix3 M;
    Matrix3_Scale(M, 2, 0.5);
    Matrix3_Rotate(M, 30);
    Matrix3_Tilt(M, 5, -7);
    Matrix3_Translate(M, 10, -3);
    Matrix3 inverse, product;
    ASSERT_TRUE(Matrix3_Invert(inverse, M));
    Matrix3_Multiply(product, M, inverse);
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(product.m[i], i % 4 == 0 ? 1.0 : 0.0, 1e-12) << i;

    Matrix3 singular;
    singular.m = {1, 2, 3, 0, 0, 0, 4, 5, 6};
    EXPECT_FALSE(Matrix3_Invert(inverse, singular));
    EXPECT_EQ(inverse.m, singular.m);

    const std::array<Vec2, 4> square{{{0, 0}, {1, 0}, {1, 1}, {0, 1}}};
    Matrix3 S;
    ASSERT_TRUE(SquareToQuad(S, square));
    EXPECT_EQ(S.flags, 0);

    const std::array<Vec2, 4> quad{{{10, 10}, {50, 12}, {60, 70}, {5, 40}}};
    ASSERT_TRUE(SquareToQuad(S, quad));
    for (int k = 0; k < 4; ++k) {
        const Vec2 p = Map(S, square[k]);
        EXPECT_NEAR(p.x, quad[k].x, 1e-9);
        EXPECT_NEAR(p.y, quad[k].y, 1e-9);
    }
    Matrix3 Q;
    ASSERT_TRUE(QuadToQuad(Q, quad, square));
    const Vec2 p = Map(Q, quad[2]);
    EXPECT_NEAR(p.x, 1.0, 1e-9);
    EXPECT_NEAR(p.y, 1.0, 1e-9);

    // Three collinear corners on the projective path.
    const std::array<Vec2, 4> collinear{{{0, 5}, {1, 1}, {2, 2}, {3, 3}}};
    EXPECT_FALSE(SquareToQuad(S, collinear));
    EXPECT_FALSE(QuadToQuad(Q, collinear, square));
}

TEST(Matrix3, MapRowMatchesPointwiseMappingAndZeroWStaysUndivided) {
    Matrix3 M;
    Matrix3_Rotate(M, 17);
    Matrix3_Tilt(M, 3, 4);
    std::array<Vec2, 9> row, each;
    for (int i = 0; i < 9; ++i)
        row[i] = {2.0 * i, 5.0};
    Matrix3_MapPoints(each.data(), M, row.data(), 9);
    Matrix3_MapRow(row.data(), M, row.data(), 9);
    for (int i = 0; i < 9; ++i) {
        EXPECT_NEAR(row[i].x, each[i].x, 1e-12);
        EXPECT_NEAR(row[i].y, each[i].y, 1e-12);
    }
    Matrix3 P;
    P.m = {1, 0, 1, 0, 1, 0, 0, 0, 0};
    Matrix3_Classify(P);
    const Vec2 p = Map(P, {0, 7});  // w' = 0
    EXPECT_EQ(p.x, 0.0);
    EXPECT_EQ(p.y, 7.0);
}

TEST(Vec2, AnglesPolarAndLength) {
    EXPECT_EQ(Vec2Angle({0, 1}), 0.0);
    EXPECT_EQ(Vec2Angle({1, 0}), 90.0);
    EXPECT_EQ(Vec2Angle({-1, 0}), 270.0);
    const Vec2 v = Vec2FromPolar(2, 90);
    EXPECT_EQ(v.x, 2.0);
    EXPECT_NEAR(v.y, 0.0, 1e-15);
    EXPECT_EQ(Vec2Length({3, 4}), 5.0);
}

}  // namespace
}  // namespace kve
