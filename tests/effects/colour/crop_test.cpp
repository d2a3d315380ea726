// Crop: cutting out (mode 0) and the four marking modes, on whole frames.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "support/frames.h"

namespace kve::test {
namespace {

constexpr uint32_t kMarker = 0xDEADBEEF;
constexpr int kGuard = 16;

struct Cut {
    int result = 0;
    int32_t width = 0, height = 0;
    Frame output;  // width x height words
    bool guardIntact = true;
};

// Runs "Crop [x1 y1 x2 y2] 0 0" into an output the size KVE_GetCropSizeBySize
// reports, with guard words after it.
Cut RunCut(Frame &input, int32_t w, int32_t h, float x1, float y1, float x2, float y2) {
    Cut cut;
    KVE_GetCropSizeBySize(x1, y1, x2, y2, w, h, &cut.width, &cut.height);
    const size_t words = static_cast<size_t>(cut.width) * static_cast<size_t>(cut.height);
    Frame buffer(words + kGuard, kMarker);
    char command[160];
    std::snprintf(command, sizeof command, "Crop [%.9g %.9g %.9g %.9g] 0 0", x1, y1, x2, y2);
    uint32_t *inputs[] = {input.data(), nullptr};
    cut.result = KVE_EffectBySize(command, inputs, w, h, buffer.data(), 0, 0, nullptr);
    for (size_t i = words; i < buffer.size(); ++i)
        cut.guardIntact &= buffer[i] == kMarker;
    cut.output.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(words));
    return cut;
}

uint32_t At(const Frame &f, int32_t w, int32_t x, int32_t y) {
    return f[static_cast<size_t>(y) * w + x];
}

TEST(CropCut, FullWidthSquareOfTheDefaultFrame) {
    Frame in = NoiseFrame(352, 240, 1);
    const Cut cut = RunCut(in, 352, 240, -1, -1, 1, 1);
    ASSERT_EQ(cut.width, 353);
    ASSERT_EQ(cut.height, 353);
    EXPECT_EQ(cut.result, 0);
    EXPECT_TRUE(cut.guardIntact);
    // y scales by half the width: the input's rows land at 56..295; rows
    // above and below it and the column past its last one are 0.
    Frame expected(353 * 353, 0);
    for (int32_t y = 0; y < 240; ++y)
        for (int32_t x = 0; x < 352; ++x)
            expected[(y + 56) * 353 + x] = At(in, 352, x, y);
    EXPECT_EQ(cut.output, expected);
}

TEST(CropCut, SinglePixelAtTheCentre) {
    Frame in = NoiseFrame(352, 240, 2);
    const Cut cut = RunCut(in, 352, 240, 0, 0, 0, 0);
    ASSERT_EQ(cut.width, 1);
    ASSERT_EQ(cut.height, 1);
    EXPECT_EQ(cut.output[0], At(in, 352, 176, 120));
}

TEST(CropCut, CornersInEitherOrderCutTheSameFrame) {
    Frame in = PictureFrame(64, 48, 3);
    const Cut a = RunCut(in, 64, 48, -0.3f, -0.2f, 0.45f, 0.1f);
    const Cut b = RunCut(in, 64, 48, 0.45f, 0.1f, -0.3f, -0.2f);
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.output, b.output);
}

// Every rectangle, inside the frame, across its edges or wholly outside it,
// writes exactly the frame KVE_GetCropSizeBySize sizes, holding the input
// pixel at (left + j, top + i) where it exists and 0 elsewhere.
TEST(CropCut, WritesExactlyTheReportedSizeForAnyRectangle) {
    const int32_t sizes[][2] = {{352, 240}, {17, 9}, {1, 1}, {5, 31}, {40, 3}};
    uint32_t state = 7;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return static_cast<int32_t>(state >> 8 & 0xFFFF);
    };
    for (const auto &size : sizes) {
        const int32_t w = size[0], h = size[1];
        Frame in = NoiseFrame(w, h, static_cast<uint32_t>(w));
        const double hw = w * 0.5, hh = h * 0.5;
        for (int n = 0; n < 60; ++n) {
            float c[4];
            for (float &v : c) {
                // Mostly exact half-pixel positions (where rounding is decided),
                // some arbitrary ones, reaching well outside the frame.
                const int32_t halfPixels = next() % (6 * w + 1) - 3 * w;
                v = n % 3 ? static_cast<float>(halfPixels * 0.5 / hw)
                          : static_cast<float>((next() % 30001 - 15000) / 10000.0);
            }
            const Cut cut = RunCut(in, w, h, c[0], c[1], c[2], c[3]);
            SCOPED_TRACE(testing::Message() << w << "x" << h << " [" << c[0] << " " << c[1] << " "
                                            << c[2] << " " << c[3] << "]");
            ASSERT_EQ(cut.result, 0);
            ASSERT_TRUE(cut.guardIntact);
            auto rnd = [](float v) {
                const double d = v;
                return static_cast<int64_t>(d > 0 ? d + 0.5 : d - 0.5);
            };
            const int64_t left = std::min(rnd(static_cast<float>(hw + hw * c[0])),
                                          rnd(static_cast<float>(hw + hw * c[2])));
            const int64_t top = std::min(rnd(static_cast<float>(hh + hw * c[1])),
                                         rnd(static_cast<float>(hh + hw * c[3])));
            Frame expected(cut.output.size(), 0);
            for (int32_t i = 0; i < cut.height; ++i) {
                for (int32_t j = 0; j < cut.width; ++j) {
                    const int64_t x = left + j, y = top + i;
                    if (x >= 0 && x < w && y >= 0 && y < h)
                        expected[static_cast<size_t>(i) * cut.width + j] =
                            At(in, w, int32_t(x), int32_t(y));
                }
            }
            ASSERT_TRUE(cut.output == expected);
        }
    }
}

// ---- marking modes, on a 12 x 10 frame ----------------------------------------
// [-0.5 -0.5 0.5 0.3333333] has pixel edges left 3, right 9, top 2, bottom 7.

constexpr int32_t kW = 12, kH = 10;
const char *const kRect = "[-0.5 -0.5 0.5 0.3333333]";

Frame Mark(Frame &in, int mode, const char *rect = kRect, const char *level = "0.5") {
    const std::string command =
        std::string("Crop ") + rect + " " + std::to_string(mode) + " " + level;
    const auto run = RunEffect(command, {&in}, kW, kH);
    EXPECT_EQ(run.result, 0);
    return run.output;
}

uint32_t &Px(Frame &f, int32_t x, int32_t y) {
    return f[static_cast<size_t>(y) * kW + x];
}

TEST(CropMark, BlackOutlineIsClosed) {
    Frame in = NoiseFrame(kW, kH, 4);
    Frame expected = in;
    for (int32_t x = 3; x <= 9; ++x)
        Px(expected, x, 2) = Px(expected, x, 7) = 0;
    for (int32_t y = 3; y <= 6; ++y)
        Px(expected, 3, y) = Px(expected, 9, y) = 0;
    EXPECT_EQ(Mark(in, 1), expected);
}

TEST(CropMark, InvertedOutlineLeavesTheRightCornersOfItsEdgeRows) {
    Frame in = NoiseFrame(kW, kH, 5);
    Frame expected = in;
    for (int32_t x = 3; x <= 8; ++x)
        Px(expected, x, 2) = ~Px(in, x, 2), Px(expected, x, 7) = ~Px(in, x, 7);
    for (int32_t y = 3; y <= 6; ++y)
        Px(expected, 3, y) = ~Px(in, 3, y), Px(expected, 9, y) = ~Px(in, 9, y);
    EXPECT_EQ(Mark(in, 2), expected);
}

TEST(CropMark, KeepInsideClearsTheOutlineAndAllAround) {
    Frame in = NoiseFrame(kW, kH, 6);
    Frame expected(kW * kH, 0);
    for (int32_t y = 3; y <= 6; ++y)
        for (int32_t x = 4; x <= 8; ++x)
            Px(expected, x, y) = Px(in, x, y);
    EXPECT_EQ(Mark(in, 3), expected);
}

TEST(CropMark, KeepInsideOfTheWholeFrameClearsRowAndColumnZero) {
    Frame in = NoiseFrame(352, 240, 7);
    const auto run = RunEffect("Crop [-1 -1 1 1] 3 0", {&in}, 352, 240);
    Frame expected = in;
    for (int32_t x = 0; x < 352; ++x)
        expected[x] = 0;
    for (int32_t y = 0; y < 240; ++y)
        expected[y * 352] = 0;
    EXPECT_EQ(run.output, expected);
}

TEST(CropMark, DimOutsideHalvesEveryByteRoundingDown) {
    Frame in = NoiseFrame(kW, kH, 8);
    Frame expected = in;
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x)
            if (!(y > 2 && y < 7 && x > 3 && x < 9))
                Px(expected, x, y) = (Px(in, x, y) >> 1) & 0x7F7F7F7F;
    EXPECT_EQ(Mark(in, 4), expected);
    // Levels saturate: 3 brightens to 255 at most, a negative level gives 0.
    Frame bright = Mark(in, 4, "[0 0 0 0]", "3");
    const uint32_t p = Px(in, 0, 0), q = Px(bright, 0, 0);
    for (int shift = 0; shift < 32; shift += 8)
        EXPECT_EQ(q >> shift & 0xFF, std::min(255u, 3 * (p >> shift & 0xFF)));
    Frame dark = Mark(in, 4, "[0 0 0 0]", "-1");
    EXPECT_EQ(Px(dark, 0, 0), 0u);
}

// Edges are clamped to the frame: an edge clamped to 0 is drawn on the first
// row or column, one clamped to the width or height draws nothing.
TEST(CropMark, EdgesOutsideTheFrameAreClamped) {
    Frame in = NoiseFrame(kW, kH, 9);
    // Pixel rectangle (-6, -7)-(6, 5): left and top clamp to 0.
    Frame expected = in;
    for (int32_t x = 0; x <= 6; ++x)
        Px(expected, x, 0) = Px(expected, x, 5) = 0;
    for (int32_t y = 1; y <= 4; ++y)
        Px(expected, 0, y) = Px(expected, 6, y) = 0;
    EXPECT_EQ(Mark(in, 1, "[-2 -2 0 0]"), expected);
    // Pixel rectangle (6, 5)-(18, 17): right clamps to 12 and bottom to 10.
    expected = in;
    for (int32_t x = 6; x < kW; ++x)
        Px(expected, x, 5) = 0;
    for (int32_t y = 6; y < kH; ++y)
        Px(expected, 6, y) = 0;
    EXPECT_EQ(Mark(in, 1, "[0 0 2 2]"), expected);
    // Wholly outside: nothing is drawn.
    EXPECT_EQ(Mark(in, 1, "[3 3 4 4]"), in);
}

TEST(CropMark, UnknownModeWritesNothing) {
    Frame in = NoiseFrame(kW, kH, 10);
    EXPECT_EQ(Mark(in, 9), FilledFrame(kW, kH, 0xDEADBEEF));
    EXPECT_EQ(Mark(in, -1), FilledFrame(kW, kH, 0xDEADBEEF));
}

// The marking modes compute every column from the input, so marking a frame
// in place gives the same frame as marking a copy.
TEST(CropMark, InPlaceMatchesACopy) {
    for (int mode = 1; mode <= 4; ++mode) {
        for (const char *rect : {kRect, "[-0.5 -0.5 -0.5 0.3333333]", "[-2 -2 0 0]"}) {
            Frame in = NoiseFrame(kW, kH, 11);
            const Frame separate = Mark(in, mode, rect);
            uint32_t *inputs[] = {in.data(), nullptr};
            const std::string command =
                std::string("Crop ") + rect + " " + std::to_string(mode) + " 0.5";
            ASSERT_EQ(KVE_EffectBySize(command.c_str(), inputs, kW, kH, in.data(), 0, 0, nullptr),
                      0);
            EXPECT_EQ(in, separate) << "mode " << mode << " " << rect;
        }
    }
}

TEST(CropGolden, WholeFrames) {
    GoldenFile golden("crop.txt");
    Frame in = PictureFrame(352, 240, 1);
    const char *const cases[] = {"[-0.6 -0.35 0.5 0.3] 1 0", "[-0.6 -0.35 0.5 0.3] 2 0",
                                 "[-0.6 -0.35 0.5 0.3] 3 0", "[-0.6 -0.35 0.5 0.3] 4 0.35",
                                 "[0.9 0.6 -1.2 -0.1] 4 0.7"};
    for (const char *params : cases) {
        const auto run = RunEffect(std::string("Crop ") + params, {&in}, 352, 240);
        std::string key = params;
        for (char &c : key)
            if (c == ' ') c = '_';
        const std::string sum = Checksum(run.output);
        EXPECT_EQ(golden.Expect("mark" + key, sum), sum) << params;
    }
    const Cut cut = RunCut(in, 352, 240, -0.61f, -0.37f, 0.52f, 0.33f);
    const std::string sum = Checksum(cut.output);
    EXPECT_EQ(golden.Expect("cut_-0.61_-0.37_0.52_0.33", sum), sum);
}

}  // namespace
}  // namespace kve::test
