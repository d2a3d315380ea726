// Mixes through command texts: Fade, Dissolve and Composite.
#include <gtest/gtest.h>

#include <string>

#include "effects/colour/colour_ops.h"
#include "interface/pixel.h"
#include "support/cpu_levels.h"
#include "support/frames.h"

namespace kve::test {
namespace {

TEST(FadeTest, ScalesEveryByteRoundingHalvesUp) {
    Frame frame{PackPixel(255, 1, 0, 3), PackPixel(2, 100, 200, 255)};
    EXPECT_EQ(RunEffect("Fade 0.5", {&frame}, 2, 1).output,
              (Frame{PackPixel(128, 1, 0, 2), PackPixel(1, 50, 100, 128)}));
    EXPECT_EQ(RunEffect("Fade 2", {&frame}, 2, 1).output,
              (Frame{PackPixel(255, 2, 0, 6), PackPixel(4, 200, 255, 255)}));
    EXPECT_EQ(RunEffect("Fade -0.5", {&frame}, 2, 1).output, Frame(2, 0u));
    EXPECT_EQ(RunEffect("Fade 1", {&frame}, 2, 1).output, frame);
}

TEST(DissolveTest, MixesEveryByteWithSeparatelyTruncatedProducts) {
    Frame a = FilledFrame(3, 1, PackPixel(200, 200, 7, 255));
    Frame b = FilledFrame(3, 1, PackPixel(100, 100, 9, 0));
    // 200 * 0.25 + 100 * 0.75 = 50 + 75; 7 * 0.25 = 1.75 and 9 * 0.75 = 6.75 give 1 + 6.
    EXPECT_EQ(RunEffect("Dissolve 0.25", {&a, &b}, 3, 1).output,
              FilledFrame(3, 1, PackPixel(125, 125, 7, 63)));
    EXPECT_EQ(RunEffect("Dissolve 1", {&a, &b}, 3, 1).output, a);
    EXPECT_EQ(RunEffect("Dissolve 1.5", {&a, &b}, 3, 1).output, a);
    EXPECT_EQ(RunEffect("Dissolve 0", {&a, &b}, 3, 1).output, b);
    EXPECT_EQ(RunEffect("Dissolve -2", {&a, &b}, 3, 1).output, b);
}

TEST(MixesTest, OutputMayBeAnInputFrame) {
    Frame a = PictureFrame(50, 7, 1), b = PictureFrame(50, 7, 2);
    for (const char *command : {"Fade 0.7", "Dissolve 0.4"}) {
        const Frame expected = RunEffect(command, {&a, &b}, 50, 7).output;
        for (int target = 0; target < 2; ++target) {
            Frame a2 = a, b2 = b;
            uint32_t *inputs[] = {a2.data(), b2.data(), nullptr};
            EXPECT_EQ(KVE_EffectBySize(command, inputs, 50, 7, inputs[target], 0, 0, nullptr), 0);
            EXPECT_EQ(target == 0 ? a2 : b2, expected) << command << " " << target;
        }
    }
}

TEST(MixesTest, GoldenFrames) {
    GoldenFile golden("mixes.txt");
    Frame a = PictureFrame(131, 37, 1), b = NoiseFrame(131, 37, 3);
    for (const CpuLevel level : LevelsToTest()) {
        const CpuLevelCap cap(level);
        for (const char *command : {"Fade 0.5", "Fade 1.7", "Dissolve 0.3", "Dissolve 0.77"}) {
            const std::string sum = Checksum(RunEffect(command, {&a, &b}, 131, 37).output);
            EXPECT_EQ(sum, golden.Expect(GoldenKey(command), sum))
                << command << " " << CpuLevelName(level);
        }
    }
}

// Composite's three inputs, one row of 256 pixels: the key's alpha is the
// column number, so column a shows what key alpha a does.
struct CompositeFrames {
    Frame fg = FilledFrame(256, 1, PackPixel(7, 200, 100, 50));
    Frame key = Frame(256);
    Frame bg = FilledFrame(256, 1, PackPixel(9, 20, 40, 60));
    CompositeFrames() {
        for (uint32_t a = 0; a < 256; ++a)
            key[a] = 0x12345600u | a;
    }
    Frame Run(const std::string &command) {
        return RunEffect(command, {&fg, &key, &bg}, 256, 1).output;
    }
};

const uint32_t kBackground = PackPixel(0, 20, 40, 60);      // G with alpha 0
const uint32_t kForeground = PackPixel(255, 200, 100, 50);  // F with alpha 255

TEST(CompositeTest, FullRangeRampNeverReachesThePureForeground) {
    CompositeFrames f;
    // Two blanks between the words, as the composite transitions write it.
    const Frame out = f.Run("Composite  1.0  0.0");
    EXPECT_EQ(out[0], kBackground);
    // Weight 128/256: colours half way, alpha trunc(128 * 0.5).
    EXPECT_EQ(out[128], PackPixel(64, 110, 70, 55));
    // Weight 255/256: 199.296875, 99.765625, 50.0390625; alpha trunc(254.0039).
    EXPECT_EQ(out[255], PackPixel(254, 199, 99, 50));
    for (int a = 1; a < 256; ++a)
        EXPECT_NE(out[a], kForeground) << a;
}

TEST(CompositeTest, RampBetweenLowerAndUpper) {
    CompositeFrames f;
    const Frame out = f.Run("Composite 0.5 0.25");  // lo = 64, hi = 128
    for (int a = 0; a <= 64; ++a)
        EXPECT_EQ(out[a], kBackground) << a;
    for (int a = 128; a < 256; ++a)
        EXPECT_EQ(out[a], kForeground) << a;
    EXPECT_EQ(out[96], PackPixel(48, 110, 70, 55));
    // Weight 1/64 at alpha 65: 20 * 63/64 + 200/64 = 22.8125; alpha trunc(65/64).
    EXPECT_EQ(out[65], PackPixel(1, 22, 40, 59));
}

TEST(CompositeTest, LowerAtOrAboveUpperIsAHardKeyAtUpper) {
    CompositeFrames f;
    for (const char *command : {"Composite 0.25 0.5", "Composite 0.25 0.25"}) {
        const Frame out = f.Run(command);  // hi = 64
        for (int a = 0; a < 64; ++a)
            EXPECT_EQ(out[a], kBackground) << command << " " << a;
        for (int a = 64; a < 256; ++a)
            EXPECT_EQ(out[a], kForeground) << command << " " << a;
    }
    // Upper 0 (or below, or clamped): everything is foreground.
    EXPECT_EQ(f.Run("Composite 0 0"), FilledFrame(256, 1, kForeground));
    EXPECT_EQ(f.Run("Composite -3 0.5"), FilledFrame(256, 1, kForeground));
    // Both at 1: hi = 256, no key alpha reaches it.
    EXPECT_EQ(f.Run("Composite 1 1"), FilledFrame(256, 1, kBackground));
    EXPECT_EQ(f.Run("Composite 7 2"), FilledFrame(256, 1, kBackground));
}

TEST(CompositeTest, OutputMayBeTheBackgroundOrKeyFrame) {
    Frame fg = PictureFrame(64, 9, 1), key = NoiseFrame(64, 9, 2), bg = PictureFrame(64, 9, 4);
    const Frame expected = RunEffect("Composite 0.8 0.1", {&fg, &key, &bg}, 64, 9).output;
    for (Frame *target : {&bg, &key}) {
        Frame f2 = fg, k2 = key, b2 = bg;
        Frame *out = target == &bg ? &b2 : &k2;
        uint32_t *inputs[] = {f2.data(), k2.data(), b2.data(), nullptr};
        EXPECT_EQ(KVE_EffectBySize("Composite 0.8 0.1", inputs, 64, 9, out->data(), 0, 0, nullptr),
                  0);
        EXPECT_EQ(*out, expected);
    }
}

// Every byte of both inputs through every level for mixes across the whole
// range, the awkward ones (0.3, 0.32, 0.35: products landing on whole
// numbers) included; and the fixed-point scale fits nearly all of them.
TEST(DissolveTest, EveryLevelMatchesTheReferenceForEveryMix) {
    const DissolveKernel kernel = DissolveKernels();
    Frame a(256), b(256);
    for (uint32_t v = 0; v < 256; ++v) {
        a[v] = v * 0x01010101u ^ 0x00FF00FFu;
        b[v] = (255 - v) * 0x01010101u ^ 0xFF0000FFu;
    }
    int scaled = 0;
    DissolveTables tables;
    for (int32_t i = 0; i <= 2000; ++i) {
        BuildDissolveTables(i / 2000.0, tables);
        scaled += tables.scaleA.exact && tables.scaleB.exact;
        Frame reference(256);
        kernel.reference(tables, a.data(), b.data(), reference.data(), 256);
        for (const CpuLevel level : LevelsToTest()) {
            Frame got(256);
            kernel.rows.For(level)(tables, a.data(), b.data(), got.data(), 256);
            ASSERT_EQ(got, reference) << CpuLevelName(level) << " mix " << i / 2000.0;
        }
    }
    EXPECT_GE(scaled, 1990);
}

TEST(FadeTest, EveryLevelMatchesTheReferenceOnEveryWidth) {
    const FadeKernel kernel = FadeKernels();
    constexpr uint32_t kGuard = 0xA5A5A5A5u;
    uint8_t table[256];
    for (int32_t v = 0; v < 256; ++v)
        table[v] = static_cast<uint8_t>(v * 37 % 256 ^ v >> 3);
    for (const CpuLevel level : LevelsToTest()) {
        for (int32_t width = 0; width < 256; ++width) {
            const Frame src = NoiseFrame(width, 1, 9 + width);
            Frame reference(width + 4, kGuard), fast(width + 4, kGuard);
            kernel.reference(table, src.data(), reference.data(), width);
            kernel.rows.For(level)(table, src.data(), fast.data(), width);
            ASSERT_EQ(fast, reference) << CpuLevelName(level) << " " << width;
        }
    }
}

TEST(DissolveTest, EveryLevelMatchesTheReferenceOnEveryWidth) {
    const DissolveKernel kernel = DissolveKernels();
    constexpr uint32_t kGuard = 0xA5A5A5A5u;
    const double mixes[] = {0, 1, 0.25, 1.0 / 3, 0.37, 0.999, 0.001, 0.5, 2, -1};
    for (const CpuLevel level : LevelsToTest()) {
        for (const double mix : mixes) {
            DissolveTables tables;
            BuildDissolveTables(mix, tables);
            for (int32_t width = 0; width < 256; ++width) {
                Frame a = NoiseFrame(width, 1, 3), b = NoiseFrame(width, 1, 4 + width);
                if (width > 2) a[1] = b[2] = 0xFFFFFFFF;
                Frame reference(width + 4, kGuard), fast(width + 4, kGuard);
                kernel.reference(tables, a.data(), b.data(), reference.data(), width);
                kernel.rows.For(level)(tables, a.data(), b.data(), fast.data(), width);
                ASSERT_EQ(fast, reference) << CpuLevelName(level) << " " << mix << " " << width;
            }
        }
    }
}

TEST(CompositeTest, EveryLevelMatchesTheReferenceOnEveryWidth) {
    const CompositeKernel kernel = CompositeKernels();
    for (const CpuLevel cpu : LevelsToTest()) {
        constexpr uint32_t kGuard = 0xA5A5A5A5u;
        const double levels[][2] = {{1.0, 0.0}, {0.75, 0.25}, {0.5, 0.25}, {0.3, 0.6}, {0.0, 0.0}};
        for (const auto &level : levels) {
            CompositeTables tables;
            BuildCompositeTables(level[0], level[1], tables);
            for (int32_t width = 1; width < 256; ++width) {
                Frame fg = NoiseFrame(width, 1, 1), bg = NoiseFrame(width, 1, 2),
                      key = NoiseFrame(width, 1, static_cast<uint32_t>(width));
                Frame reference(width + 4, kGuard), fast(width + 4, kGuard);
                kernel.reference(tables, fg.data(), bg.data(), key.data(), reference.data(), width);
                kernel.rows.For(cpu)(tables, fg.data(), bg.data(), key.data(), fast.data(), width);
                ASSERT_EQ(fast, reference)
                    << CpuLevelName(cpu) << " " << level[0] << " " << level[1] << " " << width;
                ASSERT_EQ(Frame(fast.end() - 4, fast.end()), Frame(4, kGuard)) << width;
            }
        }
    }
}

TEST(CompositeTest, GoldenFrames) {
    GoldenFile golden("mixes.txt");
    Frame fg = PictureFrame(131, 37, 1), key = NoiseFrame(131, 37, 5),
          bg = PictureFrame(131, 37, 2);
    for (const CpuLevel level : LevelsToTest()) {
        const CpuLevelCap cap(level);
        for (const char *command :
             {"Composite  1.0  0.0", "Composite 0.75 0.25", "Composite 0.3 0.6"}) {
            const std::string sum = Checksum(RunEffect(command, {&fg, &key, &bg}, 131, 37).output);
            EXPECT_EQ(sum, golden.Expect(GoldenKey(command), sum))
                << command << " " << CpuLevelName(level);
        }
    }
}

}  // namespace
}  // namespace kve::test
