// Medians and outliers: worked windows, thresholds, alpha, the cross's edge
// rows, the packed-byte median against the reference on every width, and
// golden frames.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "effects/filter/filter_ops.h"
#include "interface/pixel.h"
#include "support/cpu_levels.h"
#include "support/frames.h"

namespace kve::test {
namespace {

constexpr uint32_t kGuard = 0xA5A5A5A5;
const uint32_t kGrey = PackPixel(255, 40, 40, 40);

TEST(MediansTest, DotsAndLines) {
    Frame dot = FilledFrame(9, 7, kGrey);
    dot[3 * 9 + 4] = PackPixel(255, 255, 255, 255);
    for (const char *command : {"Median3x3", "MedianX5", "Outlier3x3 0.1 0", "OutlierX5 0.1 0"})
        EXPECT_EQ(RunEffect(command, {&dot}, 9, 7).output, FilledFrame(9, 7, kGrey)) << command;

    // A one-pixel vertical line: five of the cross's nine values lie on it,
    // three of the square's.
    Frame line = FilledFrame(9, 7, kGrey);
    for (int32_t y = 0; y < 7; ++y)
        line[y * 9 + 4] = PackPixel(255, 200, 10, 90);
    EXPECT_EQ(RunEffect("MedianX5", {&line}, 9, 7).output, line);
    EXPECT_EQ(RunEffect("Median3x3", {&line}, 9, 7).output, FilledFrame(9, 7, kGrey));

    // Channels take their medians independently; alpha is the centre's.
    Frame mixed(9);
    for (uint32_t i = 0; i < 9; ++i)
        mixed[i] = PackPixel(static_cast<int32_t>(i * 10), static_cast<int32_t>(i),
                             static_cast<int32_t>(8 - i), static_cast<int32_t>((i * 5) % 9));
    // One row of 9 under the cross at x = 4: columns 2..6, the centre row
    // five times more (rows y +- 1, y +- 2 all fall back to row 0).
    const Frame out = RunEffect("MedianX5", {&mixed}, 9, 1).output;
    EXPECT_EQ(out[4], PackPixel(40, 4, 4, 2));
}

TEST(MediansTest, CrossRowsBeyondTheFrameAreTheCentreRow) {
    // Column of 4 rows: 0, 100, 200, 250 red. At y = 1 the cross reads rows
    // y-2 -> 1 (not 0), 0, 1, 2, 3 in the column plus four copies of row 1
    // in the row: 100 x 6, 0, 200, 250: median 100.
    Frame column{PackPixel(1, 0, 0, 0), PackPixel(2, 100, 0, 0), PackPixel(3, 200, 0, 0),
                 PackPixel(4, 250, 0, 0)};
    const Frame out = RunEffect("MedianX5", {&column}, 1, 4).output;
    EXPECT_EQ(out[1], PackPixel(2, 100, 0, 0));
    // At y = 2: y+2 falls back to row 2: 200 x 6 with 0, 100, 250: median 200.
    EXPECT_EQ(out[2], PackPixel(3, 200, 0, 0));
    // Outlier cross at y = 0 of the same column: neighbours are rows 0 (y-1
    // clamps), 0 (y-2 falls back), 1, 2 and four copies of row 0: mean
    // (0 * 6 + 100 + 200) / 8 = 37.
    const Frame outlier = RunEffect("OutlierX5 -1 0", {&column}, 1, 4).output;
    EXPECT_EQ(outlier[0], PackPixel(1, 37, 0, 0));
}

TEST(OutliersTest, Thresholds) {
    Frame picture = PictureFrame(29, 13, 3);
    EXPECT_EQ(RunEffect("Outlier3x3 1 0", {&picture}, 29, 13).output, picture);
    EXPECT_EQ(RunEffect("OutlierX5 7.5 0", {&picture}, 29, 13).output, picture);

    // Centre 100 among neighbours of 80: brightness differs by 20.
    Frame f = FilledFrame(3, 3, PackPixel(7, 80, 80, 80));
    f[4] = PackPixel(9, 100, 100, 100);
    auto centre = [&](const char *command) { return RunEffect(command, {&f}, 3, 3).output[4]; };
    const uint32_t replaced = PackPixel(9, 80, 80, 80);
    EXPECT_EQ(centre("Outlier3x3 0 0"), replaced);
    // 20 / 255 = 0.0784...: t * 255 rounds to 20, and the test is strict.
    EXPECT_EQ(centre("Outlier3x3 0.0784 0"), f[4]);
    EXPECT_EQ(centre("Outlier3x3 0.0745 0"), replaced);  // rounds to 19
    // A negative threshold below 1 in size: every pixel with any difference.
    EXPECT_EQ(centre("Outlier3x3 -0.5 0"), replaced);
    // |t| >= 1 tests channel by channel; t <= -1 replaces every channel:
    // the corner's neighbours are seven 80s and the 100, (560 + 100) >> 3.
    EXPECT_EQ(RunEffect("Outlier3x3 -1 0", {&f}, 3, 3).output[0], PackPixel(7, 82, 82, 82));

    // Brightness by integer division: channels 10, 0, 0 against 0s differ by 3.
    Frame g = FilledFrame(3, 3, PackPixel(0, 0, 0, 0));
    g[4] = PackPixel(5, 10, 0, 0);
    EXPECT_EQ(RunEffect("Outlier3x3 0.007 0", {&g}, 3, 3).output[4], PackPixel(5, 0, 0, 0));
    EXPECT_EQ(RunEffect("Outlier3x3 0.012 0", {&g}, 3, 3).output[4], g[4]);  // g = 3
    // Huge thresholds saturate.
    EXPECT_EQ(RunEffect("Outlier3x3 -99999999999999999999 0", {&g}, 3, 3).output[4],
              PackPixel(5, 0, 0, 0));
    EXPECT_EQ(RunEffect("Outlier3x3 99999999999999999999 0", {&g}, 3, 3).output, g);
}

TEST(MediansTest, TinyFrames) {
    for (const char *command : {"Median3x3", "MedianX5", "Outlier3x3 0 0", "OutlierX5 0 0"}) {
        for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 5}, std::pair{5, 1}, std::pair{2, 2}}) {
            Frame flat = FilledFrame(w, h, PackPixel(3, 50, 60, 70));
            EXPECT_EQ(RunEffect(command, {&flat}, w, h).output, flat) << command;
        }
    }
    // Height 1: every window row is the one row. A row 10 20 30 40 50 under
    // the square: column medians of three copies of x-1, x, x+1.
    Frame row{PackPixel(0, 10, 0, 0), PackPixel(0, 50, 0, 0), PackPixel(0, 20, 0, 0),
              PackPixel(0, 40, 0, 0), PackPixel(0, 30, 0, 0)};
    EXPECT_EQ(RunEffect("Median3x3", {&row}, 5, 1).output,
              (Frame{PackPixel(0, 10, 0, 0), PackPixel(0, 20, 0, 0), PackPixel(0, 40, 0, 0),
                     PackPixel(0, 30, 0, 0), PackPixel(0, 30, 0, 0)}));
}

TEST(MediansTest, EveryLevelMatchesTheReferenceOnEveryWidth) {
    for (const CpuLevel level : LevelsToTest()) {
        const MedianRow row = FilterRowSets().For(level).median;
        for (MedianShape shape : {MedianShape::kSquare, MedianShape::kCross}) {
            for (int32_t n = 1; n < 256; ++n) {
                const int32_t h = 6;
                Frame frame = NoiseFrame(n, h, static_cast<uint32_t>(n));
                for (int32_t i = 0; i < n * h; i += 5)
                    frame[i] = i % 2 ? 0xFFFFFFFF : 0;
                for (int32_t y = 0; y < h; ++y) {
                    Frame expect(n + 4, kGuard), got(n + 4, kGuard);
                    MedianRowReference(shape, frame.data(), n, h, y, expect.data());
                    row(shape, frame.data(), n, h, y, got.data());
                    ASSERT_EQ(got, expect) << CpuLevelName(level) << " width " << n << " row " << y;
                }
            }
        }
    }
}

TEST(OutliersTest, EveryLevelMatchesTheReferenceOnEveryWidth) {
    const double thresholds[] = {0, 0.0001, 0.05, 0.1, 0.5, 0.999, 1, 1.5, -0.3, -1, -7, 1e30};
    const std::vector<CpuLevel> levels = LevelsToTest();
    for (MedianShape shape : {MedianShape::kSquare, MedianShape::kCross}) {
        for (double t : thresholds) {
            const OutlierTest test = OutlierTestOf(t);
            for (int32_t n = 1; n < 256; ++n) {
                const int32_t h = 5;
                // Noise, runs of flat colour and isolated extremes, so that
                // both outcomes of each test occur.
                Frame frame = NoiseFrame(n, h, static_cast<uint32_t>(n));
                for (int32_t i = 0; i < n * h; ++i)
                    if (i % 5 < 3) frame[i] = PackPixel(i % 256, 60, 90, 120);
                for (int32_t i = 0; i < n * h; i += 11)
                    frame[i] = i % 2 ? 0xFFFFFFFF : 0;
                for (int32_t y = 0; y < h; ++y) {
                    Frame expect(n + 4, kGuard);
                    OutlierRowReference(shape, test, frame.data(), n, h, y, expect.data());
                    for (const CpuLevel level : levels) {
                        Frame got(n + 4, kGuard);
                        FilterRowSets().For(level).outlier(shape, test, frame.data(), n, h, y,
                                                           got.data());
                        ASSERT_EQ(got, expect)
                            << CpuLevelName(level) << " t " << t << " width " << n << " row " << y;
                    }
                }
            }
        }
    }
}

TEST(MediansTest, GoldenFrames) {
    GoldenFile golden("filters.txt");
    for (const CpuLevel level : LevelsToTest()) {
        const CpuLevelCap cap(level);
        Frame noisy = PictureFrame(131, 37, 1);
        Frame specks = NoiseFrame(131, 37, 9);
        for (size_t i = 0; i < noisy.size(); i += 7)
            noisy[i] = specks[i];
        for (const char *command : {"Median3x3", "MedianX5", "Outlier3x3 0.1 0", "OutlierX5 0.05 0",
                                    "Outlier3x3 1.5 0", "OutlierX5 -2 0"}) {
            const std::string sum = Checksum(RunEffect(command, {&noisy}, 131, 37).output);
            EXPECT_EQ(sum, golden.Expect(GoldenKey(command), sum)) << command;
        }
    }
}

}  // namespace
}  // namespace kve::test
