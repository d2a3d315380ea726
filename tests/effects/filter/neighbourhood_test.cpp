// Neighbourhood kernels: the kernel table, worked values of Convolve, Edge,
// Sharpen and Emboss, the driver's in-place output and progress, the integer
// row against the reference on every width, and golden frames.
#include <gtest/gtest.h>

#include <algorithm>
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

Kernel3x3 Rows(std::array<double, 9> k) {
    return k;
}

TEST(KernelTable, RotatingAndFixedEntries) {
    EXPECT_EQ(SelectKernel3x3(3, 0), Rows({1, 0, -1, 2, 0, -2, 1, 0, -1}));
    // A quarter turn.
    EXPECT_EQ(SelectKernel3x3(3, 2), Rows({-1, -2, -1, 0, 0, 0, 1, 2, 1}));
    EXPECT_EQ(SelectKernel3x3(0, 0), Rows({1, 1, -1, 1, -2, -1, 1, 1, -1}));
    EXPECT_EQ(SelectKernel3x3(2, 0), Rows({1, 0, -1, 1, 0, -1, 1, 0, -1}));
    // Directions wrap: 8 is 0, 9 is 1, -1 is 7, and the int32 extremes land on the ring.
    for (int32_t type : {0, 2, 3, 1}) {
        EXPECT_EQ(SelectKernel3x3(type, 8), SelectKernel3x3(type, 0));
        EXPECT_EQ(SelectKernel3x3(type, 9), SelectKernel3x3(type, 1));
        EXPECT_EQ(SelectKernel3x3(type, -1), SelectKernel3x3(type, 7));
        EXPECT_EQ(SelectKernel3x3(type, INT32_MIN), SelectKernel3x3(type, 0));
        EXPECT_EQ(SelectKernel3x3(type, INT32_MAX), SelectKernel3x3(type, 7));
    }
    // Types without a row fall back to the last rotating row.
    const Kernel3x3 fallback = Rows({5, -3, -3, 5, 0, -3, 5, -3, -3});
    for (int32_t type : {1, 7, 10, 20, 99, 103, -5, INT32_MIN})
        EXPECT_EQ(SelectKernel3x3(type, 0), fallback) << type;
    // Fixed rows ignore the direction.
    EXPECT_EQ(SelectKernel3x3(100, 5), Rows({0, 0, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(SelectKernel3x3(13, 3),
              Rows({1.0 / 6, 0, -1.0 / 6, 1.0 / 6, 0, -1.0 / 6, 1.0 / 6, 0, -1.0 / 6}));
    EXPECT_EQ(SelectKernel3x3(4, 1), SelectKernel3x3(4, 6));
}

TEST(EdgeTest, IdentityFlatAndTurnedKernels) {
    Frame picture = PictureFrame(23, 9, 1);
    EXPECT_EQ(RunEffect("Edge 100 3 0", {&picture}, 23, 9).output, picture);
    // Type 2's taps sum to 0: a flat frame becomes 0 in every channel, alpha too.
    Frame flat = FilledFrame(5, 4, PackPixel(200, 10, 20, 30));
    EXPECT_EQ(RunEffect("Edge 2 0 0", {&flat}, 5, 4).output, Frame(20, 0u));
    // A horizontal step (rows 0-1 at 10, rows 2-3 at 50) under type 3 at
    // direction 2: -1 -2 -1 / 0 0 0 / 1 2 1 gives 4 * 40 = 160 on the rows
    // next to the step, 0 elsewhere (the edge rows repeat).
    Frame step(12);
    for (int i = 0; i < 12; ++i)
        step[i] = PackPixel(0, i < 6 ? 10 : 50, 0, 0);
    const Frame out = RunEffect("Edge 3 2 0", {&step}, 3, 4).output;
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(out[i], PackPixel(0, (i / 3 == 1 || i / 3 == 2) ? 160 : 0, 0, 0)) << i;
    EXPECT_EQ(RunEffect("Edge 3 10 0", {&step}, 3, 4).output, out);
    EXPECT_EQ(RunEffect("Edge 3 -6 0", {&step}, 3, 4).output, out);
}

TEST(SharpenTest, BuildsItsKernelFromFourNumbers) {
    Frame picture = PictureFrame(31, 17, 2);
    EXPECT_EQ(RunEffect("Sharpen 0 0 0 1", {&picture}, 31, 17).output, picture);
    EXPECT_EQ(
        RunEffect("Sharpen 1 0 0.5 1", {&picture}, 31, 17).output,
        RunEffect("Convolve 3 3 0 0 -1 0 -1 5 -1 0 -1 0 0 0 0 0 0 0 0", {&picture}, 31, 17).output);
    // A centre factor of 1 keeps flat areas whatever the rest.
    Frame flat = FilledFrame(4, 4, PackPixel(90, 100, 110, 120));
    EXPECT_EQ(RunEffect("Sharpen 0.7 0.3 0.2 1", {&flat}, 4, 4).output, flat);
}

TEST(ConvolveTest, MeansSumsAndTheSizeCheck) {
    // One row: 0, 30, 60 red. The 3 x 3 mean with repeated edges: column 0
    // sees 0, 0, 30 three times: 10.
    Frame row{PackPixel(9, 0, 0, 0), PackPixel(9, 30, 0, 0), PackPixel(9, 60, 0, 0)};
    const char *mean = "Convolve 3 3 1 1 1 1 1 1 1 1 1 1 0 0 0 0 0 0 0";
    EXPECT_EQ(RunEffect(mean, {&row}, 3, 1).output,
              (Frame{PackPixel(9, 10, 0, 0), PackPixel(9, 30, 0, 0), PackPixel(9, 50, 0, 0)}));
    // Without normalising the nine pixels are summed and saturate.
    const char *sum = "Convolve 3 3 0 1 1 1 1 1 1 1 1 1 0 0 0 0 0 0 0";
    EXPECT_EQ(RunEffect(sum, {&row}, 3, 1).output,
              (Frame{PackPixel(81, 90, 0, 0), PackPixel(81, 255, 0, 0), PackPixel(81, 255, 0, 0)}));
    // A 1 x 3 vertical mean on the first row weights the first row twice.
    Frame column{PackPixel(0, 0, 0, 0), PackPixel(0, 90, 0, 0), PackPixel(0, 30, 0, 0)};
    EXPECT_EQ(RunEffect("Convolve 1 3 1 1 1 1 0 0 0 0 0 0 0 0 0 0 0 0 0", {&column}, 1, 3).output,
              (Frame{PackPixel(0, 30, 0, 0), PackPixel(0, 40, 0, 0), PackPixel(0, 50, 0, 0)}));
    // Even sizes reach one further up and left: a 2 x 1 kernel 1 0 copies the left neighbour.
    EXPECT_EQ(RunEffect("Convolve 2 1 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0", {&row}, 3, 1).output,
              (Frame{row[0], row[0], row[1]}));
    // Halves round away from zero: 0.5 * 1 is 1, -0.5 * 1 is -1 (clamped to 0).
    Frame one = FilledFrame(1, 1, PackPixel(1, 1, 1, 1));
    EXPECT_EQ(RunEffect("Convolve 1 1 0 0.5 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0", {&one}, 1, 1).output,
              one);

    // Sizes out of range: the diagnostic once, nothing written, result 0.
    Frame picture = PictureFrame(9, 6, 3);
    for (const char *size : {"4 5", "0 3", "-4 -4", "-1 5", "65536 65536", "17 1", "1 17"}) {
        DiagCapture diag;
        const std::string command =
            std::string("Convolve ") + size + " 0 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1";
        RunResult run = RunEffect(command, {&picture}, 9, 6);
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.output, Frame(54, kFill)) << size;
        EXPECT_EQ(diag.Lines(),
                  std::vector<std::string>{"<Convolve> width*height out of allowed range [1..16]"})
            << size;
    }
    // Huge taps saturate instead of overflowing.
    Frame bright = FilledFrame(3, 3, PackPixel(1, 2, 3, 4));
    EXPECT_EQ(RunEffect("Convolve 1 1 0 99999999999999999999999 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0",
                        {&bright}, 3, 3)
                  .output,
              FilledFrame(3, 3, 0xFFFFFFFF));
    EXPECT_EQ(RunEffect("Convolve 1 1 0 -99999999999999999999999 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0",
                        {&bright}, 3, 3)
                  .output,
              Frame(9, 0u));
}

TEST(EmbossTest, ColourAndGrey) {
    // Colour: (1 - r) K1 - r K2 on a flat frame is 0 for a rotating type
    // (its taps sum to 0), lifted by 255 r = 127.5 and truncated; alpha 0.
    Frame flat = FilledFrame(4, 3, PackPixel(200, 40, 80, 120));
    EXPECT_EQ(RunEffect("Emboss 0.5 2 1 1", {&flat}, 4, 3).output,
              FilledFrame(4, 3, PackRGB(127, 127, 127)));
    // Grey with r = 0 through the identity: the luma in all four bytes.
    Frame picture = PictureFrame(13, 7, 4);
    const Frame grey = RunEffect("Emboss 0 100 0 0", {&picture}, 13, 7).output;
    for (size_t i = 0; i < picture.size(); ++i) {
        const uint32_t p = picture[i];
        const uint32_t l = (19595u * RedOf(p) + 38470u * GreenOf(p) + 7471u * BlueOf(p)) >> 16;
        ASSERT_EQ(grey[i], l * 0x01010101u) << i;
    }
    // Huge levels saturate: 255 r is infinite.
    const Frame huge = RunEffect("Emboss 99999999999999999999 3 0 1", {&picture}, 13, 7).output;
    EXPECT_EQ(huge.size(), picture.size());
}

// Every effect of the driver, with a kernel reaching eight rows up.
const char *const kDriverCommands[] = {
    "Convolve 1 16 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0",
    "Convolve 4 4 1 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16",
    "Edge 0 1 0",
    "Emboss 0.3 3 5 0",
    "Emboss 0.7 0 2 1",
    "Sharpen 1 0.5 0.5 1",
    "Sharpen 0.35 0.2 0.6 1.1",
    "Median3x3",
    "MedianX5",
    "Outlier3x3 0.05 0",
    "OutlierX5 0.02 0",
};

TEST(NeighbourhoodDriver, InPlaceOutputGivesTheSeparateOutput) {
    for (const char *command : kDriverCommands) {
        for (auto [w, h] : {std::pair{37, 29}, std::pair{1, 1}, std::pair{1, 11}, std::pair{11, 1},
                            std::pair{2, 2}}) {
            Frame picture = NoiseFrame(w, h, 5);
            const Frame expected = RunEffect(command, {&picture}, w, h).output;
            uint32_t *inputs[] = {picture.data(), nullptr};
            EXPECT_EQ(KVE_EffectBySize(command, inputs, w, h, picture.data(), 0, 0, nullptr), 0);
            EXPECT_EQ(picture, expected) << command << " " << w << "x" << h;
        }
    }
}

TEST(NeighbourhoodDriver, OutputOverlappingTheInputReadsTheOriginal) {
    // The output frame starts two rows into the input, or the input starts
    // three rows into the output: the input is read as it was.
    const int32_t w = 13, h = 11;
    for (const char *command :
         {"Convolve 1 16 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0", "MedianX5", "Emboss 0.5 3 1 0"}) {
        Frame picture = NoiseFrame(w, h, 8);
        const Frame expected = RunEffect(command, {&picture}, w, h).output;
        Frame later(static_cast<size_t>(w) * (h + 2));
        std::copy(picture.begin(), picture.end(), later.begin());
        uint32_t *inputs[] = {later.data(), nullptr};
        KVE_EffectBySize(command, inputs, w, h, later.data() + 2 * w, 0, 0, nullptr);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), later.begin() + 2 * w)) << command;
        Frame earlier(static_cast<size_t>(w) * (h + 3));
        std::copy(picture.begin(), picture.end(), earlier.begin() + 3 * w);
        inputs[0] = earlier.data() + 3 * w;
        KVE_EffectBySize(command, inputs, w, h, earlier.data(), 0, 0, nullptr);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), earlier.begin())) << command;
    }
}

struct StopRecorder {
    std::vector<MonitorInfo> reports;
    int stopAfter = -1;
};

int Record(MonitorInfo *info, void *userData) {
    auto *r = static_cast<StopRecorder *>(userData);
    r->reports.push_back(*info);
    return static_cast<int>(r->reports.size()) - 1 == r->stopAfter ? 0 : 1;
}

TEST(NeighbourhoodDriver, ReportsRowsAndStopsInPlaceAsSeparately) {
    const int32_t w = 17, h = 23;
    Frame picture = NoiseFrame(w, h, 6);
    StopRecorder all;
    MonitorHook hook{Record, &all};
    EXPECT_EQ(RunEffect("Median3x3", {&picture}, w, h, 0, 0, kFill, &hook).result, 0);
    ASSERT_EQ(all.reports.size(), static_cast<size_t>(h));
    for (int32_t y = 0; y < h; ++y) {
        EXPECT_EQ(all.reports[y].effectId, 25);
        EXPECT_EQ(all.reports[y].totalRows, h);
        EXPECT_EQ(all.reports[y].currentRow, y);
    }
    for (const char *command : kDriverCommands) {
        for (int stop : {0, 3, 12, 22}) {
            StopRecorder separate{{}, stop};
            hook.userData = &separate;
            Frame copy = picture;
            RunResult run = RunEffect(command, {&copy}, w, h, 0, 0, kFill, &hook);
            EXPECT_EQ(run.result, -3);
            // The stopped rows are untouched.
            for (size_t i = static_cast<size_t>(stop + 1) * w; i < run.output.size(); ++i)
                ASSERT_EQ(run.output[i], kFill) << command;
            StopRecorder inPlace{{}, stop};
            hook.userData = &inPlace;
            uint32_t *inputs[] = {copy.data(), nullptr};
            KVE_EffectBySize(command, inputs, w, h, copy.data(), 0, 0, &hook);
            for (size_t i = 0; i < static_cast<size_t>(stop + 1) * w; ++i)
                ASSERT_EQ(copy[i], run.output[i]) << command << " stop " << stop;
            for (size_t i = static_cast<size_t>(stop + 1) * w; i < copy.size(); ++i)
                ASSERT_EQ(copy[i], picture[i]) << command << " stop " << stop;
        }
    }
}

TEST(NeighbourhoodKernels, EveryLevelMatchesTheReferenceOnEveryWidth) {
    const double t = 1.0 / 3, e = 1.0 / 256;
    struct Case {
        std::vector<double> taps;
        int32_t kw, kh;
        int32_t shift;  // expected fixed-point shift, -1 for doubles
    };
    const std::vector<Case> cases = {
        {{1, 0, -1, 2, 0, -2, 1, 0, -1}, 3, 3, 0},
        {{5, -3, -3, 5, 0, -3, 5, -3, -3}, 3, 3, 0},
        {{0, 0, 0, 0, 1, 0, 0, 0, 0}, 3, 3, 0},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, -8}, 4, 4, 0},
        {{-8, 8, -8, 8, -8, 8, -8, 8, -8, 8, -8, 8, -8, 8, -8, 8}, 16, 1, 0},
        {{1, -1, 1, -1, 1, -1, 1, -1, 1, -1, 1, -1, 1, -1, 1, -1}, 1, 16, 0},
        {{100, -28}, 2, 1, 0},
        // Halves round away from zero: 0.5 and 0.25 taps give exact halves.
        {{-0.25, 0.125, -0.25, 0.125, 0.5, 0.125, -0.25, 0.125, -0.25}, 3, 3, 3},
        {{-0.5, -1, -0.5, -1, 7, -1, -0.5, -1, -0.5}, 3, 3, 1},
        {{0.5, 0.5}, 1, 2, 1},
        {std::vector<double>(16, 1.0 / 16), 4, 4, 4},
        {{e, 0.25 - e, 0.125}, 3, 1, 8},
        // Thirds and large or huge taps take the double row.
        {{t, t, t}, 3, 1, -1},
        {{0, t, 0, 0, t, 0, 0, t, 0}, 3, 3, -1},
        {{129, -1}, 2, 1, -1},
        {{64, 64, 1}, 3, 1, -1},
        {{0.3, -0.7, 1.45, 0.1, 0.05, -0.2}, 3, 2, -1},
        {{1e300, -1e300, 2}, 1, 3, -1},
        {{0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1, 1.1, 1.2, 1.3, 1.4, 1.5, 1.6}, 16, 1, -1},
        {{0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1, 1.1, 1.2, 1.3, 1.4, 1.5, 1.6}, 1, 16, -1},
        {{0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1, 1.1, 1.2, 1.3, 1.4, 1.5, 1.6}, 2, 8, -1},
    };
    const std::vector<CpuLevel> levels = LevelsToTest();
    for (size_t c = 0; c < cases.size(); ++c) {
        const KernelWindow k{cases[c].taps.data(), cases[c].kw, cases[c].kh};
        const int32_t shift = KernelFixedPointShift(k);
        ASSERT_EQ(shift, cases[c].shift) << c;
        for (int32_t n = 1; n < 256; ++n) {
            const int32_t h = 5;
            Frame frame = NoiseFrame(n, h, static_cast<uint32_t>(n + 7 * c));
            for (int32_t i = 0; i < n * h; i += 3)
                frame[i] = i % 2 ? 0xFFFFFFFF : 0;
            std::vector<double> rows(KernelCacheDoubles(n));
            int32_t tags[kKernelCacheRows] = {};
            KernelRowCache cache{rows.data(), tags};
            for (int32_t y = 0; y < h; ++y) {
                Frame expect(n + 4, kGuard);
                KernelRowReference(k, frame.data(), n, h, y, expect.data());
                for (const CpuLevel level : levels) {
                    const FilterRows &rows = FilterRowSets().For(level);
                    Frame doubles(n + 4, kGuard), fixed(n + 4, kGuard);
                    rows.kernelDoubles(k, frame.data(), n, h, y, doubles.data(), cache);
                    ASSERT_EQ(doubles, expect)
                        << CpuLevelName(level) << " kernel " << c << " width " << n << " row " << y;
                    if (shift < 0) continue;
                    rows.kernelFixedPoint(k, shift, frame.data(), n, h, y, fixed.data());
                    ASSERT_EQ(fixed, expect) << CpuLevelName(level) << " fixed kernel " << c
                                             << " width " << n << " row " << y;
                }
            }
        }
    }
}

TEST(EmbossTest, EveryLevelMatchesTheReferenceOnEveryWidth) {
    const std::vector<CpuLevel> levels = LevelsToTest();
    for (auto [type, direction] :
         {std::pair{3, 1}, std::pair{0, 6}, std::pair{13, 0}, std::pair{100, 0}}) {
        for (double r : {0.0, 0.25, 0.5, 0.9, -3.0, 1e300}) {
            const Kernel3x3 k1 = SelectKernel3x3(type, direction);
            const Kernel3x3 k2 = SelectKernel3x3(type, (direction + 4) % 8);
            Kernel3x3 w1, w2;
            for (int i = 0; i < 9; ++i) {
                w1[i] = k1[i] * (1 - r);
                w2[i] = k2[i] * r;
            }
            for (bool colour : {false, true}) {
                const EmbossKernels e{w1.data(), w2.data(), r, colour};
                for (int32_t n = 1; n < 256; ++n) {
                    const int32_t h = 4;
                    Frame frame = NoiseFrame(n, h, static_cast<uint32_t>(n));
                    std::vector<double> rows(KernelCacheDoubles(n));
                    int32_t tags[kKernelCacheRows] = {};
                    KernelRowCache cache{rows.data(), tags};
                    for (int32_t y = 0; y < h; ++y) {
                        Frame expect(n + 4, kGuard);
                        EmbossRowReference(e, frame.data(), n, h, y, expect.data());
                        for (const CpuLevel level : levels) {
                            Frame got(n + 4, kGuard);
                            FilterRowSets().For(level).emboss(e, frame.data(), n, h, y, got.data(),
                                                              cache);
                            ASSERT_EQ(got, expect) << CpuLevelName(level) << " type " << type
                                                   << " r " << r << " width " << n;
                        }
                    }
                }
            }
        }
    }
}

TEST(NeighbourhoodKernels, GoldenFrames) {
    GoldenFile golden("filters.txt");
    for (const CpuLevel level : LevelsToTest()) {
        const CpuLevelCap cap(level);
        Frame picture = PictureFrame(131, 37, 1);
        for (const char *command : {
                 "Convolve 3 3 1 1 2 1 2 4 2 1 2 1 0 0 0 0 0 0 0",
                 "Convolve 4 4 1 1 2 2 1 2 4 4 2 2 4 4 2 1 2 2 1",
                 "Convolve 5 3 0 0 0 -1 0 0 0 -1 5 -1 0 0 0 -1 0 0 0",
                 "Edge 0 1 0",
                 "Edge 3 2 0",
                 "Edge 4 0 0",
                 "Edge 19 0 0",
                 "Edge 7 5 0",
                 "Sharpen 1 0.5 0.5 1",
                 "Sharpen 2 0 0.3 1.2",
                 "Emboss 0.5 3 1 0",
                 "Emboss 0.5 0 3 1",
                 "Emboss 0.25 13 0 1",
             }) {
            const std::string sum = Checksum(RunEffect(command, {&picture}, 131, 37).output);
            EXPECT_EQ(sum, golden.Expect(GoldenKey(command), sum)) << command;
        }
    }
}

}  // namespace
}  // namespace kve::test
