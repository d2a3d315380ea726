// Blurs: kernels, edge modes on tiny frames, the motion window's direction,
// refusals, the driver's passes and progress, the fast line against the
// reference on every width, and golden frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "effects/filter/filter_ops.h"
#include "interface/pixel.h"
#include "support/cpu_levels.h"
#include "support/frames.h"

namespace kve::test {
namespace {

constexpr uint32_t kGuard = 0xA5A5A5A5;
constexpr uint32_t kFill = 0xDEADBEEF;

uint32_t Red(int32_t v) {
    return PackPixel(0, v, 0, 0);
}

TEST(BlurKernels, BoxMeansTapsAndTheCap) {
    // 3.7 pixels of box: taps at distance 0..3, 7 pixels of weight 1/7.
    BlurLine line{};
    BuildBlurLine(line, 0, 3.7, true, 1);
    EXPECT_EQ(line.lo, -3);
    EXPECT_EQ(line.hi, 3);
    EXPECT_EQ(line.boxRadius, 3);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(line.weight[i], 1.0 / 7) << i;
    // Under one pixel: one tap.
    BuildBlurLine(line, 4, 0.99, true, 1);
    EXPECT_EQ(line.lo, 0);
    EXPECT_EQ(line.hi, 0);
    EXPECT_EQ(line.weight[0], 1.0);
    // Capped at 255 pixels; infinities too, and NaN is 0.
    BuildBlurLine(line, 1, 1e9, true, 1);
    EXPECT_EQ(line.hi, 255);
    BuildBlurLine(line, 1, -INFINITY, false, 1);
    EXPECT_EQ(line.lo, -255);
    EXPECT_EQ(line.hi, 0);
    BuildBlurLine(line, 1, NAN, false, 1);
    EXPECT_EQ(line.hi - line.lo, 0);
    // One-sided taps are divided by their plain sum.
    BuildBlurLine(line, 0, 2.5, false, 1);
    EXPECT_EQ(line.lo, 0);
    EXPECT_EQ(line.hi, 2);
    EXPECT_EQ(line.weight[0], 1.0 / 3);
    EXPECT_EQ(line.boxRadius, 0);

    // Through the command: radius 0.074 on a frame 100 wide is 3.7 pixels.
    Frame row(100);
    for (int32_t x = 0; x < 100; ++x)
        row[x] = PackPixel(x, (x * 37) % 256, x % 7 == 0 ? 255 : 0, 0);
    const Frame out = RunEffect("BlurFilter 0.074 0 0 1", {&row}, 100, 1).output;
    for (int32_t x = 3; x < 97; ++x) {
        int32_t sum[4] = {0, 0, 0, 0};
        for (int32_t j = x - 3; j <= x + 3; ++j) {
            sum[0] += AlphaOf(row[j]);
            sum[1] += RedOf(row[j]);
            sum[2] += GreenOf(row[j]);
        }
        ASSERT_EQ(out[x],
                  PackPixel((2 * sum[0] + 7) / 14, (2 * sum[1] + 7) / 14, (2 * sum[2] + 7) / 14, 0))
            << x;
    }
    // A radius of 2.0 on a frame 352 wide would be 352 pixels: capped at 255,
    // like any larger radius.
    Frame wide = NoiseFrame(352, 3, 1);
    EXPECT_EQ(RunEffect("BlurFilter 2 0 1 1", {&wide}, 352, 3).output,
              RunEffect("BlurFilter 1000 0 1 1", {&wide}, 352, 3).output);
    EXPECT_NE(RunEffect("BlurFilter 2 0 1 1", {&wide}, 352, 3).output,
              RunEffect("BlurFilter 1.44 0 1 1", {&wide}, 352, 3).output);
}

TEST(BlurFilterTest, CopiesBelowOnePixel) {
    Frame picture = PictureFrame(40, 30, 1);
    EXPECT_EQ(RunEffect("BlurFilter 0 0 3 0", {&picture}, 40, 30).output, picture);
    // 0.049 * 20 is under one pixel.
    EXPECT_EQ(RunEffect("BlurFilter 0.049 -0.049 5 0", {&picture}, 40, 30).output, picture);
    // The vertical radius scales by the width too.
    Frame tall = PictureFrame(4, 30, 2);
    EXPECT_NE(RunEffect("BlurFilter 0 0.5 0 1", {&tall}, 4, 30).output, tall);
}

TEST(BlurFilterTest, EdgeModesAtTheBorders) {
    // A white row of 5: repeating keeps it white, black outside darkens the
    // ends (alpha too), reflection keeps it white.
    Frame white = FilledFrame(5, 1, 0xFFFFFFFF);
    EXPECT_EQ(RunEffect("BlurFilter 0.4 0 0 1", {&white}, 5, 1).output, white);
    EXPECT_EQ(RunEffect("BlurFilter 0.4 0 0 2", {&white}, 5, 1).output, white);
    const Frame dark = RunEffect("BlurFilter 0.4 0 0 0", {&white}, 5, 1).output;
    // Radius 1 pixel: the ends see two of three pixels: 170.
    EXPECT_EQ(dark, (Frame{0xAAAAAAAA, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xAAAAAAAA}));
    EXPECT_EQ(RunEffect("BlurFilter 0.4 0 0 7", {&white}, 5, 1).output, dark);

    // Reflection without repeating the end: 0, 30, 90 with a 1-pixel box reads
    // 30 left of 0 and 30 right of 90.
    Frame row{Red(0), Red(30), Red(90)};
    EXPECT_EQ(RunEffect("BlurFilter 0.7 0 0 2", {&row}, 3, 1).output,
              (Frame{Red(20), Red(40), Red(50)}));
    EXPECT_EQ(RunEffect("BlurFilter 0.7 0 0 1", {&row}, 3, 1).output,
              (Frame{Red(10), Red(40), Red(70)}));

    // Tiny frames under every mode and a window far longer than the line:
    // reflection and repetition of a single pixel give the pixel back.
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 7}, std::pair{7, 1}, std::pair{2, 2}}) {
        Frame flat = FilledFrame(w, h, PackPixel(10, 20, 30, 40));
        for (int edge : {1, 2}) {
            for (const char *blur : {"BlurFilter 900 900 %d %d", "BlurMotionFilter 900 45 %d %d"}) {
                for (int filter = 0; filter < 6; ++filter) {
                    char command[64];
                    std::snprintf(command, sizeof command, blur, filter, edge);
                    EXPECT_EQ(RunEffect(command, {&flat}, w, h).output, flat)
                        << command << " " << w << "x" << h;
                }
            }
        }
        // Black outside: a huge box over a 1-pixel line keeps 1/511 of it.
        const Frame dim = RunEffect("BlurFilter 900 0 0 0", {&flat}, w, h).output;
        for (uint32_t p : dim)
            EXPECT_EQ(p, w == 1 ? 0u : dim[0]) << w << "x" << h;
    }
}

TEST(BlurMotionFilterTest, DirectionOfTheWindow) {
    // A dot at x = 10 of a 21 x 1 row; 0.4 of half the width is 4.2 pixels:
    // five taps. At angle 0 the window runs right, so the dot spreads left.
    Frame dot(21, 0u);
    dot[10] = Red(250);
    const Frame right = RunEffect("BlurMotionFilter 0.4 0 0 1", {&dot}, 21, 1).output;
    const Frame left = RunEffect("BlurMotionFilter 0.4 180 0 1", {&dot}, 21, 1).output;
    for (int32_t x = 0; x < 21; ++x) {
        EXPECT_EQ(right[x], x >= 6 && x <= 10 ? Red(50) : 0u) << x;
        EXPECT_EQ(left[x], x >= 10 && x <= 14 ? Red(50) : 0u) << x;
    }
    // Angle 0 smears only across: rows stay apart. Angle 90 only down.
    Frame bars(9 * 9);
    for (int32_t i = 0; i < 81; ++i)
        bars[i] = Red(i / 9 * 20);  // constant along each row
    EXPECT_EQ(RunEffect("BlurMotionFilter 0.8 0 1 1", {&bars}, 9, 9).output, bars);
    Frame stripes(9 * 9);
    for (int32_t i = 0; i < 81; ++i)
        stripes[i] = Red(i % 9 * 20);  // constant down each column
    EXPECT_EQ(RunEffect("BlurMotionFilter 0.8 90 1 1", {&stripes}, 9, 9).output, stripes);
    // An infinite extent is capped like any other.
    Frame noise = NoiseFrame(300, 2, 3);
    EXPECT_EQ(RunEffect("BlurMotionFilter 99999999999999999999999 0 1 2", {&noise}, 300, 2).output,
              RunEffect("BlurMotionFilter 2 0 1 2", {&noise}, 300, 2).output);
}

TEST(BlurFilterTest, InvalidFilterIndexLeavesTheOutputUntouched) {
    Frame picture = PictureFrame(6, 4, 1);
    for (const char *command : {"BlurFilter 0.5 0.5 6 1", "BlurMotionFilter 0.5 10 -1 1"}) {
        DiagCapture diag;
        RunResult run = RunEffect(command, {&picture}, 6, 4);
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.output, Frame(24, kFill)) << command;
        ASSERT_FALSE(diag.Lines().empty());
        EXPECT_EQ(diag.Lines()[0], std::string(command).substr(0, command[4] == 'M' ? 16 : 10) +
                                       ":  Invalid Filter Type");
    }
}

struct Recorder {
    std::vector<MonitorInfo> reports;
    int stopAfter = -1;
};

int Record(MonitorInfo *info, void *userData) {
    auto *r = static_cast<Recorder *>(userData);
    r->reports.push_back(*info);
    return static_cast<int>(r->reports.size()) - 1 == r->stopAfter ? 0 : 1;
}

TEST(BlurDriver, ThreePassesOfProgressAndStops) {
    const int32_t w = 7, h = 5;
    Frame picture = NoiseFrame(w, h, 2);
    const Frame full = RunEffect("BlurFilter 0.5 0.5 1 1", {&picture}, w, h).output;
    Recorder all;
    MonitorHook hook{Record, &all};
    EXPECT_EQ(RunEffect("BlurFilter 0.5 0.5 1 1", {&picture}, w, h, 0, 0, kFill, &hook).result, 0);
    ASSERT_EQ(all.reports.size(), static_cast<size_t>(w + 2 * h));
    for (int32_t i = 0; i < w + 2 * h; ++i) {
        EXPECT_EQ(all.reports[i].effectId, 4);
        EXPECT_EQ(all.reports[i].totalRows, w + 2 * h);
        EXPECT_EQ(all.reports[i].currentRow, i);
    }
    // Stopped in the first or second pass: nothing written.
    for (int stop : {0, h - 1, h, h + w - 1}) {
        Recorder r{{}, stop};
        hook.userData = &r;
        RunResult run = RunEffect("BlurFilter 0.5 0.5 1 1", {&picture}, w, h, 0, 0, kFill, &hook);
        EXPECT_EQ(run.result, -3);
        EXPECT_EQ(run.output, Frame(w * h, kFill)) << stop;
    }
    // Stopped in the third pass after two rows: those rows are written.
    Recorder r{{}, h + w + 1};
    hook.userData = &r;
    RunResult run = RunEffect("BlurMotionFilter 0.5 30 1 1", {&picture}, w, h, 0, 0, kFill, &hook);
    EXPECT_EQ(run.result, -3);
    const Frame motion = RunEffect("BlurMotionFilter 0.5 30 1 1", {&picture}, w, h).output;
    for (int32_t i = 0; i < w * h; ++i)
        EXPECT_EQ(run.output[i], i < 2 * w ? motion[i] : kFill) << i;

    // In place gives the separate output.
    Frame copy = picture;
    uint32_t *inputs[] = {copy.data(), nullptr};
    EXPECT_EQ(KVE_EffectBySize("BlurFilter 0.5 0.5 1 1", inputs, w, h, copy.data(), 0, 0, nullptr),
              0);
    EXPECT_EQ(copy, full);
}

TEST(BlurLines, FastLineMatchesTheReferenceOnEveryWidth) {
    struct Case {
        int filter;
        double extent;
        bool symmetric;
    };
    const Case cases[] = {{0, 0.5, true},   {0, 1, true},    {0, 3.7, true},   {0, 3, true},
                          {0, 255, true},   {0, 40.2, true}, {1, 5.5, true},   {4, 9, true},
                          {5, 2, true},     {0, 4, false},   {2, -6.3, false}, {3, 255, false},
                          {1, -255, false}, {0, 127, true},  {0, 128, true}};
    std::vector<double> work(BlurWorkDoubles(255));
    const std::vector<CpuLevel> levels = LevelsToTest();
    for (const Case &c : cases) {
        for (int edge : {0, 1, 2}) {
            BlurLine line{};
            BuildBlurLine(line, c.filter, c.extent, c.symmetric, edge);
            for (int32_t n = 1; n < 256; ++n) {
                // Two interleaved lines, so a stride of 2 reads one of them.
                Frame src = NoiseFrame(2 * n, 1, static_cast<uint32_t>(n));
                for (int32_t x = 0; x < 2 * n; x += 4)
                    src[x] = x % 8 ? 0xFFFFFFFF : 0;
                // Long white runs: the largest sums a box of 255 pixels takes.
                for (int32_t x = 0; x < 2 * n; ++x)
                    if (x % 192 < 80) src[x] = 0xFFFFFFFF;
                for (size_t stride : {size_t{1}, size_t{2}}) {
                    Frame expect(n * stride + 4, kGuard);
                    BlurLineReference(line, src.data(), stride, n, expect.data(), stride);
                    for (const CpuLevel level : levels) {
                        Frame got(n * stride + 4, kGuard);
                        FilterRowSets().For(level).blurLine(line, src.data(), stride, n, got.data(),
                                                            stride, work.data());
                        ASSERT_EQ(got, expect)
                            << CpuLevelName(level) << " filter " << c.filter << " extent "
                            << c.extent << " edge " << edge << " width " << n;
                    }
                }
            }
        }
    }
}

using BlurColumnsRow = decltype(FilterRows::blurColumns);

// The column pass of a w x h frame at one level against the reference's
// columns, rows asked for in order in uneven chunks, then again out of order.
void ExpectColumnPassMatches(BlurColumnsRow columns, const BlurLine &line, int32_t w, int32_t h) {
    Frame a = NoiseFrame(w, h, static_cast<uint32_t>(w * 131 + h));
    for (int32_t i = 0; i < w * h; i += 3)
        a[i] = i % 2 ? 0xFFFFFFFF : 0;
    Frame expect(w * h + 4, kGuard);
    for (int32_t x = 0; x < w; ++x)
        BlurLineReference(line, a.data() + x, w, h, expect.data() + x, w);
    std::vector<double> doubles(BlurColumnsLineDoubles());
    std::vector<int32_t> sums(static_cast<size_t>(w) * 4);
    Frame zeros(w);
    const BlurWork work{doubles.data(), sums.data(), zeros.data()};
    Frame got(w * h + 4, kGuard);
    int32_t sumsRow = -1;
    for (int32_t y = 0, step = 1; y < h; y += step, step = step % 3 + 1)
        columns(line, a.data(), w, h, y, std::min(h, y + step), got.data() + y * w, sumsRow, work);
    ASSERT_EQ(got, expect) << "size " << w << "x" << h;
    Frame again(w * h + 4, kGuard);
    for (int32_t y = h - 1; y >= 0; --y)
        columns(line, a.data(), w, h, y, y + 1, again.data() + y * w, sumsRow, work);
    ASSERT_EQ(again, expect) << "backwards, size " << w << "x" << h;
}

TEST(BlurLines, ColumnPassAcrossRowsMatchesTheReferenceColumns) {
    struct Case {
        int filter;
        double extent;
        bool symmetric;
    };
    const Case cases[] = {{0, 0.5, true}, {0, 1, true},     {0, 3.7, true},
                          {0, 255, true}, {1, 5.5, true},   {4, 9, true},
                          {0, 4, false},  {2, -6.3, false}, {3, 300, false}};
    for (const CpuLevel level : LevelsToTest()) {
        const BlurColumnsRow columns = FilterRowSets().For(level).blurColumns;
        for (const Case &c : cases) {
            for (int edge : {0, 1, 2}) {
                BlurLine line{};
                BuildBlurLine(line, c.filter, c.extent, c.symmetric, edge);
                for (int32_t w : {1, 2, 3, 17, 255, 300})
                    for (int32_t h : {1, 2, 5, 40}) {
                        SCOPED_TRACE(testing::Message()
                                     << CpuLevelName(level) << " filter " << c.filter << " extent "
                                     << c.extent << " edge " << edge);
                        ExpectColumnPassMatches(columns, line, w, h);
                    }
            }
        }
    }
}

// The box's rows run several pixels at a time with the rest one by one: every
// width up to 255 at every level.
TEST(BlurLines, BoxColumnPassAtEveryWidth) {
    for (const CpuLevel level : LevelsToTest()) {
        const BlurColumnsRow columns = FilterRowSets().For(level).blurColumns;
        for (int edge : {0, 1, 2}) {
            BlurLine line{};
            BuildBlurLine(line, 0, 3, true, edge);
            ASSERT_GT(line.boxRadius, 0);
            for (int32_t w = 1; w < 256; ++w)
                for (int32_t h : {1, 9}) {
                    SCOPED_TRACE(testing::Message() << CpuLevelName(level) << " edge " << edge);
                    ExpectColumnPassMatches(columns, line, w, h);
                }
        }
    }
}

TEST(BlurFilterTest, GoldenFrames) {
    GoldenFile golden("filters.txt");
    for (const CpuLevel level : LevelsToTest()) {
        const CpuLevelCap cap(level);
        Frame picture = PictureFrame(131, 37, 1);
        for (const char *command : {
                 "BlurFilter 0.04 0.02 2 1",
                 "BlurFilter 0.1 0 0 0",
                 "BlurFilter 0.05 0.3 1 2",
                 "BlurFilter 0.08 0.08 4 1",
                 "BlurFilter 0.06 0.06 5 2",
                 "BlurFilter 0.03 0.07 3 0",
                 "BlurMotionFilter 0.12 30 0 1",
                 "BlurMotionFilter 0.2 200 1 2",
                 "BlurMotionFilter 0.15 -100 3 0",
             }) {
            const std::string sum = Checksum(RunEffect(command, {&picture}, 131, 37).output);
            EXPECT_EQ(sum, golden.Expect(GoldenKey(command), sum)) << command;
        }
    }
}

}  // namespace
}  // namespace kve::test
