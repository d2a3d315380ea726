// The lattice noise behind Turbulence: hash values worked by hand, lattice
// points, far coordinates, the last-point cache, octave sums, and the row
// form against the plain one.
#include "effects/warp/lattice_noise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace kve::test {
namespace {

NoiseCache FreshCache() {
    return NoiseCache{{0, 0, 0}, 0, false};
}

// Hand-worked in 32-bit wrap-around arithmetic (the products overflow).
TEST(TurbulenceNoise, HashValues) {
    EXPECT_EQ(NoiseHash(0), 1 - 1376312589 / 1073741824.0);
    EXPECT_EQ(NoiseHash(1), 1 - 1316808037 / 1073741824.0);
    EXPECT_EQ(NoiseHash(12345), 1 - 2032478005 / 1073741824.0);
    EXPECT_EQ(NoiseHash(0xffffffffu), 1 - 107238581 / 1073741824.0);
}

// On a lattice point the noise is the corner's value hash; the lattice wraps
// every 2^32 like the hash's arithmetic, however far out the point lies.
TEST(TurbulenceNoise, LatticePointsAndFarCoordinates) {
    NoiseCache cache = FreshCache();
    EXPECT_EQ(Noise3({5, -3, 7}, cache), NoiseHash(103u * 5 + 107u * uint32_t(-3) + 109u * 7));
    EXPECT_EQ(Noise3({0, 0, 0}, cache), NoiseHash(0));
    const double two32 = 4294967296.0;
    const Vec3 near{5.25, -2.5, 0.75};
    const double value = Noise3(near, cache);
    EXPECT_EQ(Noise3({near.x + two32, near.y - 3 * two32, near.z + two32}, cache), value);
    EXPECT_EQ(Noise3({0x1p70, 0, 0}, cache), Noise3({0, 0, 0}, cache));
    EXPECT_EQ(Noise3({-1e300, 1e300, 0x1p62}, cache), Noise3({0, 0, 0}, cache));
    EXPECT_TRUE(std::isnan(Noise3({INFINITY, 0, 0}, cache)));
    EXPECT_TRUE(std::isnan(Noise3({0, NAN, 0}, cache)));
    // Between lattice points it stays within the Hermite's reach.
    for (double t = 0; t < 4; t += 0.0625) {
        const double v = Noise3({t, t * 0.5, -t}, cache);
        EXPECT_TRUE(std::isfinite(v) && std::fabs(v) < 3) << t;
    }
}

// A fresh cache holds no point, not even the far corner a first point could
// be; a repeated point gives the remembered value.
TEST(TurbulenceNoise, CacheStartsEmpty) {
    NoiseCache cache = FreshCache();
    cache.point = {-100000, -100000, -100000};
    EXPECT_EQ(Noise3({-100000, -100000, -100000}, cache),
              NoiseHash(uint32_t(-100000) * (103u + 107u + 109u)));
    NoiseCache other = FreshCache();
    const Vec3 p{0.3, 0.7, 0.1};
    const double first = Noise3(p, other);
    EXPECT_TRUE(other.valid);
    EXPECT_EQ(Noise3(p, other), first);
}

// 1 octave is the base noise; 2 add the first octave (scale 2, moved by 2000,
// weight 1/2, total 1.5); counts above 6 act as 6, counts below 2 as 1.
TEST(TurbulenceNoise, OctaveSums) {
    NoiseCache cache = FreshCache();
    const Vec3 p{0.37, -1.21, 0.5};
    const double base = Noise3(p, cache);
    const double first = Noise3({2 * p.x + 2000, 2 * p.y + 2000, 2 * p.z + 2000}, cache);
    EXPECT_EQ(Turbulence3(1, p, cache), base / 1);
    EXPECT_EQ(Turbulence3(0, p, cache), base);
    EXPECT_EQ(Turbulence3(-7, p, cache), base);
    EXPECT_EQ(Turbulence3(2, p, cache), (base + first * 0.5) / 1.5);
    const double six = Turbulence3(6, p, cache);
    EXPECT_NE(six, Turbulence3(5, p, cache));
    EXPECT_EQ(Turbulence3(7, p, cache), six);
    EXPECT_EQ(Turbulence3(2147483647, p, cache), six);
}

// The row form gives the plain form's bits: along rows (the way Turbulence
// walks), across cell edges, at the Jacobians' offset copies, with rows
// interleaved between two heights, and at scattered and far points.
TEST(TurbulenceNoise, RowFormMatchesPlain) {
    std::vector<Vec3> points;
    for (double y : {0.0, -0.3125, 1.7, -2.0000001, 123.456})
        for (double z : {0.0, 1000.0, -7.25})
            for (int i = -300; i <= 300; ++i) {
                const double x = i * 0.013;
                points.push_back({x, y, z});
                points.push_back({x + 0.001, y, z});
            }
    uint64_t state = 99;
    for (int i = 0; i < 20000; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const double a = static_cast<double>(state >> 11) / 9007199254740992.0;
        const double scale = i % 3 == 0 ? 1e12 : (i % 3 == 1 ? 40 : 1.5);
        points.push_back({(a - 0.5) * scale, (0.25 - a) * scale, a * 3});
    }
    points.push_back({1e300, -1e300, 0.5});
    points.push_back({-0.0, 0.0, -0.0});
    points.push_back({NAN, 0, 0});
    for (int32_t octaves : {1, 2, 4, 6}) {
        NoiseCache plainCache = FreshCache(), rowCache = FreshCache();
        NoiseRows low{}, high{};
        size_t k = 0;
        for (const Vec3 &p : points) {
            // Alternate heights as Turbulence does for its two components.
            const Vec3 other{p.x, p.y, p.z + 1000};
            const double plain = Turbulence3(octaves, p, plainCache);
            const double row = Turbulence3Rows(octaves, p, rowCache, low);
            const double plainOther = Turbulence3(octaves, other, plainCache);
            const double rowOther = Turbulence3Rows(octaves, other, rowCache, high);
            if (std::isnan(plain)) {
                EXPECT_TRUE(std::isnan(row));
            } else {
                ASSERT_EQ(plain, row) << octaves << " " << k;
                ASSERT_EQ(plainOther, rowOther) << octaves << " " << k;
            }
            ++k;
        }
    }
}

}  // namespace
}  // namespace kve::test
