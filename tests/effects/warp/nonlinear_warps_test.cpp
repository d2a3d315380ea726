// The closed-form warps: the places each warp must leave alone, zero strengths as identities at
// every quality, exact moves where the arithmetic is exact, hostile numbers, and golden checksums
// of every row at every quality and tiling mode.
//
// Frames are 64 x 48 where pixels are checked one by one: there 2 / W and
// H / W are exact, so a pixel's unit position and its way back are exact.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "effects/warp/closed_form.h"
#include "support/cpu_levels.h"
#include "support/frames.h"

namespace kve::test {
namespace {

constexpr int32_t kW = 64, kH = 48;

// Pixel (i, j) of a 64 x 48 frame in unit coordinates (y up).
double UnitX(int32_t i) {
    return i / 32.0 - 1;
}
double UnitY(int32_t j) {
    return (kH - 2.0 * j) / kW;
}

const char *const kSamplingQualities[] = {"0", "1", "2"};

// The closed-form maps take points through the pixel/unit frames by their
// scale-and-move form; it must agree with the general matrix mapping.
TEST(NonlinearWarps, UnitFramesScaleAndMoveOnly) {
    for (const auto &[w, h] : {std::pair{352, 240}, {720, 487}, {49, 49}, {1920, 1080}, {1, 3}}) {
        Matrix3 toUnit, toPixel;
        Matrix3_PixelToUnit(toUnit, w, h, 1.0);
        Matrix3_UnitToPixel(toPixel, w, h, 1.0);
        for (const Matrix3 &M : {toUnit, toPixel}) {
            EXPECT_EQ(M.flags, kMatrixScale | kMatrixTranslate);
            for (double x = -3; x < w + 3; x += 0.37) {
                const Vec2 p{x, h - x * 0.61};
                Vec2 general;
                Matrix3_MapPoints(&general, M, &p, 1);
                const Vec2 q = ScaleMove(M, p);
                ASSERT_EQ(q.x, general.x) << w << "x" << h << " " << x;
                ASSERT_EQ(q.y, general.y) << w << "x" << h << " " << x;
            }
        }
    }
}

// ---- zero strength ------------------------------------------------------------

// Parameters of no strength copy the source exactly at every quality that
// samples (the Jacobians are then the identity's, within rounding, so the
// filtered samplers fall back to exact bilinear copies), and blank at -1.
TEST(NonlinearWarps, ZeroStrengthIsIdentity) {
    Frame in = NoiseFrame(kW, kH, 11), luma = PictureFrame(kW, kH, 12);
    const Frame empty(in.size(), 0);
    const std::vector<std::string> identities = {"Bubble 0.2 0.1 0.6 0 1",
                                                 "Bubble 0 0 0 0.5 1",
                                                 "Droplet 0.1 0 0 6 30 0.5 0.4 0.3",
                                                 "Kscope 0.1 0 20 10 0 6 1",
                                                 "Pinch 0.1 0.2 1 30",
                                                 "Pinch 0.1 0.2 0 30",
                                                 "Pinch 0.1 0.2 0.5 0",
                                                 "Ripple 30 0.1 0 0.5 0.5",
                                                 "Turbulence 0 4 3 0.5",
                                                 "Vortex 0.2 0.1 200 0",
                                                 "Vortex 0 0 0 0.8",
                                                 "Waves 0.2 0.1 0 8 45",
                                                 "Mirage 0 4 30",
                                                 "Lumamap 0 0 1 1",
                                                 "Lumamap 0.5 0.25 0 0"};
    for (const std::string &identity : identities)
        for (const char *tiling : {"0", "1", "2"})
            for (const char *quality : {"-1", "0", "1", "2", "3"}) {
                const std::string command = identity + " 0 " + tiling + " " + quality;
                const bool blank = std::string(quality) == "-1";
                EXPECT_EQ(RunEffect(command, {&in, &luma}, kW, kH).output, blank ? empty : in)
                    << command;
            }
}

// ---- what each warp leaves alone ----------------------------------------------

// Every pixel for which `keep(x, y)` holds (unit coordinates of its corner)
// is the source pixel, at nearest sampling; some other pixel is not.
template <class Keep>
void ExpectKept(const std::string &command, Keep keep) {
    Frame in = NoiseFrame(kW, kH, 21);
    const Frame out = RunEffect(command, {&in}, kW, kH).output;
    int kept = 0, moved = 0;
    for (int32_t j = 0; j < kH; ++j)
        for (int32_t i = 0; i < kW; ++i) {
            if (keep(UnitX(i), UnitY(j))) {
                ++kept;
                EXPECT_EQ(Px(out, kW, i, j), Px(in, kW, i, j))
                    << command << " at " << i << "," << j;
            } else if (Px(out, kW, i, j) != Px(in, kW, i, j)) {
                ++moved;
            }
        }
    EXPECT_GT(kept, 0) << command;
    EXPECT_GT(moved, 0) << command;
}

TEST(NonlinearWarps, BubbleKeepsCentreAndOutside) {
    for (const char *tiling : {"0", "1"}) {
        const std::string tail = std::string(" 0 ") + tiling + " 0";
        // Centre (0, 0) is pixel (32, 24); radius 0.5 = 16 pixels.
        ExpectKept("Bubble 0 0 0.5 0.3 1" + tail, [](double x, double y) {
            const double d2 = x * x + y * y;
            return d2 == 0 || d2 >= 0.25;
        });
        ExpectKept("Bubble 0.25 0.125 0.5 -0.2 2.5" + tail, [](double x, double y) {
            const double d2 = (x - 0.25) * (x - 0.25) + (y - 0.125) * (y - 0.125);
            return d2 == 0 || d2 >= 0.25;
        });
    }
}

TEST(NonlinearWarps, VortexKeepsOutsideItsRadius) {
    ExpectKept("Vortex 0 0 120 0.5 0 0 0",
               [](double x, double y) { return x * x + y * y >= 0.25; });
    ExpectKept("Vortex -0.25 0.25 -300 0.625 0 1 0", [](double x, double y) {
        return std::sqrt((x + 0.25) * (x + 0.25) + (y - 0.25) * (y - 0.25)) >= 0.625;
    });
}

// With angle 0 the line is y + offset = 0; points at or beyond the reach
// stay on both sides of it, whatever the far reach.
TEST(NonlinearWarps, RippleKeepsBeyondItsReach) {
    ExpectKept("Ripple 0 0 0.1 0.25 0.5 0 0 0",
               [](double, double y) { return std::fabs(y) >= 0.25; });
    ExpectKept("Ripple 0 -0.125 0.2 0.25 2 0 1 0",
               [](double, double y) { return std::fabs(y - 0.125) >= 0.25; });
    // Angle 90: the vertical line x = 0.25 (cos 90 is not quite 0, so only
    // points strictly beyond the reach are checked).
    ExpectKept("Ripple 90 -0.25 -0.1 0.25 0 0 1 0",
               [](double x, double) { return std::fabs(x - 0.25) > 0.25; });
}

// Points on the line move by the amplitude when the far reach is positive,
// and stay when it is not.
TEST(NonlinearWarps, RippleFarReachOnTheLine) {
    Frame in = NoiseFrame(kW, kH, 22);
    // Line y = 0 (row 24); the amplitude 0.125 moves sources up by 4 rows.
    const Frame far = RunEffect("Ripple 0 0 0.125 0.5 1 0 0 0", {&in}, kW, kH).output;
    const Frame none = RunEffect("Ripple 0 0 0.125 0.5 0 0 0 0", {&in}, kW, kH).output;
    for (int32_t i = 0; i < kW; ++i) {
        EXPECT_EQ(Px(far, kW, i, 24), Px(in, kW, i, 20)) << i;
        EXPECT_EQ(Px(none, kW, i, 24), Px(in, kW, i, 24)) << i;
    }
}

// ---- exact moves ---------------------------------------------------------------

// A black map moves every point by low along the direction, a white one by
// high; a map half black, half white moves each half by its own amount. The
// direction is normalised (0 -2 is one unit down, y being up) and the moves
// are whole pixels, so every quality gives the moved source exactly.
TEST(NonlinearWarps, LumamapMovesByLowAndHigh) {
    Frame in = NoiseFrame(kW, kH, 31);
    Frame black = FilledFrame(kW, kH, 0x000000FFu), white = FilledFrame(kW, kH, 0xFFFFFF00u);
    Frame halves = black;
    for (int32_t j = 0; j < kH; ++j)
        for (int32_t i = kW / 2; i < kW; ++i)
            halves[static_cast<size_t>(j * kW + i)] = 0xFFFFFFFFu;
    // The source moved by (dx, dy) pixels (mirrored at the edges), or only
    // its right half.
    auto moved = [&](int32_t dx, int32_t dy, bool onlyRight) {
        Frame f(in.size());
        for (int32_t j = 0; j < kH; ++j)
            for (int32_t i = 0; i < kW; ++i) {
                const bool moves = !onlyRight || i >= kW / 2;
                const int32_t x = moves ? Mirror(i + dx, kW) : i,
                              y = moves ? Mirror(j + dy, kH) : j;
                f[static_cast<size_t>(j * kW + i)] = Px(in, kW, x, y);
            }
        return f;
    };
    for (const char *quality : kSamplingQualities) {
        const std::string q = quality;
        // low 0.25 = 8 pixels, high 0.5 = 16 pixels, along +x.
        EXPECT_EQ(RunEffect("Lumamap 0.5 0.25 1 0 0 1 " + q, {&in, &black}, kW, kH).output,
                  moved(8, 0, false))
            << q;
        EXPECT_EQ(RunEffect("Lumamap 0.5 0.25 1 0 0 1 " + q, {&in, &white}, kW, kH).output,
                  moved(16, 0, false))
            << q;
        // Along (0, -1): low 0.125 takes sources 4 rows down, high -0.25 8 rows up.
        EXPECT_EQ(RunEffect("Lumamap -0.25 0.125 0 -2 0 1 " + q, {&in, &black}, kW, kH).output,
                  moved(0, 4, false))
            << q;
        EXPECT_EQ(RunEffect("Lumamap -0.25 0.125 0 -2 0 1 " + q, {&in, &white}, kW, kH).output,
                  moved(0, -8, false))
            << q;
        // Black left half still, white right half moved 8 pixels.
        EXPECT_EQ(RunEffect("Lumamap 0.25 0 1 0 0 1 " + q, {&in, &halves}, kW, kH).output,
                  moved(8, 0, true))
            << q;
    }
}

// Phase in degrees, displacement along x only: a quarter turn of phase at
// frequency 0 moves every row by the whole amplitude.
TEST(NonlinearWarps, MirageMovesSideways) {
    Frame in = NoiseFrame(kW, kH, 32);
    Frame expected(in.size());
    for (int32_t j = 0; j < kH; ++j)
        for (int32_t i = 0; i < kW; ++i)
            expected[static_cast<size_t>(j * kW + i)] = Px(in, kW, Mirror(i + 8, kW), j);
    for (const char *quality : kSamplingQualities)
        EXPECT_EQ(RunEffect(std::string("Mirage 0.25 0 90 0 1 ") + quality, {&in}, kW, kH).output,
                  expected)
            << quality;
}

// On the horizontal through c the angle is 0, so with limit 90 the scale is
// 1 / factor, about the frame centre rather than c.
TEST(NonlinearWarps, PinchScalesAboutTheFrameCentre) {
    Frame in = NoiseFrame(kW, kH, 33);
    // c = (0, 0.25): row 16. The source of (x, 0.25) is (2x, 0.5): row 8.
    const Frame out = RunEffect("Pinch 0 0.25 0.5 90 0 0 0", {&in}, kW, kH).output;
    for (int32_t i = 0; i < kW; ++i) {
        const int32_t source = 2 * i - 32;
        const uint32_t expected = source >= 0 && source < kW ? Px(in, kW, source, 8) : 0;
        EXPECT_EQ(Px(out, kW, i, 16), expected) << i;
    }
}

// Exactly on the ring with an outer width of 0 the fade is 0 (not 0 / 0):
// the full wave applies. Ring 0.5 around (0, 0) passes pixel (48, 24);
// frequency 0 and phase 90 make the wave the amplitude, 0.25 = 8 pixels out.
TEST(NonlinearWarps, DropletOnTheRingWithNoOuterWidth) {
    Frame in = NoiseFrame(kW, kH, 34);
    for (const char *tiling : {"0", "1"}) {
        const std::string command =
            std::string("Droplet 0 0 0.25 0 90 0.5 0 0.25 0 ") + tiling + " 0";
        const Frame out = RunEffect(command, {&in}, kW, kH).output;
        EXPECT_EQ(Px(out, kW, 48, 24), Px(in, kW, 56, 24)) << command;
        EXPECT_EQ(Px(out, kW, 16, 24), Px(in, kW, 8, 24)) << command;
    }
}

// ---- Kscope sectors ------------------------------------------------------------

// Fewer than one segment is one sector of the whole turn, as is one segment.
// Infinitely many make every angle undefined inside the radius: those pixels
// are transparent black, the rest untouched.
TEST(NonlinearWarps, KscopeSectors) {
    Frame in = NoiseFrame(kW, kH, 41);
    for (const char *quality : kSamplingQualities) {
        const std::string q = quality;
        const Frame one = RunEffect("Kscope 0.1 0 15 20 0.7 1 1 0 1 " + q, {&in}, kW, kH).output;
        for (const char *segments : {"0.5", "0", "-3", "0.999"})
            EXPECT_EQ(RunEffect(std::string("Kscope 0.1 0 15 20 0.7 ") + segments + " 1 0 1 " + q,
                                {&in}, kW, kH)
                          .output,
                      one)
                << segments << " " << q;
    }
    // The integer before the softness mirrors alternate sectors when it is not 0.
    const Frame plain = RunEffect("Kscope 0 0 0 0 0.6 5 0 0 1 0", {&in}, kW, kH).output;
    const Frame mirrored = RunEffect("Kscope 0 0 0 0 0.6 5 1 0 1 0", {&in}, kW, kH).output;
    EXPECT_NE(plain, mirrored);
    EXPECT_EQ(RunEffect("Kscope 0 0 0 0 0.6 5 -2 0 1 0", {&in}, kW, kH).output, mirrored);
    std::string inf(401, '0');  // 1e400, built in place: GCC 12 misreads "1" + string
    inf[0] = '1';
    const Frame out = RunEffect("Kscope 0 0 0 0 0.5 " + inf + " 1 0 0 0", {&in}, kW, kH).output;
    for (int32_t j = 0; j < kH; ++j)
        for (int32_t i = 0; i < kW; ++i) {
            const double x = UnitX(i), y = UnitY(j);
            const bool inside = std::sqrt(x * x + y * y) < 0.5;
            EXPECT_EQ(Px(out, kW, i, j), inside ? 0u : Px(in, kW, i, j)) << i << "," << j;
        }
}

// A negative radius with a fractional exponent has no real power inside
// |radius|: those pixels are transparent black; the centre and the outside stay.
TEST(NonlinearWarps, BubbleWithoutARealPowerBlanksInside) {
    Frame in = NoiseFrame(kW, kH, 42);
    const Frame out = RunEffect("Bubble 0 0 -0.5 0.3 0.5 0 1 0", {&in}, kW, kH).output;
    for (int32_t j = 0; j < kH; ++j)
        for (int32_t i = 0; i < kW; ++i) {
            const double x = UnitX(i), y = UnitY(j), d2 = x * x + y * y;
            const bool kept = d2 == 0 || d2 >= 0.25;
            EXPECT_EQ(Px(out, kW, i, j), kept ? Px(in, kW, i, j) : 0u) << i << "," << j;
        }
}

// Octave counts: not a number or infinite acts as 0, beyond 6 as 6.
TEST(NonlinearWarps, TurbulenceOctaveCounts) {
    Frame in = PictureFrame(kW, kH, 43);
    auto run = [&](const std::string &octaves) {
        return RunEffect("Turbulence 0.1 " + octaves + " 3 0.5 0 1 1", {&in}, kW, kH).output;
    };
    std::string inf(401, '0');  // 1e400, built in place: GCC 12 misreads "1" + string
    inf[0] = '1';
    EXPECT_EQ(run(inf), run("0"));
    EXPECT_EQ(run("0"), run("1.9"));
    EXPECT_EQ(run("7"), run("6"));
    EXPECT_EQ(run("100000000000000000000"), run("6.5"));
    EXPECT_NE(run("6"), run("5"));
}

// ---- hostile numbers ------------------------------------------------------------

// Numbers that break naive arithmetic, on frames from 1 pixel up: each call
// must finish without fault (the sanitizer build checks the rest).
TEST(NonlinearWarps, HostileParametersFinish) {
    std::string inf(401, '0');  // beyond the largest double
    inf[0] = '1';
    std::string tiny(333, '0');  // 0.000...01, below the smallest double
    tiny[1] = '.';
    tiny.back() = '1';
    const std::vector<std::string> commands = {"Bubble 0 0 " + inf + " 1 0.5",
                                               "Bubble 0 0 -1 " + inf + " -2.5",
                                               "Bubble " + inf + " 0 1 1 1",
                                               "Bubble 0 0 " + tiny + " 1 " + inf,
                                               "Droplet 0 0 1 " + inf + " 0 0.5 0 0",
                                               "Droplet 0 0 " + inf + " 1 0 0.5 " + inf + " " + inf,
                                               "Droplet 0 0 1 1 " + inf + " 0 0 0",
                                               "Kscope 0 0 " + inf + " 0 2 6 1",
                                               "Kscope 0 0 0 -" + inf + " 2 6 1",
                                               "Kscope 0 0 0 0 2 100000000000000000000000000000 1",
                                               "Kscope 0 0 0 0 2 1.0000001 -1",
                                               "Kscope 0 0 0 " + tiny + " " + inf + " 3 2",
                                               "Lumamap " + inf + " -" + inf + " 1 1",
                                               "Lumamap 1 0 " + inf + " 0",
                                               "Lumamap 1 0 " + tiny + " " + tiny,
                                               "Mirage " + inf + " 1 0",
                                               "Mirage 1 " + inf + " 0",
                                               "Mirage 0.1 1 " + inf,
                                               "Pinch 0 0 " + tiny + " 45",
                                               "Pinch 0 0 -" + tiny + " 90",
                                               "Pinch " + inf + " 0 2 45",
                                               "Pinch 0 0 2 -" + inf,
                                               "Ripple " + inf + " 0 1 1 1",
                                               "Ripple 0 0 1 " + tiny + " " + tiny,
                                               "Ripple 45 " + inf + " 1 " + inf + " 0",
                                               "Turbulence 1 6 " + inf + " 0",
                                               "Turbulence 1 6 1" + std::string(300, '0') + " 0",
                                               "Turbulence 1 -" + inf + " 1 -" + inf,
                                               "Turbulence " + inf + " 3 1 0",
                                               "Vortex 0 0 " + inf + " 1",
                                               "Vortex 0 0 90 " + inf,
                                               "Vortex 0 0 90 -1",
                                               "Waves 0 0 1 " + inf + " 0",
                                               "Waves 0 0 " + inf + " 1 0",
                                               "Waves 0 0 0.1 1 -" + inf};
    for (int32_t size : {1, 2, 7, 24})
        for (const std::string &command : commands)
            for (const char *tail : {" 0 0 1", " 0 1 2", " 0 2 0", " 1.999 1 1", " 2 0 1"}) {
                Frame in = PictureFrame(size, size, 9), luma = NoiseFrame(size, size, 10);
                const std::string text = command + tail;
                EXPECT_EQ(RunEffect(text, {&in, &luma}, size, size).result, 0) << text;
            }
}

// ---- golden frames ---------------------------------------------------------------

const std::vector<std::string> &GoldenCommands() {
    static const std::vector<std::string> commands = {"Bubble 0 0 0.6 0.4 1 0",
                                                      "Bubble -0.3 0.1 0.5 -0.3 2 0.5",
                                                      "Droplet 0 0 0.025 5 0 0.45 0.35 0.3 0",
                                                      "Droplet 0.2 -0.1 0.08 3 45 0.3 0 0.3 0.5",
                                                      "Kscope 0 0 0 30 0.65 8 1 0",
                                                      "Kscope 0.2 0.1 30 15 0.6 3 0 0.5",
                                                      "Lumamap 0.06 -0.06 1 1 0",
                                                      "Lumamap 0.3 0 0 1 1",
                                                      "Mirage 0.03 4 0 0",
                                                      "Mirage 0.1 1.5 60 0.5",
                                                      "Pinch 0 0 1.3 45 0",
                                                      "Pinch 0.2 -0.1 0.6 60 0.5",
                                                      "Ripple 30 0 0.08 0.3 0.3 0",
                                                      "Ripple -45 0.2 -0.15 0.5 1 0.5",
                                                      "Turbulence 0.04 4 4 0 0",
                                                      "Turbulence 0.2 1 1.5 7 0.5",
                                                      "Vortex 0 0 180 0.6 0",
                                                      "Vortex 0.3 -0.2 -400 0.8 0.5",
                                                      "Waves 0 0 0.012 6 0 0",
                                                      "Waves 0.4 0.2 0.05 2.5 90 0.5"};
    return commands;
}

// The gallery-sized frame at each sampling quality.
TEST(NonlinearWarpsGolden, EveryRowAtEveryQuality) {
    constexpr int32_t w = 128, h = 96;
    Frame in = PictureFrame(w, h, 1), luma = PictureFrame(w, h, 2);
    GoldenFile golden("nonlinear_warps.txt");
    for (const CpuLevel level : LevelsToTest()) {
        const CpuLevelCap cap(level);
        const std::string at = std::string(" at ") + std::string(CpuLevelName(level));
        for (const std::string &command : GoldenCommands())
            for (const char *tiling : {"0", "1"})
                for (const char *quality : kSamplingQualities) {
                    const std::string text = command + " " + tiling + " " + quality;
                    const std::string sum = Checksum(RunEffect(text, {&in, &luma}, w, h).output);
                    EXPECT_EQ(golden.Expect(GoldenKey(text), sum), sum) << text << at;
                }
    }
}

// A small odd-sized frame at every quality and tiling mode (tiling 2 repeats).
TEST(NonlinearWarpsGolden, SmallFrameEveryTiling) {
    constexpr int32_t w = 37, h = 23;
    Frame in = PictureFrame(w, h, 3), luma = NoiseFrame(w, h, 4);
    const Frame empty(in.size(), 0);
    GoldenFile golden("nonlinear_warps.txt");
    for (const CpuLevel level : LevelsToTest()) {
        const CpuLevelCap cap(level);
        const std::string at = std::string(" at ") + std::string(CpuLevelName(level));
        for (const std::string &command : GoldenCommands())
            for (const char *tiling : {"0", "1", "2"}) {
                const std::string base = command + " " + tiling + " ";
                EXPECT_EQ(RunEffect(base + "-1", {&in, &luma}, w, h).output, empty) << base;
                for (const char *quality : kSamplingQualities) {
                    const std::string text = base + quality;
                    const std::string sum = Checksum(RunEffect(text, {&in, &luma}, w, h).output);
                    EXPECT_EQ(golden.Expect("small_" + GoldenKey(text), sum), sum) << text << at;
                }
            }
    }
}

}  // namespace
}  // namespace kve::test
