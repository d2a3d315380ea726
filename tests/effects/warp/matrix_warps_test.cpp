// The matrix warps at every quality: identities copy, degenerate parameters
// blank, corner order and matrix entry order, large frames, hostile numbers,
// and golden checksums of every row.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "effects/warp/samplers.h"
#include "support/cpu_levels.h"
#include "support/frames.h"

namespace kve::test {
namespace {

const char *const kQualities[] = {"-1", "0", "1", "2", "3"};

TEST(WarpSamplers, FootprintRadiusBySoftness) {
    EXPECT_NEAR(FootprintRadius(0), 2.14597, 5e-6);
    EXPECT_NEAR(FootprintRadius(1), 1.07298, 5e-6);
    EXPECT_EQ(FootprintRadius(2), 0.0);
}

// Identities of every matrix row copy the source exactly at every quality
// that samples (nearest, the affine sampler's bilinear mode, and EWA, whose
// per-pixel Jacobians are then small enough for bilinear too).
TEST(MatrixWarps, IdentitiesCopyAtEveryQuality) {
    Frame in = NoiseFrame(352, 240, 1);
    const Frame empty(in.size(), 0);
    const std::vector<std::string> identities = {"SRT 1 1 0 0 0 0 0", "Shear 1 1 0 0 0 0 0 0",
                                                 "Tilt 1 1 0 0 0 0 0 0",
                                                 "Xform 1 0 0 0 1 0 0 0 1 0 0"};
    for (const std::string &identity : identities) {
        for (const char *quality : kQualities) {
            const std::string command = identity + " " + quality;
            const bool blank = std::string(quality) == "-1";
            EXPECT_EQ(RunEffect(command, {&in}, 352, 240).output, blank ? empty : in) << command;
        }
    }
    // X4Corner's rectangle is exact in decimal when H / W is (320 x 240: 0.75).
    Frame square = NoiseFrame(320, 240, 2);
    for (const char *quality : {"0", "1", "2"}) {
        const std::string command =
            std::string("X4Corner -1 -0.75 1 -0.75 1 0.75 -1 0.75 0 0 ") + quality;
        EXPECT_EQ(RunEffect(command, {&square}, 320, 240).output, square) << command;
    }
}

TEST(MatrixWarps, DegenerateParametersBlank) {
    Frame in = PictureFrame(64, 48, 3);
    const Frame empty(in.size(), 0);
    const std::vector<std::string> commands = {
        "SRT 0 1 0 0 0", "SRT 1 0 45 0.1 0", "Shear 0 1 10 10 0 0", "Shear 1 1 90 0 0 0",
        "Shear 1 1 0 90 0 0", "Tilt 1 0 10 10 0 0", "Tilt 1 1 90 10 0 0",
        // Corners 2, 3 and 4 on one line: the quad cannot be mapped.
        "X4Corner 0.3 0.6 -1 0 0 0 1 0"};
    for (const std::string &command : commands)
        for (const char *quality : kQualities)
            for (const char *tiling : {" 0 0 ", " 0 1 "}) {
                const std::string text = command + tiling + quality;
                EXPECT_EQ(RunEffect(text, {&in}, 64, 48).output, empty) << text;
            }
}

// Corner k of the output shows source point k, the corners taken bottom-left,
// bottom-right, top-right, top-left: swapping top and bottom points flips the
// picture, swapping left and right mirrors it.
TEST(MatrixWarps, X4CornerCornerOrder) {
    constexpr int32_t w = 64, h = 48;  // K = 0.75
    Frame in = NoiseFrame(w, h, 4);
    Frame flipped(in.size(), 0), mirrored(in.size(), 0);
    for (int32_t j = 0; j < h; ++j)
        for (int32_t i = 0; i < w; ++i) {
            // Pixel edges map to pixel edges: row j shows source row h - j.
            if (j > 0) Px(flipped, w, i, j) = Px(in, w, i, h - j);
            if (i > 0) Px(mirrored, w, i, j) = Px(in, w, w - i, j);
        }
    EXPECT_EQ(RunEffect("X4Corner -1 0.75 1 0.75 1 -0.75 -1 -0.75 0 0 2", {&in}, w, h).output,
              flipped);
    EXPECT_EQ(RunEffect("X4Corner 1 -0.75 -1 -0.75 -1 0.75 1 0.75 0 0 1", {&in}, w, h).output,
              mirrored);
}

// The nine numbers of Xform are m00 m01 m02 m10 m11 m12 m20 m21 m22 in text
// order: 0.25 and 0.125 in the seventh and eighth places translate.
TEST(MatrixWarps, XformEntriesInRowMajorTextOrder) {
    constexpr int32_t w = 64, h = 48;
    Frame in = NoiseFrame(w, h, 5);
    Frame expected(in.size(), 0);
    for (int32_t j = 0; j < h; ++j)
        for (int32_t i = 0; i < w; ++i)
            Px(expected, w, i, j) = Px(in, w, Mirror(i + 8, w), Mirror(j - 4, h));
    EXPECT_EQ(RunEffect("Xform 1 0 0 0 1 0 0.25 0.125 1 0 1 0", {&in}, w, h).output, expected);
    EXPECT_EQ(RunEffect("SRT 1 1 0 -0.25 -0.125 0 1 0", {&in}, w, h).output, expected);
}

// Frames on both sides of the old cache limit (720 x 487 held row copies,
// 720 x 488 was read in place) and a tall one: a whole-pixel move with
// mirrored tiling gives exactly the moved source.
TEST(MatrixWarps, LargeFramesMoveExactly) {
    for (int32_t h : {487, 488, 1500}) {
        constexpr int32_t w = 720;
        Frame in = NoiseFrame(w, h, 6);
        Frame expected(in.size(), 0);
        // 0.25 units = 90 pixels right, 0.125 units = 45 pixels up.
        for (int32_t j = 0; j < h; ++j)
            for (int32_t i = 0; i < w; ++i)
                Px(expected, w, i, j) = Px(in, w, Mirror(i - 90, w), Mirror(j + 45, h));
        for (const char *quality : {"1", "2"}) {
            const std::string command = std::string("SRT 1 1 0 0.25 0.125 0 1 ") + quality;
            EXPECT_EQ(RunEffect(command, {&in}, w, h).output, expected) << command << " " << h;
        }
    }
}

// ResizeX4Corner draws at its own size: here half the source size, corners
// half a source pixel in, so output (i, j) shows source (2i, 2j).
TEST(MatrixWarps, ResizeX4CornerDrawsAtItsSize) {
    constexpr int32_t w = 64, h = 48;
    Frame in = NoiseFrame(w, h, 7);
    Frame expected(32 * 24, 0);
    for (int32_t j = 0; j < 24; ++j)
        for (int32_t i = 0; i < 32; ++i)
            Px(expected, 32, i, j) = Px(in, w, 2 * i, 2 * j);
    const char *command =
        "ResizeX4Corner [32 24] -0.984375 -0.765625 1.015625 -0.765625 1.015625 0.734375 "
        "-0.984375 0.734375 0 0 0";
    EXPECT_EQ(RunEffect(command, {&in}, w, h, 32, 24).output, expected);
    // Sizes of 0 or less draw nothing.
    for (const char *size : {"[0 24]", "[32 0]", "[-5 -5]"}) {
        const std::string text =
            std::string("ResizeX4Corner ") + size + " -1 -1 1 -1 1 1 -1 1 0 0 1";
        const auto run = RunEffect(text, {&in}, w, h, 32, 24);
        EXPECT_EQ(run.output, Frame(32 * 24, 0xDEADBEEF)) << text;
        EXPECT_EQ(run.result, 0);
    }
}

// Kernel mode (the affine sampler on a shrinking map): a footprint wholly
// outside the frame reads nothing without tiling; with mirrored tiling a move
// of a whole number of mirrored pairs changes nothing.
TEST(MatrixWarps, KernelModeOutsideAndTiled) {
    constexpr int32_t w = 64, h = 48;
    Frame in = PictureFrame(w, h, 8);
    const Frame empty(in.size(), 0);
    EXPECT_EQ(RunEffect("SRT 0.25 0.25 0 -3 0 0 0 2", {&in}, w, h).output, empty);
    const Frame tiled = RunEffect("SRT 0.25 0.25 0 0 0 0 1 2", {&in}, w, h).output;
    EXPECT_NE(tiled, empty);
    EXPECT_EQ(RunEffect("SRT 0.25 0.25 0 -4 0 0 1 2", {&in}, w, h).output, tiled);
}

// Numbers that break naive arithmetic: horizons of tilts, singular and
// infinite matrices, bow-tie quads, softness at and past 2, tiny frames.
// Each must finish without fault (the sanitizer build checks the rest).
TEST(MatrixWarps, HostileParametersFinish) {
    const std::string inf = "1" + std::string(400, '0');
    const std::vector<std::string> commands = {
        "Tilt 1 1 89.9999 0 0 0",
        "Tilt 1 1 -89.99 45 0.3 0",
        "Tilt 1 1 60 60 0 0",
        "Xform 0 0 0 0 0 0 0 0 0",
        "Xform 1 0 0 0 1 0 0 0 0",
        "Xform 1 0 1 0 1 1 0 0 -1",
        "Xform " + inf + " 0 0 0 1 0 0 0 1",
        "SRT 0.0000000000000000000000001 1 10 0 0",
        "SRT " + inf + " 1 0 0 0",
        "Shear 1 1 89.999999 -89.999999 0 0",
        "X4Corner -1 -1 1 1 1 -1 -1 1",
        "X4Corner 0 0 0 0 0 0 0 0",
        "X4Corner -100000 -1 100000 -1 1 0.00001 -1 0.00001"};
    for (int32_t size : {1, 2, 7, 40})
        for (const std::string &command : commands)
            for (const char *tail :
                 {" 0 0 1", " 0 1 1", " 0 2 2", " 1.999 0 1", " 2 1 1", " 3.5 2 2", " 0 0 0"}) {
                Frame in = PictureFrame(size, size, 9);
                const std::string text = command + tail;
                EXPECT_EQ(RunEffect(text, {&in}, size, size).result, 0) << text;
            }
}

// An infinite matrix entry leaves the affine sampler's footprint without a
// usable kernel: it says so, and the output is blank.
TEST(MatrixWarps, KernelWithoutWeightsIsReported) {
    Frame in = PictureFrame(32, 24, 10);
    DiagCapture diag;
    const std::string inf = "1" + std::string(400, '0');
    const auto run = RunEffect("Xform " + inf + " 0 0 0 1 0 0 0 1 0 0 2", {&in}, 32, 24);
    EXPECT_EQ(run.output, Frame(in.size(), 0));
    ASSERT_FALSE(diag.Lines().empty());
    EXPECT_EQ(diag.Lines()[0], "<Warp1>:  No filter");
}

// ---- golden frames --------------------------------------------------------------

TEST(MatrixWarpsGolden, EveryRowAtEveryQuality) {
    constexpr int32_t w = 128, h = 96;
    Frame in = PictureFrame(w, h, 1);
    GoldenFile golden("warps.txt");
    const std::vector<std::string> commands = {
        "SRT 0.6 0.6 30 0.1 0.05 0 1",
        "SRT 0.3 0.25 -20 -0.2 0.1 0 0",
        "SRT 1.7 1.4 12 0 0 0.5 2",
        "Shear 0.8 0.8 25 -10 0.05 0 0 0",
        "Shear 0.4 0.5 10 20 0 0 1 2",
        "Tilt 1 1 25 15 0 0 0 0",
        "Tilt 0.7 0.7 40 -20 0.1 0 1 1",
        "X4Corner -1.5 -0.8 1.2 -1.1 1.6 0.9 -1.3 0.8 0 0",
        "X4Corner -0.9 -0.55 0.75 -0.62 0.95 0.5 -0.7 0.6 0.8 2",
        "Xform 0.8 0.25 0 -0.25 0.8 0 0.1 -0.05 1 0 2",
        "Xform 1 0.1 0.3 0.1 1 0.2 0 0 1 0 1"};
    const std::string resize =
        "ResizeX4Corner [96 80] -0.9 -0.55 0.75 -0.62 0.95 0.5 -0.7 0.6 0 1 ";
    for (const CpuLevel level : LevelsToTest()) {
        const CpuLevelCap cap(level);
        const std::string at = std::string(" at ") + std::string(CpuLevelName(level));
        for (const std::string &command : commands)
            for (const char *quality : {"0", "1", "2"}) {
                const std::string text = command + " " + quality;
                const std::string sum = Checksum(RunEffect(text, {&in}, w, h).output);
                EXPECT_EQ(golden.Expect(GoldenKey(text), sum), sum) << text << at;
            }
        for (const char *quality : {"0", "1", "2"}) {
            const std::string text = resize + quality;
            const std::string sum = Checksum(RunEffect(text, {&in}, w, h, 96, 80).output);
            EXPECT_EQ(golden.Expect(GoldenKey(text), sum), sum) << text << at;
        }
    }
}

}  // namespace
}  // namespace kve::test
