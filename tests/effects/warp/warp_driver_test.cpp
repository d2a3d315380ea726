// The warp driver and the nearest sampler through SRT: folding, tiling,
// turning and moving whole frames, progress and stops, sources shared with
// the output.
#include "effects/warp/warp_driver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "libkve.h"
#include "support/frames.h"

namespace kve::test {
namespace {

// Folds by hand as a repeated copy, for offsets of less than one frame size.
int32_t Repeat(int32_t a, int32_t n) {
    return a < 0 ? a + n : (a >= n ? a - n : a);
}

TEST(WrapIndex, FoldsMirroredAndRepeatedCopies) {
    EXPECT_EQ(WrapIndex(-1, 10, 1), 0);
    EXPECT_EQ(WrapIndex(-1, 10, 2), 9);
    EXPECT_EQ(WrapIndex(10, 10, 1), 9);
    EXPECT_EQ(WrapIndex(10, 10, 2), 0);
    EXPECT_EQ(WrapIndex(25, 10, 1), 5);
    EXPECT_EQ(WrapIndex(-10, 10, 1), 9);  // one copy to the left, mirrored
    EXPECT_EQ(WrapIndex(-11, 10, 1), 9);  // two copies: repeated
    EXPECT_EQ(WrapIndex(-21, 10, 1), 0);  // three copies: mirrored
    EXPECT_EQ(WrapIndex(-21, 10, 2), 9);
    EXPECT_EQ(WrapIndex(3, 10, 1), 3);
    // The step-by-step fold, for every index over several copies each side.
    for (int32_t n : {1, 2, 7}) {
        for (int64_t a = -5 * n; a < 6 * n; ++a) {
            int64_t b = a, steps = 0;
            for (; b < 0; b += n)
                ++steps;
            for (; b >= n; b -= n)
                ++steps;
            EXPECT_EQ(WrapIndex(a, n, 1), (steps % 2 == 1) ? n - 1 - b : b) << a << " " << n;
            EXPECT_EQ(WrapIndex(a, n, 2), b) << a << " " << n;
        }
    }
    // Sizes of 0 or less, and the far ends of the index range, end at once.
    EXPECT_EQ(WrapIndex(5, 0, 1), 0);
    EXPECT_EQ(WrapIndex(-5, -3, 2), 0);
    EXPECT_EQ(WrapIndex(INT64_MIN, 7, 1), WrapIndex(INT64_MIN % 14 + 14, 7, 1));
    EXPECT_EQ(WrapIndex(INT64_MAX, 7, 2), INT64_MAX % 7);
}

TEST(WarpDriver, IdentitySrtCopiesAndZeroScaleBlanks) {
    Frame in = NoiseFrame(352, 240, 1);
    for (const char *quality : {"0", "3", "-2"})
        EXPECT_EQ(RunEffect(std::string("SRT 1 1 0 0 0 0 0 ") + quality, {&in}, 352, 240).output,
                  in)
            << quality;
    const Frame empty(in.size(), 0);
    for (const char *command :
         {"SRT 0 1 0 0 0 0 0 0", "SRT 1 0 30 0 0 0 1 0", "SRT 1 1 0 0 0 0 0 -1",
          "SRT 0 0 0 0 0 0 2 2", "SRT 0 1 0 0 0 0 0 1"})
        EXPECT_EQ(RunEffect(command, {&in}, 352, 240).output, empty) << command;
}

// A quarter turn counter-clockwise, half a pixel off the pixel edges so every
// position truncates without doubt: output (i, j) shows source (63 - j, i).
TEST(WarpDriver, QuarterTurnCounterClockwise) {
    Frame in = NoiseFrame(64, 64, 2);
    Frame expected(in.size(), 0);
    for (int32_t j = 0; j < 64; ++j)
        for (int32_t i = 0; i < 64; ++i)
            Px(expected, 64, i, j) = Px(in, 64, 63 - j, i);
    EXPECT_EQ(RunEffect("SRT 1 1 90 -0.015625 0.015625 0 0 0", {&in}, 64, 64).output, expected);
}

// A move right by 8 and up by 4 pixels on 64 x 48: transparent, mirrored and
// repeated surroundings.
TEST(WarpDriver, MoveWithEachTilingMode) {
    constexpr int32_t w = 64, h = 48;
    Frame in = NoiseFrame(w, h, 3);
    for (int tiling : {0, 1, 2, 7}) {
        Frame expected(in.size(), 0);
        for (int32_t j = 0; j < h; ++j) {
            for (int32_t i = 0; i < w; ++i) {
                int32_t x = i - 8, y = j + 4;
                const bool inside = x >= 0 && y < h;
                if (tiling == 0 && !inside) continue;
                if (tiling == 1) {
                    x = Mirror(x, w);
                    y = Mirror(y, h);
                } else if (tiling != 0) {
                    x = Repeat(x, w);
                    y = Repeat(y, h);
                }
                Px(expected, w, i, j) = Px(in, w, x, y);
            }
        }
        const std::string command = "SRT 1 1 0 0.25 0.125 0 " + std::to_string(tiling) + " 0";
        EXPECT_EQ(RunEffect(command, {&in}, w, h).output, expected) << command;
    }
}

// Nearest truncates toward zero: half a pixel right, output columns 0 and 1
// both show source column 0 (x = -0.5 and 0.5), and nothing is blank.
TEST(WarpDriver, NearestTruncatesTowardZero) {
    constexpr int32_t w = 64, h = 8;
    Frame in = NoiseFrame(w, h, 8);
    Frame expected(in.size(), 0);
    for (int32_t j = 0; j < h; ++j)
        for (int32_t i = 0; i < w; ++i)
            Px(expected, w, i, j) = Px(in, w, i == 0 ? 0 : i - 1, j);
    EXPECT_EQ(RunEffect("SRT 1 1 0 0.015625 0 0 0 0", {&in}, w, h).output, expected);
}

// Far moves: tiling folds positions millions of frames away exactly; without
// tiling they are outside. Scales that make positions infinite or NaN give 0.
TEST(WarpDriver, FarAndNonFinitePositions) {
    constexpr int32_t w = 16, h = 12;
    Frame in = NoiseFrame(w, h, 4);
    const Frame empty(in.size(), 0);
    // 2^40 units = 2^43 pixels right: a whole number of mirrored pairs.
    EXPECT_EQ(RunEffect("SRT 1 1 0 1099511627776 0 0 1 0", {&in}, w, h).output, in);
    EXPECT_EQ(RunEffect("SRT 1 1 0 1099511627776 0 0 0 0", {&in}, w, h).output, empty);
    const std::string huge = "1" + std::string(400, '0');  // parses to infinity
    for (int tiling : {0, 1, 2}) {
        const std::string t = " 0 " + std::to_string(tiling) + " 0";
        EXPECT_EQ(RunEffect("SRT 1 1 0 " + huge + " 0" + t, {&in}, w, h).output, empty);
        EXPECT_EQ(RunEffect("SRT 0.000000000000000000001 1 0 0 0" + t, {&in}, w, h).output.size(),
                  in.size());
    }
}

TEST(ScanCache, RowsOutsideTheFrameAreReportedAndServedNearest) {
    Frame in = NoiseFrame(5, 4, 9);
    const ScanCache cache{in.data(), 5, 4};
    DiagCapture diag;
    EXPECT_EQ(ScanCache_GetLine(cache, 2), in.data() + 10);
    EXPECT_TRUE(diag.Lines().empty());
    EXPECT_EQ(ScanCache_GetLine(cache, -1), in.data());
    EXPECT_EQ(ScanCache_GetLine(cache, 4), in.data() + 15);
    EXPECT_EQ(ScanCache_GetLine(cache, INT64_MAX), in.data() + 15);
    ASSERT_EQ(diag.Lines().size(), 3u);
    EXPECT_EQ(diag.Lines()[0], "<ScanCache_GetLine>: Illegal row access");
}

int StopAtRow5(MonitorInfo *info, void *rows) {
    ++*static_cast<int *>(rows);
    return info->currentRow == 5 ? 0 : 1;
}

TEST(WarpDriver, ProgressEveryRowAndStop) {
    Frame in = NoiseFrame(40, 30, 5);
    int rows = 0;
    MonitorHook hook{StopAtRow5, &rows};
    const auto run = RunEffect("SRT 1 1 0 0 0 0 0 0", {&in}, 40, 30, 0, 0, 0xDEADBEEF, &hook);
    EXPECT_EQ(run.result, -3);
    EXPECT_EQ(rows, 6);
    for (int32_t y = 0; y < 30; ++y)
        for (int32_t x = 0; x < 40; ++x)
            EXPECT_EQ(run.output[static_cast<size_t>(y) * 40 + x],
                      y <= 5 ? in[static_cast<size_t>(y) * 40 + x] : 0xDEADBEEF);
}

TEST(WarpDriver, OutputSharingTheSourceGetsTheSeparateResult) {
    constexpr int32_t w = 50, h = 40;
    Frame in = PictureFrame(w, h, 6);
    const char *command = "SRT 0.8 1.3 33 0.1 -0.2 0 1 0";
    const Frame separate = RunEffect(command, {&in}, w, h).output;
    Frame shared = in;
    uint32_t *inputs[] = {shared.data(), nullptr};
    EXPECT_EQ(KVE_EffectBySize(command, inputs, w, h, shared.data(), 0, 0, nullptr), 0);
    EXPECT_EQ(shared, separate);
}

}  // namespace
}  // namespace kve::test
