// Keys through command texts: LumaKey, ChromaKey and Extract.
#include <gtest/gtest.h>

#include <string>

#include "interface/pixel.h"
#include "support/frames.h"

namespace kve::test {
namespace {

// A golden-file key: the command with its blanks made underscores.
std::string CaseName(std::string command) {
    for (char &c : command)
        if (c == ' ') c = '_';
    return command;
}

constexpr uint32_t kKept = 0xFFFFFFFFu;

// A mask row with every kind of word Extract can meet.
Frame MaskFrame() {
    return {0u, kKept, 1u, 0u, 0x80000000u, 0xFFu};
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
        EXPECT_EQ(sum, golden.Expect(CaseName(command), sum)) << command;
    }
}

}  // namespace
}  // namespace kve::test
