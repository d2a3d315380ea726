// Arithmetic and logical point operations: worked values, the fast rows
// against the reference on every width, and golden whole-frame checksums.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "effects/point/point_ops.h"
#include "interface/pixel.h"
#include "support/cpu_levels.h"
#include "support/frames.h"

namespace kve::test {
namespace {

// One pixel of a two-frame effect, through a whole command.
uint32_t TwoFramePixel(const char *command, uint32_t first, uint32_t second) {
    Frame a = FilledFrame(3, 2, first), b = FilledFrame(3, 2, second);
    RunResult run = RunEffect(command, {&a, &b}, 3, 2);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.output, FilledFrame(3, 2, run.output[0])) << command;
    return run.output[0];
}

uint32_t OneFramePixel(const char *command, uint32_t word) {
    Frame a = FilledFrame(3, 2, word);
    RunResult run = RunEffect(command, {&a}, 3, 2);
    EXPECT_EQ(run.output, FilledFrame(3, 2, run.output[0])) << command;
    return run.output[0];
}

TEST(PointOps, WorkedValues) {
    // Add clamps each channel, alpha included.
    EXPECT_EQ(TwoFramePixel("Add", PackPixel(255, 200, 1, 0), PackPixel(255, 100, 2, 0)),
              PackPixel(255, 255, 3, 0));
    // Sub is SECOND minus first.
    EXPECT_EQ(RedOf(TwoFramePixel("Sub", PackPixel(0, 100, 0, 0), PackPixel(0, 30, 0, 0))), 0);
    EXPECT_EQ(RedOf(TwoFramePixel("Sub", PackPixel(0, 30, 0, 0), PackPixel(0, 100, 0, 0))), 70);
    EXPECT_EQ(TwoFramePixel("Sub", PackPixel(10, 0, 0, 0), PackPixel(50, 0, 0, 0)),
              PackPixel(40, 0, 0, 0));
    // Mul does not divide by 255.
    EXPECT_EQ(TwoFramePixel("Mul", PackPixel(16, 16, 0, 1), PackPixel(16, 16, 9, 200)),
              PackPixel(255, 255, 0, 200));
    EXPECT_EQ(TwoFramePixel("And", 0xF0F0F0F0, 0xFF00FF00), 0xF000F000u);
    EXPECT_EQ(TwoFramePixel("Or", 0xF0F0F0F0, 0x0F000000), 0xFFF0F0F0u);
    EXPECT_EQ(TwoFramePixel("Xor", 0xF0F0F0F0, 0xFF00FF00), 0x0FF00FF0u);

    // Luma 306 R against 601 G: green is brighter than red.
    const uint32_t red = PackPixel(1, 255, 0, 0), green = PackPixel(2, 0, 255, 0);
    EXPECT_EQ(TwoFramePixel("Max", red, green), green);
    EXPECT_EQ(TwoFramePixel("Min", red, green), red);
    EXPECT_EQ(TwoFramePixel("Max", green, red), green);
    // Equal luma picks the second frame's whole word, alpha included.
    const uint32_t dim = PackPixel(9, 10, 10, 10), same = PackPixel(200, 10, 10, 10);
    EXPECT_EQ(TwoFramePixel("Max", dim, same), same);
    EXPECT_EQ(TwoFramePixel("Min", dim, same), same);

    EXPECT_EQ(OneFramePixel("Negate", PackPixel(255, 0, 0, 0)), PackPixel(0, 255, 255, 255));
    EXPECT_EQ(OneFramePixel("Monochrome", PackPixel(77, 255, 255, 255)),
              PackPixel(77, 255, 255, 255));
    EXPECT_EQ(OneFramePixel("Monochrome", PackPixel(3, 0, 0, 255)), PackPixel(3, 29, 29, 29));
}

constexpr uint32_t kGuard = 0xA5A5A5A5;

// Random words with the extremes of every channel mixed in.
Frame EdgyRow(int32_t n, uint32_t seed) {
    Frame row = NoiseFrame(n, 1, seed);
    const uint32_t extremes[] = {0, 0xFFFFFFFF, 0x00FF00FF, 0xFF00FF00, 0x01010101, 0x10101010};
    for (int32_t x = 0; x < n; x += 3)
        row[x] = extremes[(x / 3 + seed) % 6];
    return row;
}

TEST(PointOps, EveryLevelMatchesTheReferenceOnEveryWidth) {
    for (const CpuLevel level : LevelsToTest()) {
        const std::string_view name = CpuLevelName(level);
        for (const TwoFrameKernel &k : TwoFrameKernels()) {
            const TwoFrameRow row = k.rows.For(level);
            for (int32_t n = 0; n < 256; ++n) {
                Frame a = EdgyRow(n, 1), b = EdgyRow(n, 2);
                Frame expect(n + 4, kGuard), got(n + 4, kGuard);
                k.reference(a.data(), b.data(), expect.data(), n);
                row(a.data(), b.data(), got.data(), n);
                ASSERT_EQ(got, expect) << k.name << " " << name << " width " << n;
                // Output sharing storage with either input gives the same words.
                Frame inPlaceA = a, inPlaceB = b;
                row(inPlaceA.data(), b.data(), inPlaceA.data(), n);
                row(a.data(), inPlaceB.data(), inPlaceB.data(), n);
                ASSERT_TRUE(std::equal(inPlaceA.begin(), inPlaceA.end(), expect.begin()))
                    << k.name << " " << name << " in place of a, width " << n;
                ASSERT_TRUE(std::equal(inPlaceB.begin(), inPlaceB.end(), expect.begin()))
                    << k.name << " " << name << " in place of b, width " << n;
            }
        }
        for (const OneFrameKernel &k : OneFrameKernels()) {
            const OneFrameRow row = k.rows.For(level);
            for (int32_t n = 0; n < 256; ++n) {
                Frame a = EdgyRow(n, 3);
                Frame expect(n + 4, kGuard), got(n + 4, kGuard);
                k.reference(a.data(), expect.data(), n);
                row(a.data(), got.data(), n);
                ASSERT_EQ(got, expect) << k.name << " " << name << " width " << n;
            }
        }
    }
}

TEST(PointOps, MonochromeMatchesItsTablesOnEveryColour) {
    // Each level's arithmetic must equal the weight tables for all 2^24 colours.
    const OneFrameKernel *mono = nullptr;
    for (const OneFrameKernel &k : OneFrameKernels())
        if (std::string(k.name) == "Monochrome") mono = &k;
    ASSERT_NE(mono, nullptr);
    Frame row(1 << 16), expect(1 << 16), got(1 << 16);
    for (const CpuLevel level : LevelsToTest()) {
        for (uint32_t blue = 0; blue < 256; ++blue) {
            for (uint32_t i = 0; i < (1u << 16); ++i)
                row[i] = i << 8 | blue << 24 | (i & 0xFF);
            mono->reference(row.data(), expect.data(), 1 << 16);
            mono->rows.For(level)(row.data(), got.data(), 1 << 16);
            ASSERT_EQ(got, expect) << CpuLevelName(level) << " blue " << blue;
        }
    }
}

TEST(PointOps, GoldenFrames) {
    GoldenFile golden("point_ops.txt");
    const struct { int32_t width, height; } sizes[] = {{352, 240}, {37, 5}};
    const char *commands[] = {"Add", "Sub", "Mul", "And",    "Or",
                              "Xor", "Max", "Min", "Negate", "Monochrome"};
    for (const CpuLevel level : LevelsToTest()) {
        const CpuLevelCap cap(level);
        for (const auto &size : sizes) {
            Frame a = PictureFrame(size.width, size.height, 1);
            Frame b = PictureFrame(size.width, size.height, 2);
            for (const char *command : commands) {
                const std::string key = std::string(command) + "@" + std::to_string(size.width) +
                                        "x" + std::to_string(size.height);
                const std::string sum =
                    Checksum(RunEffect(command, {&a, &b}, size.width, size.height).output);
                EXPECT_EQ(golden.Expect(key, sum), sum) << key << " " << CpuLevelName(level);
            }
        }
    }
}

}  // namespace
}  // namespace kve::test
