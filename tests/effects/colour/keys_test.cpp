// Keys through command texts: LumaKey, ChromaKey and Extract.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "effects/colour/colour_ops.h"
#include "interface/pixel.h"
#include "support/cpu_levels.h"
#include "support/frames.h"

namespace kve::test {
namespace {

constexpr uint32_t kKept = 0xFFFFFFFFu;

// One row of 256 pixels; column v holds `make(v)`.
template <class Make>
Frame Ramp(Make make) {
    Frame frame(256);
    for (int32_t v = 0; v < 256; ++v)
        frame[v] = make(v);
    return frame;
}

// The mask LumaKey should give on a ramp whose brightest channel is v.
Frame BandMask(int32_t lo, int32_t hi) {
    return Ramp([&](int32_t v) { return lo <= v && v <= hi ? 0u : kKept; });
}

TEST(LumaKeyTest, KeysOutTheRoundedBandInclusive) {
    // Alpha varies and is never read.
    Frame greys = Ramp([](int32_t v) { return PackPixel(255 - v, v, v, v); });
    const Frame band = BandMask(102, 153);  // (0.5 -+ 0.1) * 255 + 0.5, truncated
    EXPECT_EQ(RunEffect("LumaKey 0.5 0.1", {&greys}, 256, 1).output, band);
    EXPECT_EQ(RunEffect("LumaKey 0.5 -0.1", {&greys}, 256, 1).output, band);
    EXPECT_EQ(band[128], 0u);
    EXPECT_EQ(band[200], kKept);
    // Zero tolerance: only round(level * 255), here 0.3 * 255 = 76.5 -> 77.
    EXPECT_EQ(RunEffect("LumaKey 0.3 0", {&greys}, 256, 1).output, BandMask(77, 77));
    // A band beyond the scale keys out everything.
    EXPECT_EQ(RunEffect("LumaKey 0.5 9", {&greys}, 256, 1).output, Frame(256, 0u));
}

TEST(LumaKeyTest, KeysOnTheBrightestChannel) {
    const Frame band = BandMask(102, 153);
    Frame blues = Ramp([](int32_t v) { return PackPixel(0, 0, 0, v); });
    Frame reds = Ramp([](int32_t v) { return PackPixel(0, v, v / 2, v / 3); });
    Frame greens = Ramp([](int32_t v) { return PackPixel(0, v / 4, v, 0); });
    for (Frame *frame : {&blues, &reds, &greens})
        EXPECT_EQ(RunEffect("LumaKey 0.5 0.1", {frame}, 256, 1).output, band);
}

TEST(ChromaKeyTest, ZeroToleranceKeysOutOnlyTheExactColour) {
    // Alphas differ from the key's: they are not read.
    Frame frame{PackPixel(0, 40, 200, 40),   PackPixel(255, 40, 200, 40),
                PackPixel(255, 41, 200, 40), PackPixel(255, 40, 199, 40),
                PackPixel(255, 40, 200, 41), 0u};
    EXPECT_EQ(RunEffect("ChromaKey [(argb) 9 40 200 40] 0", {&frame}, 3, 2).output,
              (Frame{0, 0, kKept, kKept, kKept, kKept}));
}

TEST(ChromaKeyTest, DistanceAtTheThresholdIsKeyedOut) {
    // Tolerance 1/16: threshold 3 * 16^2 = 768 on the squared distance.
    const int32_t r = 100, g = 100, b = 100;
    Frame frame{PackPixel(255, r + 16, g + 16, b + 16),  // 768: keyed out
                PackPixel(255, r + 16, g - 16, b - 17),  // 801: kept
                PackPixel(255, r - 27, g, b + 5),        // 754: keyed out
                PackPixel(255, r + 27, g + 4, b + 1),    // 746: keyed out
                PackPixel(255, r - 28, g, b),            // 784: kept
                PackPixel(255, r, g, b)};
    EXPECT_EQ(RunEffect("ChromaKey [(argb) 255 100 100 100] 0.0625", {&frame}, 6, 1).output,
              (Frame{0, kKept, 0, 0, kKept, 0}));
    // A negative tolerance squares to the same threshold.
    EXPECT_EQ(RunEffect("ChromaKey [(argb) 255 100 100 100] -0.0625", {&frame}, 6, 1).output,
              (Frame{0, kKept, 0, 0, kKept, 0}));
}

TEST(KeysTest, GoldenMasks) {
    GoldenFile golden("keys.txt");
    Frame picture = PictureFrame(97, 61, 2);
    for (const CpuLevel level : LevelsToTest()) {
        const CpuLevelCap cap(level);
        for (const char *command :
             {"LumaKey 0.5 0.2", "LumaKey 0.1 0.05", "ChromaKey [(argb) 255 40 200 40] 0.3",
              "ChromaKey [(argb) 0 200 30 200] 0.15"}) {
            const std::string sum = Checksum(RunEffect(command, {&picture}, 97, 61).output);
            EXPECT_EQ(sum, golden.Expect(GoldenKey(command), sum))
                << command << " " << CpuLevelName(level);
        }
    }
}

// A mask row with every kind of word Extract can meet.
Frame MaskFrame() {
    return {0u, kKept, 1u, 0u, 0x80000000u, 0xFFu};
}

// Every level's rows against the reference on every width, with rows that
// hit the band ends, the threshold exactly and zero words.
TEST(KeysTest, EveryLevelMatchesTheReferenceOnEveryWidth) {
    constexpr uint32_t kGuard = 0xA5A5A5A5;
    const KeyKernels kernels = KeyRowKernels();
    std::vector<LumaKeyState> lumas(5);
    BuildLumaKey(0.5, 0.1, lumas[0]);
    BuildLumaKey(0.3, 0, lumas[1]);
    BuildLumaKey(0.5, 9, lumas[2]);
    BuildLumaKey(-3, 0.1, lumas[3]);
    BuildLumaKey(0.0, 0.02, lumas[4]);
    std::vector<ChromaKeyState> chromas(5);
    BuildChromaKey(PackPixel(0, 200, 100, 50), 0.2, chromas[0]);
    BuildChromaKey(PackPixel(0, 0, 255, 0), 0, chromas[1]);
    BuildChromaKey(PackPixel(0, 255, 255, 255), 5, chromas[2]);
    BuildChromaKey(PackPixel(0, 10, 0, 250), std::nan(""), chromas[3]);
    BuildChromaKey(PackPixel(0, 128, 128, 128), 0.0390625, chromas[4]);  // threshold 300 exactly
    const ExtractState extract{PackPixel(255, 1, 2, 3), 0};
    for (const CpuLevel level : LevelsToTest()) {
        for (int32_t n = 0; n < 256; ++n) {
            Frame src = NoiseFrame(n, 1, static_cast<uint32_t>(n) + 7);
            for (int32_t x = 0; x < n; x += 3)  // colours near the keys, and zero words
                src[x] = x % 2 ? PackPixel(x, 128 + x % 11, 128 - x % 13, 128 + x % 7)
                               : (x % 5 ? PackPixel(x, x, x / 2, x / 3) : 0u);
            auto check = [&](auto &kernel, const auto &state, const char *name) {
                Frame expect(n + 4, kGuard), got(n + 4, kGuard);
                kernel.reference(state, src.data(), expect.data(), n);
                kernel.rows.For(level)(state, src.data(), got.data(), n);
                ASSERT_EQ(got, expect) << name << " " << CpuLevelName(level) << " width " << n;
            };
            for (const LumaKeyState &s : lumas)
                check(kernels.lumaKey, s, "LumaKey");
            for (const ChromaKeyState &s : chromas)
                check(kernels.chromaKey, s, "ChromaKey");
            check(kernels.extract, extract, "Extract");
        }
    }
}

TEST(ExtractTest, FillsEveryNonZeroWordWithTheScaledColour) {
    Frame mask = MaskFrame();
    const uint32_t full = PackPixel(255, 10, 20, 30), half = PackPixel(127, 5, 10, 15);
    EXPECT_EQ(RunEffect("Extract [(argb) 255 10 20 30] 1.0", {&mask}, 3, 2).output,
              (Frame{0, full, full, 0, full, full}));
    EXPECT_EQ(RunEffect("Extract [(argb) 255 10 20 30] 0.5", {&mask}, 3, 2).output,
              (Frame{0, half, half, 0, half, half}));
}

TEST(ExtractTest, StrengthOutsideUnitSaturatesPerChannel) {
    Frame mask = MaskFrame();
    const uint32_t doubled = PackPixel(255, 20, 40, 255);
    EXPECT_EQ(RunEffect("Extract [(argb) 255 10 20 200] 2", {&mask}, 6, 1).output,
              (Frame{0, doubled, doubled, 0, doubled, doubled}));
    EXPECT_EQ(RunEffect("Extract [(argb) 255 10 20 200] -1", {&mask}, 6, 1).output, Frame(6, 0u));
    // Huge strengths saturate instead of overflowing the conversion.
    EXPECT_EQ(RunEffect("Extract [(argb) 0 1 0 0] 1" + std::string(40, '0'), {&mask}, 6, 1).output,
              (Frame{0, 0xFF00u, 0xFF00u, 0, 0xFF00u, 0xFF00u}));
}

TEST(ExtractTest, RefusedColourDrawsNothing) {
    Frame mask = MaskFrame();
    DiagCapture diag;
    EXPECT_EQ(RunEffect("Extract [255 10 20 30] 1.0", {&mask}, 6, 1).output,
              FilledFrame(6, 1, 0xDEADBEEF));
    EXPECT_EQ(RunEffect("Extract [(argb) 255 10 20 30] x", {&mask}, 6, 1).output,
              FilledFrame(6, 1, 0xDEADBEEF));
    ASSERT_EQ(diag.Lines().size(), 2u);
}

TEST(ExtractTest, GoldenFrames) {
    GoldenFile golden("keys.txt");
    Frame picture = PictureFrame(97, 61, 3);
    // Zero words scattered through a picture.
    for (size_t i = 0; i < picture.size(); i += 5)
        picture[i] = 0;
    for (const char *command :
         {"Extract [(argb) 255 255 200 0] 0.8", "Extract [(argb) 17 34 51 68] 1.3"}) {
        const std::string sum = Checksum(RunEffect(command, {&picture}, 97, 61).output);
        EXPECT_EQ(sum, golden.Expect(GoldenKey(command), sum)) << command;
    }
}

}  // namespace
}  // namespace kve::test
