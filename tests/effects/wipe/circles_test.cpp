// The circle wipes: worked keys, the ends of every number, where the shapes
// grow and how they are stretched, span lists whose hard runs are really
// hard (so the walk never jumps over a soft pixel), the guards against
// degenerate figures, and golden checksums of whole frames.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "effects/wipe/circles.h"
#include "effects/wipe/wipe.h"
#include "effects/wipe/wipe_commands.h"
#include "engine/scratch.h"
#include "interface/pixel.h"
#include "support/cpu_levels.h"
#include "support/frames.h"

namespace kve {
namespace {

using test::Frame;

using test::WipeCommand;

constexpr auto Args = test::RowArgs;
using RowGenerator = test::RowGenerator<CircleWipe>;

const Pixel kA = PackPixel(200, 200, 100, 40), kB = PackPixel(100, 100, 50, 240);

TEST(CircleShapes, WorkedKeysOfTheCircle) {
    // 200 x 150: V = sqrt((40000 + 22500)/4) = 125; soft band E = 0.1*200 = 20.
    // At progress 0.5: c = 0.5*145/20 = 3.625, k = 0.05: the ring runs from
    // radius 52.5 (key 1) to 72.5 (key 0) about (100, 75).
    WipeCircleState state;
    ASSERT_TRUE(SetUpCircleShape(Args(119, 0.5, 200, 150, 0.1), state));
    EXPECT_EQ(state.circles, 1);
    EXPECT_EQ(state.circle[0].c, 3.625);
    EXPECT_EQ(CircleKeyAt(state, 160, 75), 0.71875);  // o = 3.625 - 3 = 0.625
    EXPECT_EQ(CircleKeyAt(state, 100, 15), 0.71875);
    EXPECT_EQ(CircleKeyAt(state, 100, 75), 1.0);
    EXPECT_EQ(CircleKeyAt(state, 180, 75), 0.0);  // o = -0.375
    EXPECT_EQ(CircleKeyAt(state, 150, 75), 1.0);  // o = 1.125

    // The same pixel through the effect: mixed by that key, alpha the key.
    Frame a = test::FilledFrame(200, 150, kA), b = test::FilledFrame(200, 150, kB);
    const auto run = test::RunEffect(
        WipeCommand(119, 0.5, "0.1 [0 0] 1 1 0 [0 0] 0 [(argb) 255 0 0 0]"), {&a, &b}, 200, 150);
    // 0.71875*200 + 0.28125*100 = 171.875; 71.875 + 14.0625 = 85.9; 28.75 + 67.5 = 96.25;
    // alpha 183.28 + 0.5 -> 183.
    EXPECT_EQ(run.output[75 * 200 + 160], PackPixel(183, 171, 85, 96));
    EXPECT_EQ(run.output[75 * 200 + 100], kA);
    EXPECT_EQ(run.output[75 * 200 + 185], kB);
    EXPECT_EQ(run.output[0], kB);
}

TEST(CircleShapes, UnknownNumbersAreRefused) {
    for (int32_t number : {118, 126, 127, 128, 129, 132, 0}) {
        WipeCircleState state;
        EXPECT_FALSE(SetUpCircleShape(Args(number, 0.5, 50, 40, 0.1), state)) << number;
        RowGenerator gen(Args(number, 0.5, 50, 40, 0.1));
        EXPECT_EQ(gen.Row(0), 1) << number;
    }
}

// Progress 0 shows B and progress 1 shows A, except pixels the walk keeps in
// a span where a ring or an edge meets the row (whole rows where a soft edge
// runs along them): those carry an end key, 0 or 1, so their colour is the
// source's and their alpha the key's. A shape scaled down or moved off the
// centre does not reach every corner at progress 1, so only 0 is checked there.
TEST(CircleShapes, ProgressZeroShowsBAndOneShowsA) {
    const int32_t w = 96, h = 64;
    Frame a = test::PictureFrame(w, h, 1), b = test::PictureFrame(w, h, 2);
    for (int32_t number : CircleWipeNumbers())
        for (const char *rest : {"0.05 [0 0] 1 1 0 [0 0] 0 [(argb) 255 255 0 0]",
                                 "0.1 [0.2 -0.1] 1.3 0.8 25 [0 0] 0.03 [(argb) 255 255 0 0]"})
            for (int end : {0, 1}) {
                if (end == 1 && rest[2] == '1') continue;
                const Frame &source = end ? a : b;
                const auto run = test::RunEffect(WipeCommand(number, end, rest), {&a, &b}, w, h);
                for (size_t i = 0; i < source.size(); ++i) {
                    const Pixel got = run.output[i], want = source[i];
                    if (got == want) continue;
                    ASSERT_EQ(got & ~0xFFu, want & ~0xFFu) << number << " at " << end << " " << i;
                    ASSERT_EQ(AlphaOf(got), end ? 255 : 0) << number << " at " << end;
                }
            }
}

// The extent of A's colour along the centre row and the centre column of the
// frame (pixels the walk keeps in a span take the key as alpha, so alpha is
// left out).
std::pair<int, int> ExtentOfA(const Frame &out, const Frame &a, int32_t w, int32_t h) {
    auto isA = [&](size_t i) { return (out[i] & ~0xFFu) == (a[i] & ~0xFFu); };
    int across = 0, down = 0;
    for (int32_t x = 0; x < w; ++x)
        across += isA(static_cast<size_t>(h / 2) * w + x);
    for (int32_t y = 0; y < h; ++y)
        down += isA(static_cast<size_t>(y) * w + w / 2);
    return {across, down};
}

TEST(CircleShapes, ShapesGrowFromThePatternCentreAndAreStretchedAsNamed) {
    const int32_t w = 240, h = 240;
    Frame a = test::FilledFrame(w, h, kA), b = test::FilledFrame(w, h, kB);
    const std::string rest = "0.02 [0 0] 1 1 0 [0 0] 0 [(argb) 255 0 0 0]";
    auto extent = [&](int32_t number, double p, const std::string &r) {
        return ExtentOfA(test::RunEffect(WipeCommand(number, p, r), {&a, &b}, w, h).output, a, w,
                         h);
    };
    // The circle is round and grows.
    const auto small = extent(119, 0.3, rest), large = extent(119, 0.6, rest);
    EXPECT_NEAR(small.first, small.second, 1);
    EXPECT_GT(large.first, small.first);
    // The ellipses and eyes are wider or taller as named.
    for (auto [wide, tall] : {std::pair{120, 121}, {122, 123}, {124, 125}}) {
        const auto wideShape = extent(wide, 0.4, rest), tallShape = extent(tall, 0.4, rest);
        EXPECT_GT(wideShape.first, wideShape.second) << wide;
        EXPECT_LT(tallShape.first, tallShape.second) << tall;
        EXPECT_NEAR(wideShape.first, tallShape.second, 1) << wide;  // a square frame: transposed
    }
    // 120's horizontal semi-axis is twice its vertical one.
    const auto ellipse = extent(120, 0.4, rest);
    EXPECT_NEAR(ellipse.first, 2 * ellipse.second, 3);

    // The circle follows the centre: [0.5 0] is a quarter of the width to the right.
    const auto moved = test::RunEffect(
        WipeCommand(119, 0.2, "0.02 [0.5 0] 1 1 0 [0 0] 0 [(argb) 255 0 0 0]"), {&a, &b}, w, h);
    EXPECT_EQ(moved.output[120 * w + 180], kA);
    EXPECT_EQ(moved.output[120 * w + 120], kB);
    const auto centred = test::RunEffect(WipeCommand(119, 0.2, rest), {&a, &b}, w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x + 60 < w; ++x)
            ASSERT_EQ(moved.output[static_cast<size_t>(y) * w + x + 60],
                      centred.output[static_cast<size_t>(y) * w + x])
                << x << " " << y;

    // A scale of 0 acts as 1; a scale of 2 across doubles the width.
    EXPECT_EQ(extent(119, 0.3, "0.02 [0 0] 0 -1 0 [0 0] 0 [(argb) 255 0 0 0]"), small);
    const auto stretched = extent(119, 0.3, "0.02 [0 0] 2 1 0 [0 0] 0 [(argb) 255 0 0 0]");
    EXPECT_NEAR(stretched.first, 2 * small.first, 3);
    EXPECT_EQ(stretched.second, small.second);
    // A quarter turn makes the wide eye tall.
    const auto turned = extent(122, 0.4, "0.02 [0 0] 1 1 90 [0 0] 0 [(argb) 255 0 0 0]");
    const auto eye = extent(122, 0.4, rest);
    EXPECT_NEAR(turned.first, eye.second, 1);
    EXPECT_NEAR(turned.second, eye.first, 1);
}

// Every span list is well formed, every key inside a span is the shape's
// key, and every pixel of a hard run has the key 0 or 1 of the source the run
// is copied from: the intervals never let the walk jump over a soft pixel.
TEST(CircleGenerator, HardRunsAreHardAndSpansHoldTheShapesKeys) {
    struct Setting {
        int32_t w, h;
        double progress, edge, rotation, xScale, yScale;
        int32_t dx, dy;
    };
    const Setting settings[] = {
        {160, 100, 0.3, 0.05, 0, 1, 1, 0, 0},
        {160, 100, 0.62, 0.2, 0, 1, 1, 0, 0},
        {131, 77, 0.45, 0.03, 33, 1.4, 0.7, 9, -5},
        {90, 120, 0.8, 0.1, -120, 1, 1, -20, 30},
        {200, 60, 0.15, 0.01, 0, 0.5, 3, 0, 0},
        {64, 64, 0.5, 0.5, 10, 1, 1, 100, 0},
        {7, 3, 0.5, 0.2, 0, 1, 1, 0, 0},
        {1, 5, 0.5, 0.2, 0, 1, 1, 0, 0},
    };
    int softPixels = 0;
    for (const Setting &set : settings) {
        for (int32_t number : CircleWipeNumbers()) {
            WipeRowArgs args = Args(number, set.progress, set.w, set.h, set.edge);
            args.rotation = set.rotation;
            args.xScale = set.xScale;
            args.yScale = set.yScale;
            args.xOffset = set.dx;
            args.yOffset = set.dy;
            RowGenerator gen(args);
            for (int32_t y = 0; y < set.h; ++y) {
                ASSERT_EQ(gen.Row(y), 0);
                const int32_t *spans = gen.scratch.spans;
                const float *keys = gen.scratch.keys;
                const WipeCircleState &state = *gen.scratch.circles;
                auto keyAt = [&](int32_t x) {
                    return static_cast<float>(CircleKeyAt(state, x, y));
                };
                auto expectHard = [&](int32_t from, int32_t to, float decider) {
                    for (int32_t x = from; x < to; ++x) {
                        const float k = keyAt(x);
                        ASSERT_TRUE(k == 0 || k == 1)
                            << number << " y " << y << " x " << x << " key " << k;
                        ASSERT_EQ(k >= 0.5f, decider >= 0.5f) << number << " y " << y << " x " << x;
                    }
                };
                if (spans[0] >= set.w) {
                    expectHard(0, set.w, keys[0]);
                    continue;
                }
                expectHard(0, spans[0], keys[spans[0]]);
                int32_t done = 0;
                for (int k = 0; k < kMaxSoftSpans; ++k) {
                    const int32_t start = spans[2 * k], end = spans[2 * k + 1];
                    if (start >= set.w) {
                        expectHard(done, set.w, keys[std::max(done - 1, 0)]);
                        break;
                    }
                    ASSERT_LE(start, end) << number << " y " << y;
                    ASSERT_LT(end, set.w);
                    ASSERT_GE(start, done);
                    if (k > 0) expectHard(done, start, keys[done - 1]);
                    for (int32_t x = start; x <= end; ++x) {
                        ASSERT_EQ(keys[x], keyAt(x)) << number << " y " << y << " x " << x;
                        softPixels += 0 < keys[x] && keys[x] < 1;
                    }
                    done = end + 1;
                    if (done >= set.w) break;
                    ASSERT_LT(k, 4) << "at most five spans";
                }
            }
        }
    }
    EXPECT_GT(softPixels, 10000);
}

// The key loop the generator runs gives the reference's keys, bit for bit,
// on every width, and writes nothing outside its range.
TEST(CircleGenerator, EveryLevelsKeyLoopMatchesTheReference) {
    const std::vector<CpuLevel> cpus = test::LevelsToTest();
    for (const CpuLevel cpu : cpus) {
        constexpr uint32_t kGuard = 0x7FC01234;  // a NaN no key can be
        constexpr int32_t kBase = 8, kSpan = 255 + 2 * kBase;
        int softKeys = 0;
        for (int32_t number : CircleWipeNumbers()) {
            const CircleKeyLoops loops = CircleKeyLoopsOf(number);
            struct Setting {
                double progress, edge, rotation, xScale;
                int32_t dx, y;
            };
            for (const Setting &set :
                 {Setting{0.5, 0.3, 0, 1, 0, 50}, Setting{0.37, 0.25, 33, 1.3, 7, 71},
                  Setting{0.8, 0.05, 0, 0.6, -20, 3}}) {
                WipeRowArgs args = Args(number, set.progress, 160, 120, set.edge);
                args.rotation = set.rotation;
                args.xScale = set.xScale;
                args.xOffset = set.dx;
                WipeCircleState state;
                ASSERT_TRUE(SetUpCircleShape(args, state));
                SetCircleRow(state, set.y);
                for (int32_t width = 1; width <= 255; ++width) {
                    const int32_t from = 80 - width / 2, to = from + width - 1;
                    std::vector<uint32_t> want(kSpan, kGuard), got(kSpan, kGuard);
                    // The loops index keys by column; columns start at -kBase here.
                    float *wantKeys = reinterpret_cast<float *>(want.data()) + kBase - (80 - 127);
                    float *gotKeys = reinterpret_cast<float *>(got.data()) + kBase - (80 - 127);
                    loops.reference(state, from, to, wantKeys);
                    loops.rows.For(cpu)(state, from, to, gotKeys);
                    ASSERT_EQ(got, want)
                        << CpuLevelName(cpu) << " " << number << " width " << width;
                    for (int32_t i = 0; i < kSpan; ++i) {
                        const int32_t x = i - kBase + (80 - 127);
                        if (x < from || x > to) {
                            ASSERT_EQ(got[i], kGuard) << number << " wrote " << x;
                        }
                    }
                    if (width == 255)
                        for (int32_t x = from; x <= to; ++x)
                            softKeys += 0 < gotKeys[x] && gotKeys[x] < 1;
                }
            }
        }
        EXPECT_GT(softKeys, 1000);  // the ranges cross the shapes' soft rings
    }
}

// Where the loops take a ring's key from its bounds instead of its square
// root: a thin ring crosses every row at a different column, so blocks lie
// wholly outside, wholly inside and across it; every row's keys are the
// reference's at every level, also scaled and turned.
TEST(CircleGenerator, RingBoundsGiveTheKeysOfTheSquareRoot) {
    const std::vector<CpuLevel> cpus = test::LevelsToTest();
    const int32_t w = 161, h = 120;
    for (int32_t number : CircleWipeNumbers())
        for (double rotation : {0.0, 21.0}) {
            WipeRowArgs args = Args(number, 0.45, w, h, 0.01);
            args.rotation = rotation;
            WipeCircleState state;
            ASSERT_TRUE(SetUpCircleShape(args, state));
            const CircleKeyLoops loops = CircleKeyLoopsOf(number);
            for (int32_t y = 0; y < h; ++y) {
                SetCircleRow(state, y);
                std::vector<float> want(w), got(w);
                loops.reference(state, 0, w - 1, want.data());
                for (const CpuLevel cpu : cpus) {
                    loops.rows.For(cpu)(state, 0, w - 1, got.data());
                    ASSERT_EQ(got, want) << CpuLevelName(cpu) << " " << number << " row " << y;
                }
            }
        }
}

TEST(CircleGenerator, FifthSpanRunsToTheEndOfTheRow) {
    // The centre row of the wide rounded rectangle crosses two rings on each
    // side and the two hard cuts: more stretches than five spans hold.
    RowGenerator gen(Args(124, 0.4, 240, 240, 0.02));
    for (int32_t y = 0; y <= 120; ++y)
        ASSERT_EQ(gen.Row(y), 0);
    const int32_t *spans = gen.scratch.spans;
    EXPECT_LT(spans[8], 240);
    EXPECT_EQ(spans[9], 239);
    for (int i = 10; i < kSpanEntries; ++i)
        EXPECT_EQ(spans[i], 240) << i;
}

TEST(CircleWipeEffect, RowsWiderThanTheOldLimitWork) {
    const int32_t w = 20000, h = 4;
    Frame a = test::FilledFrame(w, h, kA), b = test::FilledFrame(w, h, kB);
    const auto run = test::RunEffect(
        WipeCommand(119, 0.02, "0.001 [0 0] 1 1 0 [0 0] 0 [(argb) 255 0 0 0]"), {&a, &b}, w, h);
    // Radius 0.02 * (V + E) = 200.4 about (10000, 2): A in the middle, B far out.
    for (int32_t y = 0; y < h; ++y) {
        const size_t row = static_cast<size_t>(y) * w;
        EXPECT_EQ(run.output[row + 10000], kA);
        EXPECT_EQ(run.output[row + 9825], kA);
        EXPECT_EQ(run.output[row + 9790], kB);
        EXPECT_EQ(run.output[row + w - 1], kB);
        EXPECT_EQ(run.output[row], kB);
    }
}

TEST(CircleGenerator, DegenerateFiguresAreGuarded) {
    // 131 with a soft band of exactly half the half-diagonal: 200 x 150 has
    // V = 125, and E = 62.5 makes the taper's denominator 0. The shape shows
    // B until the end.
    {
        WipeCircleState state;
        ASSERT_TRUE(SetUpCircleShape(Args(131, 0.5, 200, 150, 0.3125), state));
        EXPECT_TRUE(state.uniform);
        EXPECT_EQ(CircleKeyAt(state, 100, 75), 0.0);
        ASSERT_TRUE(SetUpCircleShape(Args(131, 1, 200, 150, 0.3125), state));
        EXPECT_EQ(CircleKeyAt(state, 0, 0), 1.0);
        // Beside it the figure is finite and drawn.
        ASSERT_TRUE(SetUpCircleShape(Args(131, 0.5, 200, 150, 0.3), state));
        EXPECT_FALSE(state.uniform);
    }
    // 130 before its start has no finite figure: all B.
    {
        WipeCircleState state;
        ASSERT_TRUE(SetUpCircleShape(Args(130, -0.5, 200, 150, 0.05), state));
        EXPECT_TRUE(state.uniform);
        EXPECT_EQ(CircleKeyAt(state, 100, 75), 0.0);
    }
    // A scale so large that the circle's quadratic loses its leading
    // coefficient: the distance is the same along each row.
    for (int32_t number : CircleWipeNumbers()) {
        WipeRowArgs args = Args(number, 0.5, 40, 30, 0.1);
        args.xScale = 1e200;
        args.yScale = 1e200;
        RowGenerator gen(args);
        for (int32_t y = 0; y < 30; ++y) {
            ASSERT_EQ(gen.Row(y), 0);
            for (int i = 0; i < kSpanEntries; i += 2)
                ASSERT_LE(gen.scratch.spans[i], 40) << number;
        }
    }
    // Huge and tiny parameters through the effect, on frames of every small size.
    Frame a = test::PictureFrame(9, 7, 1), b = test::PictureFrame(9, 7, 2);
    for (int32_t number : CircleWipeNumbers())
        for (const char *rest :
             {"99999999999999999999 [0 0] 1 1 0 [0 0] 0 [(argb) 1 2 3 4]",
              "0.0000001 [99999999999 0] 0.00000000001 99999999999 1000 [0 0] 0 [(argb) 1 2 3 4]",
              "0.2 [0 0] 1 1 0 [0 0] 99999999999999999999 [(argb) 1 2 3 4]"})
            for (double p : {-3.0, 0.0, 0.5, 1.0, 40.0})
                EXPECT_EQ(test::RunEffect(WipeCommand(number, p, rest), {&a, &b}, 9, 7).result, 0);
}

// ---- golden frames --------------------------------------------------------------

TEST(CircleWipeGolden, EveryNumberAtThreeProgressValuesAndTransformed) {
    test::ExpectWipeGoldens("wipe_circles.txt", CircleWipeNumbers());
}

}  // namespace
}  // namespace kve
