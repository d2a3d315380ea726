// Colour fills through command texts: Color1 and Color4 at the size they name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "effects/colour/colour_ops.h"
#include "interface/pixel.h"
#include "support/cpu_levels.h"
#include "support/frames.h"

namespace kve::test {
namespace {

constexpr uint32_t kMarker = 0xDEADBEEF;

// Runs a fill into a host frame of `capacity` words, with no input frames.
Frame Fill(const std::string &command, int32_t capacity) {
    return RunEffect(command, {}, capacity, 1).output;
}

// Reds of a frame's words, row after row.
std::vector<int32_t> Reds(const Frame &frame, size_t count) {
    std::vector<int32_t> reds;
    for (size_t i = 0; i < count; ++i)
        reds.push_back(RedOf(frame[i]));
    return reds;
}

TEST(Color1Test, FillsTheNamedSizeOnly) {
    const uint32_t colour = PackPixel(255, 10, 20, 30);
    Frame expected(8, colour);
    expected.resize(12, kMarker);
    EXPECT_EQ(Fill("Color1 (argb) [4 2] [(argb) 255 10 20 30]", 12), expected);
    // Components are clamped by the colour parser; the word is written as is.
    EXPECT_EQ(Fill("Color1 (argb) [1 1] [(argb) 300 -4 12.7 255]", 1),
              Frame{PackPixel(255, 0, 12, 255)});
}

TEST(Color1Test, EmptyOrNegativeSizeDrawsNothing) {
    for (const char *size : {"[0 3]", "[3 0]", "[-4 2]", "[2 -4]", "[-1 -1]"}) {
        DiagCapture diag;
        EXPECT_EQ(Fill(std::string("Color1 (argb) ") + size + " [(argb) 1 2 3 4]", 6),
                  Frame(6, kMarker))
            << size;
        EXPECT_TRUE(diag.Lines().empty()) << size;
    }
}

TEST(Color1Test, SizeBeyondTheAddressableIsRefused) {
    // (2^31 - 1)^2 pixels of 4 bytes exceed what a pointer difference spans;
    // the size must be refused, never wrapped into a small count.
    for (const char *command : {"Color1 (argb) [2147483647 2147483647] [(argb) 1 2 3 4]",
                                "Color1 (argb) [99999999999 99999999999] [(argb) 1 2 3 4]",
                                "Color4 (argb) [2147483647 2147483647] [(argb) 1 2 3 4] "
                                "[(argb) 1 2 3 4] [(argb) 1 2 3 4] [(argb) 1 2 3 4]"}) {
        DiagCapture diag;
        const auto run = RunEffect(command, {}, 6, 1);
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.output, Frame(6, kMarker)) << command;
        ASSERT_EQ(diag.Lines().size(), 1u) << command;
        EXPECT_NE(diag.Lines()[0].find("too large"), std::string::npos) << diag.Lines()[0];
    }
}

TEST(Color1Test, RefusedFormatDrawsNothing) {
    DiagCapture diag;
    EXPECT_EQ(Fill("Color1 (ARGB) [2 1] [(argb) 1 2 3 4]", 2), Frame(2, kMarker));
    EXPECT_EQ(diag.Lines().size(), 1u);
}

TEST(Color4Test, EqualCornersGiveAFlatFrame) {
    const uint32_t c = PackPixel(17, 200, 3, 99);
    EXPECT_EQ(Fill("Color4 (argb) [7 5] [(argb) 17 200 3 99] [(argb) 17 200 3 99] "
                   "[(argb) 17 200 3 99] [(argb) 17 200 3 99]",
                   35),
              Frame(35, c));
}

TEST(Color4Test, RowsStopOneStepShortOfTheRightColour) {
    // Top-left red 0, top-right red 255, bottoms equal to the tops.
    const Frame out = Fill(
        "Color4 (argb) [4 2] [(argb) 0 0 0 0] [(argb) 0 255 0 0] "
        "[(argb) 0 0 0 0] [(argb) 0 255 0 0]",
        8);
    EXPECT_EQ(Reds(out, 8), (std::vector<int32_t>{0, 63, 127, 191, 0, 63, 127, 191}));
    for (uint32_t word : out)
        EXPECT_EQ(word & ~0xFF00u, 0u);
}

TEST(Color4Test, ColumnsStopOneStepShortOfTheBottomColour) {
    // One column, top blue 0 and alpha 255, bottom blue 255 and alpha 0: both
    // truncate, so alpha 255 * 0.75 = 191.25 gives 191 where blue gives 63.
    const Frame out = Fill(
        "Color4 (argb) [1 4] [(argb) 255 0 0 0] [(argb) 255 0 0 0] "
        "[(argb) 0 0 0 255] [(argb) 0 0 0 255]",
        4);
    EXPECT_EQ(out, (Frame{PackPixel(255, 0, 0, 0), PackPixel(191, 0, 0, 63),
                          PackPixel(127, 0, 0, 127), PackPixel(63, 0, 0, 191)}));
}

TEST(Color4Test, DecreasingGradientTruncatesTowardZero) {
    // D = -200; at fraction 0.5 the red is 200 - 100.
    const Frame out = Fill(
        "Color4 (argb) [2 1] [(argb) 0 200 0 0] [(argb) 0 0 0 0] "
        "[(argb) 0 200 0 0] [(argb) 0 0 0 0]",
        2);
    EXPECT_EQ(Reds(out, 2), (std::vector<int32_t>{200, 100}));
}

TEST(Color4Test, EveryLevelMatchesTheReferenceOnEveryWidth) {
    const GradientKernel kernel = Color4Kernel();
    for (const CpuLevel cpu : LevelsToTest()) {
        uint32_t seed = 7;
        auto next = [&seed](int32_t range) {
            seed = seed * 1664525u + 1013904223u;
            return static_cast<int32_t>(seed >> 8) % (2 * range + 1) - range;
        };
        constexpr uint32_t kGuard = 0xA5A5A5A5u;
        for (int32_t width = 1; width < 256; ++width) {
            // Row ends as the line op makes them, plus some past the channel range
            // so both clamps are exercised.
            float left[4], span[4];
            for (int k = 0; k < 4; ++k) {
                left[k] = static_cast<float>(width % 3 == 0 ? next(300) : next(127) + 128);
                span[k] = static_cast<float>(next(width % 3 == 0 ? 600 : 255));
            }
            std::vector<float> frac(width);
            const float reciprocal = 1.0f / static_cast<float>(width);
            for (int32_t i = 0; i < width; ++i)
                frac[i] = static_cast<float>(i) * reciprocal;
            Frame reference(width + 4, kGuard), fast(width + 4, kGuard);
            kernel.reference(left, span, frac.data(), reference.data(), width);
            kernel.rows.For(cpu)(left, span, frac.data(), fast.data(), width);
            EXPECT_EQ(fast, reference) << CpuLevelName(cpu) << " " << width;
            EXPECT_EQ(Frame(fast.end() - 4, fast.end()), Frame(4, kGuard)) << width;
        }
    }
}

TEST(Color4Test, GoldenFrames) {
    GoldenFile golden("fills.txt");
    const std::string corners =
        "[(argb) 255 255 0 0] [(argb) 128 0 255 0] [(argb) 0 0 0 255] [(argb) 255 255 255 255]";
    struct Case {
        int32_t width, height;
    };
    // Widths past the old 16384-entry fraction table work too.
    for (const Case c : {Case{352, 240}, Case{97, 61}, Case{1, 1}, Case{20000, 3}}) {
        const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
        std::string command = "Color4 (argb) [";
        command += std::to_string(c.width);
        command += ' ';
        command += std::to_string(c.height);
        command += "] ";
        command += corners;
        const Frame out = Fill(command, c.width * c.height);
        EXPECT_EQ(out[0], PackPixel(255, 255, 0, 0));
        const std::string key =
            "Color4_" + std::to_string(c.width) + "x" + std::to_string(c.height);
        EXPECT_EQ(Checksum(out), golden.Expect(key, Checksum(out))) << command;
    }
}

}  // namespace
}  // namespace kve::test
