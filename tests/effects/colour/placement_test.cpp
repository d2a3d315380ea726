// Translate and Paste on whole frames; monitor stops in the three placement drivers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "interface/pixel.h"
#include "support/frames.h"

namespace kve::test {
namespace {

// ---- Translate ---------------------------------------------------------------

TEST(Translate, CentreOnAnEvenFrameIsACopy) {
    Frame in = NoiseFrame(352, 240, 1);
    EXPECT_EQ(RunEffect("Translate [0 0]", {&in}, 352, 240).output, in);
    Frame odd = NoiseFrame(7, 5, 2);
    EXPECT_EQ(RunEffect("Translate [0 0]", {&odd}, 7, 5).output, odd);
}

TEST(Translate, RightByHalfTheWidth) {
    Frame in = NoiseFrame(352, 240, 3);
    Frame expected(in.size(), 0);
    for (int32_t y = 0; y < 240; ++y)
        for (int32_t x = 176; x < 352; ++x)
            Px(expected, 352, x, y) = Px(in, 352, x - 176, y);
    EXPECT_EQ(RunEffect("Translate [1 0]", {&in}, 352, 240).output, expected);
}

TEST(Translate, UpAndLeftClearTheUncoveredEdges) {
    Frame in = NoiseFrame(40, 30, 4);
    // [-0.25 -0.1]: PX = 15, PY = 13: dx = -5, dy = -2.
    Frame expected(in.size(), 0);
    for (int32_t y = 0; y < 28; ++y)
        for (int32_t x = 0; x < 35; ++x)
            Px(expected, 40, x, y) = Px(in, 40, x + 5, y + 2);
    EXPECT_EQ(RunEffect("Translate [-0.25 -0.1]", {&in}, 40, 30).output, expected);
}

// Half a pixel before the centre: the column shift truncates after taking half
// the width off (dx = 0), the row shift before (dy = -1).
TEST(Translate, HalfPixelShiftsTruncateDifferentlyOnTheTwoAxes) {
    Frame in = NoiseFrame(352, 240, 5);
    const std::string half = "0.00284090909090909";  // 0.5 / 176
    EXPECT_EQ(RunEffect("Translate [-" + half + " 0]", {&in}, 352, 240).output, in);
    Frame up(in.size(), 0);
    for (int32_t y = 0; y < 239; ++y)
        for (int32_t x = 0; x < 352; ++x)
            Px(up, 352, x, y) = Px(in, 352, x, y + 1);
    EXPECT_EQ(RunEffect("Translate [0 -" + half + "]", {&in}, 352, 240).output, up);
}

TEST(Translate, FarAwayLeavesAnEmptyFrame) {
    Frame in = NoiseFrame(30, 20, 6);
    const Frame empty(in.size(), 0);
    for (const char *position : {"[2 0]", "[-2 0]", "[0 1.5]", "[0 -1.5]", "[99999999999 0]",
                                 "[0 -99999999999999999999999]"})
        EXPECT_EQ(RunEffect(std::string("Translate ") + position, {&in}, 30, 20).output, empty)
            << position;
}

// ---- Paste -------------------------------------------------------------------
// On 64 x 48 frames a pixel position (px, py) is written [(px - 32) / 32 (py - 24) / 32].

constexpr int32_t kW = 64, kH = 48;

std::string PasteAt(double px, double py) {
    char text[96];
    std::snprintf(text, sizeof text, "Paste [%.10g %.10g]", (px - 32) / 32, (py - 24) / 32);
    return text;
}

// Per channel, the mean of two pixels rounded down.
uint32_t Mean(uint32_t a, uint32_t b) {
    return PackPixel((AlphaOf(a) + AlphaOf(b)) / 2, (RedOf(a) + RedOf(b)) / 2,
                     (GreenOf(a) + GreenOf(b)) / 2, (BlueOf(a) + BlueOf(b)) / 2);
}

TEST(Paste, WholePositionCopiesPOverG) {
    Frame p = NoiseFrame(kW, kH, 7), g = NoiseFrame(kW, kH, 8);
    Frame expected = g;
    for (int32_t y = 7; y < kH; ++y)
        for (int32_t x = 10; x < kW; ++x)
            Px(expected, kW, x, y) = Px(p, kW, x - 10, y - 7);
    EXPECT_EQ(RunEffect(PasteAt(10, 7), {&p, &g}, kW, kH).output, expected);
    // Within 0.01 of a pixel counts as whole.
    EXPECT_EQ(RunEffect(PasteAt(10.004, 7), {&p, &g}, kW, kH).output, expected);
    EXPECT_EQ(RunEffect(PasteAt(9.995, 6.992), {&p, &g}, kW, kH).output, expected);
    // Up and to the left: P's bottom-right part shows at the top-left.
    expected = g;
    for (int32_t y = 0; y < kH - 5; ++y)
        for (int32_t x = 0; x < kW - 20; ++x)
            Px(expected, kW, x, y) = Px(p, kW, x + 20, y + 5);
    EXPECT_EQ(RunEffect(PasteAt(-20, -5), {&p, &g}, kW, kH).output, expected);
}

TEST(Paste, HalfPixelAcrossMeansNeighboursAndBlendsTheLeftEdge) {
    Frame p = NoiseFrame(kW, kH, 9), g = NoiseFrame(kW, kH, 10);
    Frame expected = g;
    for (int32_t y = 7; y < kH; ++y) {
        Px(expected, kW, 10, y) = Mean(Px(p, kW, 0, y - 7), Px(g, kW, 10, y));
        for (int32_t x = 11; x < kW; ++x)
            Px(expected, kW, x, y) = Mean(Px(p, kW, x - 10, y - 7), Px(p, kW, x - 11, y - 7));
    }
    EXPECT_EQ(RunEffect(PasteAt(10.5, 7), {&p, &g}, kW, kH).output, expected);
}

TEST(Paste, HalfPixelAcrossBlendsTheRightEdgeIntoG) {
    Frame p = NoiseFrame(kW, kH, 11), g = NoiseFrame(kW, kH, 12);
    // x = -20.5: x0 = -21, P's last column ends at 42, which blends with G.
    Frame expected = g;
    for (int32_t y = 0; y < kH; ++y) {
        for (int32_t x = 0; x < 43; ++x)
            Px(expected, kW, x, y) = Mean(Px(p, kW, x + 21, y), Px(p, kW, x + 20, y));
        Px(expected, kW, 43, y) = Mean(Px(g, kW, 43, y), Px(p, kW, kW - 1, y));
    }
    EXPECT_EQ(RunEffect(PasteAt(-20.5, 0), {&p, &g}, kW, kH).output, expected);
}

TEST(Paste, HalfPixelDownMeansRowsAndBlendsTheTopEdge) {
    Frame p = NoiseFrame(kW, kH, 13), g = NoiseFrame(kW, kH, 14);
    Frame expected = g;
    for (int32_t x = 0; x < kW; ++x) {
        Px(expected, kW, x, 10) = Mean(Px(p, kW, x, 0), Px(g, kW, x, 10));
        for (int32_t y = 11; y < kH; ++y)
            Px(expected, kW, x, y) = Mean(Px(p, kW, x, y - 10), Px(p, kW, x, y - 11));
    }
    EXPECT_EQ(RunEffect(PasteAt(0, 10.5), {&p, &g}, kW, kH).output, expected);
}

// Both coordinates fractional is a bilinear sample of P: on a P whose red is
// linear in x and y, and with weights that are sixteenths (exact in 10 bits),
// every pixel P covers on both rows is the exact linear value. P starts left
// of the frame here, so this also pins output column 0 to the same rule.
TEST(Paste, BothFractionalSamplesPBilinearlyIncludingColumnZero) {
    constexpr int32_t w = 24, h = 12;
    Frame p(w * h), g = FilledFrame(w, h, PackPixel(255, 0, 0, 0));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            Px(p, w, x, y) = PackPixel(255, 8 * x + 2 * y + 20, 100, 50);
    // PX = -3.25, PY = 2.5: x0 = -4, fx = 0.75, fy = 0.5.
    const auto run = RunEffect("Paste [-1.2708333333333 -0.2916666666667]", {&p, &g}, w, h);
    for (int32_t y = 3; y < h; ++y) {
        for (int32_t x = 0; x < 20; ++x) {
            // P sampled at (x + 3.25, y - 2.5).
            const uint32_t want = PackPixel(255, 8 * x + 2 * y + 41, 100, 50);
            EXPECT_EQ(run.output[y * w + x], want) << "at " << x << "," << y;
        }
    }
    // Rows P reaches with neither of its rows are G.
    for (int32_t x = 0; x < w; ++x)
        EXPECT_EQ(run.output[x], g[0]);
}

TEST(Paste, OutsideTheFrameLeavesG) {
    Frame p = NoiseFrame(kW, kH, 15), g = NoiseFrame(kW, kH, 16);
    for (auto [px, py] : {std::pair{64.0, 0.0},
                          {-64.0, 0.0},
                          {0.0, 48.0},
                          {0.0, -48.0},
                          {-64.5, 3.5},
                          {70.25, 1e9}})
        EXPECT_EQ(RunEffect(PasteAt(px, py), {&p, &g}, kW, kH).output, g) << px << "," << py;
    const std::string huge(40, '9');
    EXPECT_EQ(RunEffect("Paste [-" + huge + " " + huge + "]", {&p, &g}, kW, kH).output, g);
}

// Positions covering every case and edge: pasting with the output as the
// background (as Push does) gives the frame a separate output gets.
const double kPositions[][2] = {{10, 7},           {10.5, 7},          {0, 10.5},
                                {10.25, 7.75},     {-3.25, 2.5},       {-20.5, -5.75},
                                {40.7, 30.3},      {-0.3, -0.6},       {0.4, 0},
                                {-63.5, -47.5},    {63.5, 47.5},       {10.0100001, 3.5},
                                {5.5, 10.0100001}, {-1.0100001, 2.25}, {-0.0100001, -0.0100001},
                                {17.99, 0.5}};

TEST(Paste, ThePOutputAsBackgroundGivesTheSameFrame) {
    Frame p = PictureFrame(kW, kH, 17), g = PictureFrame(kW, kH, 18);
    for (const auto &pos : kPositions) {
        const std::string command = PasteAt(pos[0], pos[1]);
        const Frame separate = RunEffect(command, {&p, &g}, kW, kH).output;
        Frame inPlace = g;
        uint32_t *inputs[] = {p.data(), inPlace.data(), nullptr};
        ASSERT_EQ(KVE_EffectBySize(command.c_str(), inputs, kW, kH, inPlace.data(), 0, 0, nullptr),
                  0);
        EXPECT_EQ(inPlace, separate) << command;
    }
}

TEST(Paste, RowsWiderThanTheOldRowBuffer) {
    constexpr int32_t w = 20000, h = 3;
    Frame p = NoiseFrame(w, h, 19), g = NoiseFrame(w, h, 20);
    // PX = 2.5 with PY = 0.5 and with PY = 0, on a 20000-wide frame.
    const auto both = RunEffect("Paste [-0.99975 -0.0001]", {&p, &g}, w, h);
    EXPECT_EQ(both.result, 0);
    EXPECT_NE(both.output, g);
    const auto across = RunEffect("Paste [-0.99975 -0.00015]", {&p, &g}, w, h);
    Frame expected = g;
    for (int32_t y = 0; y < h; ++y) {
        Px(expected, w, 2, y) = Mean(Px(p, w, 0, y), Px(g, w, 2, y));
        for (int32_t x = 3; x < w; ++x)
            Px(expected, w, x, y) = Mean(Px(p, w, x - 2, y), Px(p, w, x - 3, y));
    }
    EXPECT_TRUE(across.output == expected);
}

TEST(PlacementGolden, WholeFrames) {
    GoldenFile golden("placement.txt");
    constexpr int32_t w = 352, h = 240;
    Frame p = PictureFrame(w, h, 1), g = PictureFrame(w, h, 2);
    for (const auto &pos : kPositions) {
        char command[96];
        std::snprintf(command, sizeof command, "Paste [%.10g %.10g]", (pos[0] * 5.5 - 176) / 176,
                      (pos[1] * 5 - 120) / 176);
        const std::string sum = Checksum(RunEffect(command, {&p, &g}, w, h).output);
        std::string key = command;
        for (char &c : key)
            if (c == ' ') c = '_';
        EXPECT_EQ(golden.Expect(key, sum), sum) << command;
    }
    for (const char *command : {"Translate [0.3 -0.2]", "Translate [-0.7031 0.41]"}) {
        const std::string sum = Checksum(RunEffect(command, {&p}, w, h).output);
        std::string key = command;
        for (char &c : key)
            if (c == ' ') c = '_';
        EXPECT_EQ(golden.Expect(key, sum), sum) << command;
    }
}

// Positions anywhere, on frames of awkward sizes: every output pixel is
// written, and a paste onto its own background matches a separate output.
TEST(PlacementSweep, AnyPositionOnAnySize) {
    const int32_t sizes[][2] = {{1, 1}, {2, 3}, {3, 2}, {17, 5}, {5, 17}, {64, 48}};
    uint32_t state = 99;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    for (const auto &size : sizes) {
        const int32_t w = size[0], h = size[1];
        Frame p = NoiseFrame(w, h, 23), g = NoiseFrame(w, h, 24);
        for (int n = 0; n < 300; ++n) {
            // Up to three frames away, in steps of 1/64 pixel or arbitrary.
            char x[32], y[32];
            auto coordinate = [&](char *text, int32_t extent) {
                const double pixels =
                    n % 2
                        ? (static_cast<int32_t>(next() % (6 * 64 * extent + 1)) - 3 * 64 * extent) /
                              64.0
                        : (next() % 600001) / 100000.0 * extent - 3.0 * extent;
                std::snprintf(text, 32, "%.9f", pixels / (w * 0.5));
            };
            coordinate(x, w);
            coordinate(y, h);
            const std::string position = std::string("[") + x + " " + y + "]";
            SCOPED_TRACE(testing::Message() << w << "x" << h << " " << position);
            const auto moved = RunEffect("Translate " + position, {&p}, w, h);
            ASSERT_EQ(moved.result, 0);
            ASSERT_EQ(std::count(moved.output.begin(), moved.output.end(), 0xDEADBEEFu), 0);
            const std::string paste = "Paste " + position;
            const auto pasted = RunEffect(paste, {&p, &g}, w, h);
            ASSERT_EQ(std::count(pasted.output.begin(), pasted.output.end(), 0xDEADBEEFu), 0);
            Frame inPlace = g;
            uint32_t *inputs[] = {p.data(), inPlace.data(), nullptr};
            ASSERT_EQ(KVE_EffectBySize(paste.c_str(), inputs, w, h, inPlace.data(), 0, 0, nullptr),
                      0);
            ASSERT_TRUE(inPlace == pasted.output);
        }
    }
}

// ---- monitor stops -------------------------------------------------------------

int StopAtFirstRow(MonitorInfo *, void *calls) {
    ++*static_cast<int *>(calls);
    return 0;
}

TEST(PlacementMonitor, AStopEndsTheEffectAfterOneRow) {
    constexpr int32_t w = 16, h = 8;
    Frame a = NoiseFrame(w, h, 21), b = NoiseFrame(w, h, 22);
    const char *const commands[] = {"Crop [-1 -1 1 1] 0 0", "Crop [-0.5 -0.5 0.5 0.5] 1 0",
                                    "Translate [0.25 0.25]", "Paste [-0.7 -0.2]",
                                    "Paste [-0.73 -0.21]"};
    for (const char *command : commands) {
        int calls = 0;
        MonitorHook hook{StopAtFirstRow, &calls};
        const int32_t outW = 17, outH = 17;  // the cut's size; the others use 16 x 8 of it
        const auto run = RunEffect(command, {&a, &b}, w, h, outW, outH, 0xDEADBEEF, &hook);
        EXPECT_EQ(run.result, -3) << command;
        EXPECT_EQ(calls, 1) << command;
        // Only the first row was written.
        const int32_t rowWidth = std::string(command).find("] 0 0") != std::string::npos ? 17 : 16;
        for (size_t i = rowWidth; i < run.output.size(); ++i)
            ASSERT_EQ(run.output[i], 0xDEADBEEFu) << command << " word " << i;
    }
}

}  // namespace
}  // namespace kve::test
