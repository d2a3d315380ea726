// The block wipes: every visiting order on many grid shapes, the orders on a
// small grid, head counts, levels and the soft band, the random orders' seed
// and register, per-call maps on threads and inside progress callbacks, and
// golden checksums of whole frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "effects/point/random.h"
#include "effects/wipe/blocks.h"
#include "effects/wipe/wipe.h"
#include "effects/wipe/wipe_commands.h"
#include "interface/pixel.h"
#include "support/cpu_levels.h"
#include "support/frames.h"

namespace kve {
namespace {

using test::Frame;

// Where each block was first revealed (the step number from 1), whether any
// step named a block outside the grid, and how many steps the walk took.
struct Walked {
    int32_t cols, rows;
    std::vector<int> firstStep;
    std::vector<int> times;  // how often each block was named
    int steps = 0;
    bool outside = false;
};

bool Record(void *context, const BlockStep &step) {
    Walked &w = *static_cast<Walked *>(context);
    ++w.steps;
    for (int i = 0; i < step.count; ++i) {
        const BlockCell b = step.cell[i];
        if (b.r < 0 || b.r >= w.rows || b.c < 0 || b.c >= w.cols) {
            w.outside = true;
            return false;
        }
        const size_t index = static_cast<size_t>(b.r) * w.cols + b.c;
        if (!w.firstStep[index]) w.firstStep[index] = w.steps;
        ++w.times[index];
    }
    return true;
}

Walked Walk(int32_t number, int32_t cols, int32_t rows, uint32_t seed = 0) {
    Walked w{cols, rows, std::vector<int>(static_cast<size_t>(cols) * rows),
             std::vector<int>(static_cast<size_t>(cols) * rows)};
    EXPECT_TRUE(WalkBlockOrder(number, cols, rows, seed, Record, &w)) << number;
    return w;
}

// The step at which each block is revealed, row by row, as text.
std::string OrderText(const Walked &w) {
    std::string text;
    for (int32_t r = 0; r < w.rows; ++r) {
        for (int32_t c = 0; c < w.cols; ++c) {
            char cell[8];
            std::snprintf(cell, sizeof cell, "%3d",
                          w.firstStep[static_cast<size_t>(r) * w.cols + c]);
            text += cell;
        }
        text += "\n";
    }
    return text;
}

TEST(BlockOrders, EveryWalkStaysInsideAndRevealsEveryBlock) {
    const std::pair<int32_t, int32_t> shapes[] = {
        {1, 1},  {1, 2},  {2, 1},  {1, 7},   {7, 1},   {2, 2},   {3, 2},   {2, 3},   {3, 3},
        {4, 4},  {5, 4},  {4, 5},  {3, 8},   {8, 3},   {6, 9},   {9, 6},   {7, 7},   {10, 3},
        {3, 10}, {13, 1}, {1, 13}, {22, 15}, {15, 22}, {31, 17}, {40, 23}, {120, 68}};
    for (int32_t number : BlockWipeNumbers()) {
        for (auto [cols, rows] : shapes) {
            for (uint32_t seed : {0u, 12345u}) {
                const Walked w = Walk(number, cols, rows, seed);
                EXPECT_FALSE(w.outside) << number << " on " << cols << "x" << rows;
                const bool all = std::all_of(w.firstStep.begin(), w.firstStep.end(),
                                             [](int s) { return s > 0; });
                EXPECT_TRUE(all) << number << " on " << cols << "x" << rows << "\n" << OrderText(w);
                // Single-block orders name every block exactly once.
                if (number < 320 || number >= 350) {
                    for (int times : w.times)
                        ASSERT_EQ(times, 1) << number << " on " << cols << "x" << rows;
                }
            }
        }
    }
}

TEST(BlockOrders, UnknownNumbersHaveNoOrder) {
    Walked w{2, 2, std::vector<int>(4), std::vector<int>(4)};
    for (int32_t number : {300, 307, 309, 318, 319, 330, 339, 346, 349, 354, 408, 411, -301})
        EXPECT_FALSE(WalkBlockOrder(number, 2, 2, 0, Record, &w)) << number;
    EXPECT_EQ(w.steps, 0);
    EXPECT_EQ(BlockFirstPlace(307), -1);
    for (int32_t number : {324, 325, 326, 327, 328, 329, 409, 410})
        EXPECT_EQ(BlockFirstPlace(number), 0) << number;
    for (int32_t number : {301, 306, 310, 317, 320, 323, 340, 345, 350, 353})
        EXPECT_EQ(BlockFirstPlace(number), 1) << number;
}

// Each order on a grid of 5 columns and 4 rows: the step that reveals each block.
TEST(BlockOrders, VisitingOrdersOnAFiveByFourGrid) {
    const std::pair<int32_t, const char *> orders[] = {
        // Snakes along the rows and the columns.
        {301, "  1  2  3  4  5\n 10  9  8  7  6\n 11 12 13 14 15\n 20 19 18 17 16\n"},
        {302, "  1  8  9 16 17\n  2  7 10 15 18\n  3  6 11 14 19\n  4  5 12 13 20\n"},
        // The zig-zag scan from each corner.
        {303, "  1  2  6  7 14\n  3  5  8 13 15\n  4  9 12 16 19\n 10 11 17 18 20\n"},
        {304, " 14  7  6  2  1\n 15 13  8  5  3\n 19 16 12  9  4\n 20 18 17 11 10\n"},
        {305, " 20 18 17 11 10\n 19 16 12  9  4\n 15 13  8  5  3\n 14  7  6  2  1\n"},
        {306, " 10 11 17 18 20\n  4  9 12 16 19\n  3  5  8 13 15\n  1  2  6  7 14\n"},
        // Clockwise and counter-clockwise spirals from each corner.
        {310, "  1  2  3  4  5\n 14 15 16 17  6\n 13 20 19 18  7\n 12 11 10  9  8\n"},
        {311, " 11 12 13 14  1\n 10 19 20 15  2\n  9 18 17 16  3\n  8  7  6  5  4\n"},
        {312, "  8  9 10 11 12\n  7 18 19 20 13\n  6 17 16 15 14\n  5  4  3  2  1\n"},
        {313, "  4  5  6  7  8\n  3 16 17 18  9\n  2 15 20 19 10\n  1 14 13 12 11\n"},
        {314, "  1 14 13 12 11\n  2 15 20 19 10\n  3 16 17 18  9\n  4  5  6  7  8\n"},
        {315, "  5  4  3  2  1\n  6 17 16 15 14\n  7 18 19 20 13\n  8  9 10 11 12\n"},
        {316, "  8  7  6  5  4\n  9 18 17 16  3\n 10 19 20 15  2\n 11 12 13 14  1\n"},
        {317, " 12 11 10  9  8\n 13 20 19 18  7\n 14 15 16 17  6\n  1  2  3  4  5\n"},
        // Paired column snakes: the middle column is one block a step in 320
        // and 321; in 322 and 323 its two halves are walked together.
        {320, "  1  8  9  8  1\n  2  7 10  7  2\n  3  6 11  6  3\n  4  5 12  5  4\n"},
        {321, "  4  5 12  5  4\n  3  6 11  6  3\n  2  7 10  7  2\n  1  8  9  8  1\n"},
        {322, "  1  8  9  5  4\n  2  7 10  6  3\n  3  6 10  7  2\n  4  5  9  8  1\n"},
        {323, "  4  5  9  8  1\n  3  6 10  7  2\n  2  7 10  6  3\n  1  8  9  5  4\n"},
        // Paired row snakes.
        {324, "  1  2  3  4  5\n 10  9  8  7  6\n 10  9  8  7  6\n  1  2  3  4  5\n"},
        {325, "  5  4  3  2  1\n  6  7  8  9 10\n  6  7  8  9 10\n  5  4  3  2  1\n"},
        {326, "  1  2  3  4  5\n 10  9  8  7  6\n  6  7  8  9 10\n  5  4  3  2  1\n"},
        {327, "  5  4  3  2  1\n  6  7  8  9 10\n 10  9  8  7  6\n  1  2  3  4  5\n"},
        // Diagonal snakes from the middle anti-diagonal to two corners.
        {328, " 10  9  5  4  1\n  8  6  3  2  7\n  7  2  3  6  8\n  1  4  5  9 10\n"},
        {329, "  1  4  5  9 10\n  7  2  3  6  8\n  8  6  3  2  7\n 10  9  5  4  1\n"},
        // Mirrored spirals in the two halves and the four quadrants.
        {340, "  1 10  9 10  1\n  2 11  8 11  2\n  3 12  7 12  3\n  4  5  6  5  4\n"},
        {341, "  4  5  6  5  4\n  3 12  7 12  3\n  2 11  8 11  2\n  1 10  9 10  1\n"},
        {342, "  1  2  3  4  5\n 10  9  8  7  6\n 10  9  8  7  6\n  1  2  3  4  5\n"},
        {343, "  5  4  3  2  1\n  6  7  8  9 10\n  6  7  8  9 10\n  5  4  3  2  1\n"},
        {344, "  1  6  5  6  1\n  2  3  4  3  2\n  2  3  4  3  2\n  1  6  5  6  1\n"},
        {345, "  1  2  3  2  1\n  6  5  4  5  6\n  6  5  4  5  6\n  1  2  3  2  1\n"},
        // Raster orders.
        {350, "  1  5  9 13 17\n  2  6 10 14 18\n  3  7 11 15 19\n  4  8 12 16 20\n"},
        {351, " 17 13  9  5  1\n 18 14 10  6  2\n 19 15 11  7  3\n 20 16 12  8  4\n"},
        {352, "  1  2  3  4  5\n  6  7  8  9 10\n 11 12 13 14 15\n 16 17 18 19 20\n"},
        {353, "  5  4  3  2  1\n 10  9  8  7  6\n 15 14 13 12 11\n 20 19 18 17 16\n"},
    };
    for (auto [number, text] : orders)
        EXPECT_EQ(OrderText(Walk(number, 5, 4)), text) << number;
}

TEST(BlockOrders, DiagonalSnakesStartOnTheMiddleAntiDiagonal) {
    // Wide grids start on the bottom row, tall ones on the left column.
    EXPECT_EQ(OrderText(Walk(328, 4, 3)), "  6  4  3  1\n  5  2  2  5\n  1  3  4  6\n");
    EXPECT_EQ(OrderText(Walk(328, 2, 5)), "  5  3\n  4  2\n  1  1\n  2  4\n  3  5\n");
    EXPECT_EQ(OrderText(Walk(328, 1, 1)), "  1\n");
}

// ---- levels, head and the register ----------------------------------------------

TEST(BlockLevels, RampOverTheSpreadAndSaturation) {
    EXPECT_EQ(BlockLevel(5, 10, 0), 255);   // no spread: every started block is A
    EXPECT_EQ(BlockLevel(5, 10, -3), 255);  // a negative band too
    EXPECT_EQ(BlockLevel(1, 10, 5), 255);   // further ahead than the spread
    EXPECT_EQ(BlockLevel(1, 10, 330), 6);   // 9 * 255 / 330 = 6.95
    EXPECT_EQ(BlockLevel(10, 10, 330), 0);
    EXPECT_EQ(BlockLevel(0, 2, 4), 127);
    EXPECT_EQ(BlockLevel(12, 10, 330), 0);  // not reached yet
    // Counts far beyond 64 bits stay in range.
    EXPECT_EQ(BlockLevel(1, 3e24, 6e24), 127);
    EXPECT_EQ(BlockLevel(0, 6e24, 6e24), 255);
}

TEST(BlockLfsr, MaskIsTheLargestWithAFullCycle) {
    for (int32_t bits = 5; bits <= 14; ++bits) {
        const uint32_t size = 1u << bits;
        auto cycle = [&](uint32_t mask) {
            uint32_t state = 1, steps = 0;
            do {
                state = LfsrStep(state, mask);
                ++steps;
            } while (state != 1 && steps < size);
            return state == 1 ? steps : 0;
        };
        // Any total that needs `bits` bits finds the same mask.
        const uint32_t mask = LfsrTaps(size / 2 + (bits > 5 ? 3 : 0));
        EXPECT_EQ(LfsrTaps(size - 1), mask);
        EXPECT_EQ(cycle(mask), size - 1) << bits;
        for (uint32_t larger = mask + 1; larger < size; ++larger)
            EXPECT_NE(cycle(larger), size - 1) << bits << " " << larger;
    }
    // Grids of up to 31 blocks use a five-bit register.
    EXPECT_EQ(LfsrTaps(1), LfsrTaps(31));
}

// The block mix the effect runs gives the reference's words on every width,
// for weights that leave the border colour's share negative, zero or whole,
// and writes nothing past the row.
TEST(BlockMixing, EveryLevelsRowMatchesTheReference) {
    const BlockMixKernels rows = BlockMixRows();
    const std::vector<CpuLevel> cpus = test::LevelsToTest();
    uint32_t state = 11;
    auto next = [&] { return state = state * 1664525u + 1013904223u; };
    struct Band {
        double border, softness;
    };
    for (const Band &band :
         {Band{0.5, 1}, Band{0, 1.2}, Band{3, 0.1}, Band{-0.5, 2}, Band{1e20, 1}})
        for (int32_t level : {1, 17, 127, 128, 200, 254}) {
            const BlockMix mix = BlockMixOf(level, band.border, band.softness, next());
            for (int32_t width = 1; width <= 255; ++width) {
                std::vector<Pixel> a(width), b(width);
                for (int32_t x = 0; x < width; ++x) {
                    a[x] = next();
                    b[x] = next();
                }
                std::vector<Pixel> want(width + 4, 0xDEADBEEF);
                rows.reference(a.data(), b.data(), want.data(), width, mix);
                for (const CpuLevel cpu : cpus) {
                    std::vector<Pixel> got(width + 4, 0xDEADBEEF);
                    rows.rows.For(cpu)(a.data(), b.data(), got.data(), width, mix);
                    ASSERT_EQ(got, want)
                        << CpuLevelName(cpu) << " width " << width << " level " << level;
                }
            }
        }
    // The weights of a worked level: band 1.5, level 127 (see the soft band test).
    const BlockMix worked = BlockMixOf(127, 0.5, 1, PackPixel(255, 255, 255, 255));
    EXPECT_EQ(worked.a, static_cast<float>(63.0 / 255));
    EXPECT_EQ(worked.b, static_cast<float>(64.5 / 255));
    EXPECT_EQ(worked.alpha, 63);
}

// ---- the effect through command texts ---------------------------------------------

using test::WipeCommand;

const Pixel kA = PackPixel(200, 200, 100, 40), kB = PackPixel(100, 100, 50, 240);

// How many whole blocks of the output show A.
int CountBlocksOfA(const Frame &out, int32_t w, int32_t h, int32_t bw, int32_t bh) {
    int blocks = 0;
    for (int32_t y0 = 0; y0 < h; y0 += bh)
        for (int32_t x0 = 0; x0 < w; x0 += bw) {
            bool allA = true;
            for (int32_t y = y0; y < std::min(h, y0 + bh); ++y)
                for (int32_t x = x0; x < std::min(w, x0 + bw); ++x)
                    allA = allA && out[static_cast<size_t>(y) * w + x] == kA;
            blocks += allA;
        }
    return blocks;
}

TEST(BlockWipeEffect, HeadRevealsHalfTheGridAtHalfWay) {
    const int32_t w = 352, h = 240;
    Frame a = test::FilledFrame(w, h, kA), b = test::FilledFrame(w, h, kB);
    for (int32_t number : BlockWipeNumbers()) {
        const auto run = test::RunEffect(
            WipeCommand(number, 0.5, "0 [0 0] 1 1 0 [16 16] 0 [(argb) 255 0 0 0]"), {&a, &b}, w, h);
        // 22 x 15 blocks; Ease(0.5) * (1 + 0.00001) * 330 = 165.0016: 165 places.
        // Every other pixel is B: no block is in transition with so thin a band.
        const int blocks = CountBlocksOfA(run.output, w, h, 16, 16);
        const bool paired = number >= 320 && number < 350;
        if (paired) {
            // A step of two blocks may straddle the head.
            EXPECT_TRUE(blocks == 165 || blocks == 166) << number << ": " << blocks;
        } else {
            EXPECT_EQ(blocks, 165) << number;
        }
        const auto bPixels = std::count(run.output.begin(), run.output.end(), kB);
        EXPECT_EQ(static_cast<size_t>(bPixels) + static_cast<size_t>(blocks) * 256,
                  run.output.size())
            << number;
    }
}

TEST(BlockWipeEffect, EndsShowBAndAWordForWord) {
    const int32_t w = 45, h = 29;  // narrow last column and row
    Frame a = test::PictureFrame(w, h, 1), b = test::PictureFrame(w, h, 2);
    for (int32_t number : BlockWipeNumbers())
        for (const char *rest : {"0.3 [0 0] 1 1 0 [8 6] 1.5 [(argb) 255 1 2 3]",
                                 "0 [0 0] 1 1 0 [0 0] 0 [(argb) 255 1 2 3]"}) {
            EXPECT_EQ(test::RunEffect(WipeCommand(number, 0, rest), {&a, &b}, w, h).output, b)
                << number;
            EXPECT_EQ(test::RunEffect(WipeCommand(number, 1, rest), {&a, &b}, w, h).output, a)
                << number;
            EXPECT_EQ(test::RunEffect(WipeCommand(number, 7, rest), {&a, &b}, w, h).output, a)
                << number;
        }
}

TEST(BlockWipeEffect, NarrowLastColumnAndBlockSizeZero) {
    // 50 x 20 in blocks of 16 x 16: four columns, the last two pixels wide.
    const int32_t w = 50, h = 20;
    Frame a = test::FilledFrame(w, h, kA), b = test::FilledFrame(w, h, kB);
    // 353 (rows right to left): Ease(0.25) * 8 = 1 place, the top-right block.
    const auto run = test::RunEffect(
        WipeCommand(353, 0.25, "0 [0 0] 1 1 0 [16 16] 0 [(argb) 255 0 0 0]"), {&a, &b}, w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            EXPECT_EQ(run.output[static_cast<size_t>(y) * w + x], x >= 48 && y < 16 ? kA : kB)
                << x << " " << y;
    // Blocks of 0 x 0 are blocks of one pixel: 1000 places, half of them at half way.
    const auto pixels = test::RunEffect(
        WipeCommand(352, 0.5, "0 [0 0] 1 1 0 [0 0] 0 [(argb) 255 0 0 0]"), {&a, &b}, w, h);
    for (size_t i = 0; i < pixels.output.size(); ++i)
        ASSERT_EQ(pixels.output[i], i < 500 ? kA : kB) << i;
}

TEST(BlockWipeEffect, SoftBandMixesThroughTheBorderColour) {
    // Two blocks of 8 x 8; border 0.5 and softness 1 make a band of 1.5:
    // head = Ease(0.5) * 2.5 * 2 = 2.5 -> 2, spread = 1 * 2 = 2. The first
    // block (place 1) is one place behind the head: level 255 * 1/2 = 127;
    // the second (place 2) is at the head: level 0, still B.
    const int32_t w = 16, h = 8;
    Frame a = test::FilledFrame(w, h, kA), b = test::FilledFrame(w, h, kB);
    const auto run = test::RunEffect(
        WipeCommand(352, 0.5, "1 [0 0] 1 1 0 [8 8] 0.5 [(argb) 255 255 255 255]"), {&a, &b}, w, h);
    // g = 1.5 * 127 = 190.5; wA = (190.5 - 127.5)/255 = 63/255, wB = 1 - 190.5/255 = 64.5/255,
    // wC = 127.5/255. Red: 63/255*200 + 64.5/255*100 + 127.5 = 202.2; green 24.7 + 12.6 +
    // 127.5 = 164.9; blue 9.9 + 60.7 + 127.5 = 198.1; alpha 63 + 0.5 -> 63.
    const Pixel mixed = PackPixel(63, 202, 164, 198);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            EXPECT_EQ(run.output[static_cast<size_t>(y) * w + x], x < 8 ? mixed : kB) << x;
    // With a band below 1 the same place is fully A at once.
    const auto hard =
        test::RunEffect(WipeCommand(352, 0.5, "0.2 [0 0] 1 1 0 [8 8] 0.5 [(argb) 255 255 255 255]"),
                        {&a, &b}, w, h);
    EXPECT_EQ(CountBlocksOfA(hard.output, w, h, 8, 8), 1);
}

TEST(BlockWipeEffect, HugeBorderOnManyBlocksStaysInRange) {
    // Head and spread far beyond 32 bits: every started block is deep inside
    // its transition, and the frame is still made of A, B and mixes of them.
    const int32_t w = 300, h = 200;
    Frame a = test::FilledFrame(w, h, kA), b = test::FilledFrame(w, h, kB);
    const auto run = test::RunEffect(
        WipeCommand(301, 0.5, "0.1 [0 0] 1 1 0 [1 1] 99999999999999999999 [(argb) 255 0 0 0]"),
        {&a, &b}, w, h);
    // head = 0.5 * 1e20 * 60000, spread = 1e20 * 60000: every block started,
    // all at level trunc(0.5 * 255) = 127, whose weights give B's share 0 and A's 0.
    std::vector<Pixel> distinct(run.output.begin(), run.output.end());
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    EXPECT_EQ(distinct, std::vector<Pixel>{PackPixel(0, 0, 0, 0)});
}

TEST(BlockWipeEffect, UnknownBlockNumbersDrawNothing) {
    Frame a = test::PictureFrame(20, 10, 1), b = test::PictureFrame(20, 10, 2);
    for (int number : {307, 318, 330, 346, 354, 408, 411, 99999}) {
        test::DiagCapture diag;
        const auto run =
            test::RunEffect(WipeCommand(number, 0.5, "0.1 [0 0] 1 1 0 [4 4] 0 [(argb) 255 0 0 0]"),
                            {&a, &b}, 20, 10);
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.output, test::FilledFrame(20, 10, 0xDEADBEEF)) << number;
        ASSERT_EQ(diag.Lines().size(), 1u) << number;
        EXPECT_EQ(diag.Lines()[0], "<Block_Wipe> unknown SMPTE number");
    }
}

TEST(BlockWipeEffect, OutputMaySharePixelsWithEitherInput) {
    const int32_t w = 37, h = 23;
    Frame a = test::PictureFrame(w, h, 1), b = test::PictureFrame(w, h, 2);
    for (int number : {302, 344, 410}) {
        const std::string command =
            WipeCommand(number, 0.6, "0.4 [0 0] 1 1 0 [5 4] 0.8 [(argb) 255 9 9 9]");
        Rand_Seed(5);
        const auto separate = test::RunEffect(command, {&a, &b}, w, h);
        for (int into : {0, 1}) {
            Frame first = a, second = b;
            uint32_t *inputs[] = {first.data(), second.data(), nullptr};
            uint32_t *output = into == 0 ? first.data() : second.data();
            Rand_Seed(5);
            EXPECT_EQ(KVE_EffectBySize(command.c_str(), inputs, w, h, output, 0, 0, nullptr), 0);
            EXPECT_EQ(into == 0 ? first : second, separate.output) << number << " into " << into;
        }
    }
}

// ---- random orders and their seed ---------------------------------------------------

TEST(BlockRandomOrders, SeedIsPerThreadAndRepeatsWhat410Began) {
    const int32_t w = 64, h = 48;
    Frame a = test::PictureFrame(w, h, 1), b = test::PictureFrame(w, h, 2);
    const std::string rest = "0.05 [0 0] 1 1 0 [4 4] 0 [(argb) 255 0 0 0]";
    std::thread([&] {
        // A new thread starts with the seed 0: 409 is the same frame every time.
        EXPECT_EQ(KeptBlockSeed(), 0u);
        const Frame first = test::RunEffect(WipeCommand(409, 0.4, rest), {&a, &b}, w, h).output;
        EXPECT_EQ(test::RunEffect(WipeCommand(409, 0.4, rest), {&a, &b}, w, h).output, first);
        EXPECT_EQ(KeptBlockSeed(), 0u);

        // 410 draws a seed from the thread's random source and keeps it; 409
        // then reveals the blocks 410 began with, and more of them later.
        Rand_Seed(77);
        const Frame fresh = test::RunEffect(WipeCommand(410, 0.3, rest), {&a, &b}, w, h).output;
        const uint32_t seed = KeptBlockSeed();
        Rand_Seed(77);
        EXPECT_EQ(static_cast<uint32_t>(Rand_Next()), seed);
        EXPECT_EQ(test::RunEffect(WipeCommand(409, 0.3, rest), {&a, &b}, w, h).output, fresh);
        const Frame later = test::RunEffect(WipeCommand(409, 0.6, rest), {&a, &b}, w, h).output;
        for (size_t i = 0; i < fresh.size(); ++i)
            if (fresh[i] == a[i] && fresh[i] != b[i]) {
                ASSERT_EQ(later[i], a[i]) << i;
            }
        EXPECT_NE(fresh, first);

        // Another thread's 410 leaves this thread's seed alone.
        std::thread([&] {
            EXPECT_EQ(KeptBlockSeed(), 0u);
            test::RunEffect(WipeCommand(410, 0.3, rest), {&a, &b}, w, h);
        }).join();
        EXPECT_EQ(KeptBlockSeed(), seed);
    }).join();
}

TEST(BlockRandomOrders, DifferentSeedsGiveDifferentOrders) {
    const Walked one = Walk(410, 22, 15, 1), two = Walk(410, 22, 15, 40000);
    EXPECT_NE(one.firstStep, two.firstStep);
    // Seeds that share their value divided by 4 give the same order.
    EXPECT_EQ(Walk(409, 22, 15, 40000).firstStep, Walk(409, 22, 15, 40003).firstStep);
}

// ---- the map belongs to the call --------------------------------------------------

// A progress callback that runs another block wipe, of a different grid, from
// inside every row of the outer one.
struct Nested {
    const Frame *a, *b;
    int32_t w, h;
    Frame inner;
    int calls = 0;
};

int RunInnerBlockWipe(MonitorInfo *, void *userData) {
    Nested &n = *static_cast<Nested *>(userData);
    ++n.calls;
    Frame a = *n.a, b = *n.b;
    n.inner = test::RunEffect("Wipe 340 0.7 0.2 [0 0] 1 1 0 [1 1] 1.3 [(argb) 255 0 255 0]",
                              {&a, &b}, n.w, n.h)
                  .output;
    return 1;
}

TEST(BlockWipeEffect, CallbackMayRunAnotherBlockWipeInsideARow) {
    const int32_t w = 80, h = 60;
    Frame a = test::PictureFrame(w, h, 1), b = test::PictureFrame(w, h, 2);
    const std::string outer = "Wipe 310 0.5 0.3 [0 0] 1 1 0 [9 7] 1.1 [(argb) 255 255 0 0]";
    const std::string inner = "Wipe 340 0.7 0.2 [0 0] 1 1 0 [1 1] 1.3 [(argb) 255 0 255 0]";
    const Frame alone = test::RunEffect(outer, {&a, &b}, w, h).output;
    const Frame innerAlone = test::RunEffect(inner, {&a, &b}, w, h).output;
    Nested nested{&a, &b, w, h, {}, 0};
    MonitorHook hook{RunInnerBlockWipe, &nested};
    const auto run = test::RunEffect(outer, {&a, &b}, w, h, 0, 0, 0xDEADBEEF, &hook);
    EXPECT_EQ(nested.calls, h);
    EXPECT_EQ(run.output, alone);
    EXPECT_EQ(nested.inner, innerAlone);
}

TEST(BlockWipeEffect, EightThreadsAtOnceGiveTheSingleThreadFrames) {
    const int32_t w = 97, h = 61;
    Frame a = test::PictureFrame(w, h, 1), b = test::PictureFrame(w, h, 2);
    std::vector<std::string> commands;
    for (int32_t number : BlockWipeNumbers())
        commands.push_back(
            WipeCommand(number, 0.55, "0.5 [0 0] 1 1 0 [3 2] 0.7 [(argb) 255 0 9 9]"));
    auto runAll = [&] {
        Rand_Seed(1);
        std::vector<std::string> sums;
        for (const std::string &command : commands)
            sums.push_back(test::Checksum(test::RunEffect(command, {&a, &b}, w, h).output));
        return sums;
    };
    std::vector<std::string> reference;
    std::thread([&] { reference = runAll(); }).join();
    constexpr int kThreads = 8;
    std::vector<std::vector<std::string>> results(kThreads);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            results[t] = runAll();
        });
    for (std::thread &thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(results[t], reference) << "thread " << t;
}

// ---- golden frames ------------------------------------------------------------------

TEST(BlockWipeGolden, EveryNumberAtThreeProgressValuesSoftAndHard) {
    const int32_t w = 128, h = 96;
    Frame a = test::PictureFrame(w, h, 1), b = test::PictureFrame(w, h, 2);
    test::GoldenFile golden("wipe_blocks.txt");
    std::thread([&] {  // a fresh thread: the kept seed starts at 0
        Rand_Seed(1);
        for (int32_t number : BlockWipeNumbers()) {
            for (double p : {0.25, 0.5, 0.75}) {
                // A band of 1.3 (soft, through the border colour), and a hard one.
                const char *settings[][2] = {
                    {"soft", "0.5 [0 0] 1 1 0 [16 12] 0.8 [(argb) 255 255 240 32]"},
                    {"hard", "0.05 [0 0] 1 1 0 [10 10] 0.02 [(argb) 255 255 240 32]"}};
                for (auto [name, rest] : settings) {
                    const auto run = test::RunEffect(WipeCommand(number, p, rest), {&a, &b}, w, h);
                    char key[48];
                    std::snprintf(key, sizeof key, "wipe_%d_p%g_%s", number, p, name);
                    const std::string sum = test::Checksum(run.output);
                    EXPECT_EQ(golden.Expect(key, sum), sum) << key;
                }
            }
        }
    })
        .join();
}

}  // namespace
}  // namespace kve
