// The Wipe effect's composition: easing, border weights, span lists turned
// into rows, and the effect's behaviour through command texts.
#include <gtest/gtest.h>

#include <cmath>

#include <string>
#include <vector>

#include "effects/wipe/wipe.h"
#include "interface/pixel.h"
#include "support/cpu_levels.h"
#include "support/frames.h"

namespace kve {
namespace {

using test::Frame;

std::string WipeCommand(int number, const std::string &progress,
                        const std::string &rest =
                            "0.05 [0 0] 1 1 0 [8 8] 0 "
                            "[(argb) 255 255 0 0]") {
    return "Wipe " + std::to_string(number) + " " + progress + " " + rest;
}

TEST(WipeEase, PiecesMeetAndSaturate) {
    EXPECT_EQ(Ease(-0.5), 0.0);
    EXPECT_EQ(Ease(0.0), 0.0);
    EXPECT_EQ(Ease(0.25), 0.125);
    EXPECT_EQ(Ease(0.5), 0.5);
    EXPECT_EQ(Ease(0.75), 0.875);
    EXPECT_EQ(Ease(1.0), 1.0);
    EXPECT_EQ(Ease(7.0), 1.0);
}

TEST(WipeBorderWeights, KeysAtTheEndsAreTheSources) {
    const auto zero = BorderWeights(0.0f, 0.1, 0.05);
    EXPECT_EQ(zero.a, 0.0);
    EXPECT_EQ(zero.b, 1.0);
    EXPECT_EQ(zero.c, 0.0);
    const auto one = BorderWeights(1.0f, 0.1, 0.05);
    EXPECT_EQ(one.a, 1.0);
    EXPECT_EQ(one.b, 0.0);
    EXPECT_EQ(one.c, 0.0);
    // With a vanishing soft band a key is A, B or the border colour.
    const auto hardMiddle = BorderWeights(0.5f, 0.1, 0.0000005);
    EXPECT_EQ(hardMiddle.c, 1.0);
    EXPECT_EQ(BorderWeights(0.9999995f, 0.1, 0.0000005).a, 1.0);
    EXPECT_EQ(BorderWeights(0.00000005f, 0.1, 0.0000005).b, 1.0);
}

TEST(WipeBorderWeights, MiddleOfAnEvenBandIsTheColour) {
    // key 0.5 sits half-way across border + softness: past B's fall-off and
    // before A's rise when the border is as wide as the soft band.
    const auto w = BorderWeights(0.5f, 0.1, 0.1);
    EXPECT_EQ(w.a, 0.0);
    EXPECT_EQ(w.b, 0.0);
    EXPECT_EQ(w.c, 1.0);
    // key 0.125: f = 0.25, g = 0.05: B's fall-off half done, A not started.
    const auto quarter = BorderWeights(0.125f, 0.1, 0.1);
    EXPECT_EQ(quarter.a, 0.0);
    EXPECT_EQ(quarter.b, 0.5);
    EXPECT_EQ(quarter.c, 0.5);
}

// ---- composing rows from hand-made span lists -------------------------------

constexpr int32_t kRow = 12;

struct RowCase {
    std::vector<int32_t> spans = std::vector<int32_t>(kSpanEntries, kRow);
    std::vector<float> keys = std::vector<float>(kRow, 0.0f);
    std::vector<Pixel> a, b, out;
    RowCase() {
        for (int32_t x = 0; x < kRow; ++x) {
            a.push_back(PackPixel(10 + x, 200, 100, 40));
            b.push_back(PackPixel(100 + x, 100, 50, 240));
        }
        out.assign(kRow, 0xDEADBEEF);
    }
    void Compose(const WipeMix &mix = {0, 0.1, 0}) {
        ComposeWipeRow(spans.data(), keys.data(), a.data(), b.data(), out.data(), kRow, mix);
    }
};

TEST(WipeCompose, WholeHardRowFollowsKeyZero) {
    RowCase row;
    row.keys[0] = 0.5f;
    row.Compose();
    EXPECT_EQ(row.out, row.a);
    row.keys[0] = 0.49f;
    row.Compose();
    EXPECT_EQ(row.out, row.b);
}

TEST(WipeCompose, HardRunsTakeTheirSourceFromTheNeighbouringSpanEnd) {
    RowCase row;
    row.spans = {2, 3, 6, 6, kRow, kRow};
    row.spans.resize(kSpanEntries, kRow);
    // The runs' own keys say the opposite; only the span ends count.
    row.keys = {0, 0, 0.75f, 0.25f, 1, 1, 0.9f, 0, 0, 0, 0, 0};
    row.Compose();
    EXPECT_EQ(row.out[0], row.a[0]);  // leading run: key[s0] = 0.75
    EXPECT_EQ(row.out[1], row.a[1]);
    EXPECT_EQ(row.out[4], row.b[4]);  // after span 0: key[e0] = 0.25
    EXPECT_EQ(row.out[5], row.b[5]);
    for (int32_t x = 7; x < kRow; ++x)
        EXPECT_EQ(row.out[x], row.a[x]) << x;  // key[e1] = 0.9
}

TEST(WipeCompose, SoftPixelsMixByTheKeyAndTakeItAsAlpha) {
    RowCase row;
    row.spans = {3, 5};
    row.spans.resize(kSpanEntries, kRow);
    row.keys[3] = 0.25f;
    row.keys[4] = 0.0f;
    row.keys[5] = 1.0f;
    row.Compose();
    // 0.25*200 + 0.75*100 = 125, 0.25*100 + 0.75*50 = 62.5 -> 62,
    // 0.25*40 + 0.75*240 = 190; alpha trunc(63.75 + 0.5) = 64.
    EXPECT_EQ(row.out[3], PackPixel(64, 125, 62, 190));
    // Keys of exactly 0 and 1 still mix: the colour is the source's, the alpha the key's.
    EXPECT_EQ(row.out[4], PackPixel(0, 100, 50, 240));
    EXPECT_EQ(row.out[5], PackPixel(255, 200, 100, 40));
    // Hard pixels keep their source's alpha.
    EXPECT_EQ(row.out[0], row.b[0]);  // key[3] = 0.25 selects B
    EXPECT_EQ(row.out[6], row.a[6]);  // key[5] = 1 selects A
}

TEST(WipeCompose, BorderBandPassesThroughTheColour) {
    RowCase row;
    row.spans = {4, 6};
    row.spans.resize(kSpanEntries, kRow);
    row.keys[4] = 0.0f;
    row.keys[5] = 0.5f;
    row.keys[6] = 1.0f;
    row.Compose({0.1, 0.1, PackPixel(255, 1, 2, 3)});
    EXPECT_EQ(row.out[4], PackPixel(0, 100, 50, 240));    // pure B
    EXPECT_EQ(row.out[5], PackPixel(128, 1, 2, 3));       // pure border colour
    EXPECT_EQ(row.out[6], PackPixel(255, 200, 100, 40));  // pure A
}

TEST(WipeCompose, ListEndsAtTheLastPixelOrTheSixteenthSpan) {
    RowCase row;
    // A span ending on the last pixel ends the list, whatever follows.
    row.spans = {10, kRow - 1, 0, 3};
    row.spans.resize(kSpanEntries, kRow);
    row.keys.assign(kRow, 0.5f);
    row.Compose();
    for (int32_t x = 0; x < 10; ++x)
        EXPECT_EQ(row.out[x], row.a[x]);
    EXPECT_EQ(AlphaOf(row.out[11]), 128);

    // Sixteen one-pixel spans on a 40-pixel row: the 16th span is the last
    // thing written, pixels after it keep their contents.
    const int32_t wide = 40;
    std::vector<int32_t> spans;
    for (int k = 0; k < kMaxSoftSpans; ++k)
        spans.insert(spans.end(), {2 * k, 2 * k});
    std::vector<float> keys(wide, 1.0f);
    std::vector<Pixel> a(wide, PackPixel(1, 2, 3, 4)), b(wide, PackPixel(5, 6, 7, 8));
    std::vector<Pixel> out(wide, 0xDEADBEEF);
    ComposeWipeRow(spans.data(), keys.data(), a.data(), b.data(), out.data(), wide, {0, 0.1, 0});
    EXPECT_EQ(out[30], PackPixel(255, 2, 3, 4));
    EXPECT_EQ(out[29], a[29]);
    EXPECT_EQ(out[31], 0xDEADBEEFu);
}

// The mixing row the effect runs gives the reference's words on every width,
// and writes nothing past the row.
TEST(WipeCompose, EveryLevelsMixRowMatchesTheReference) {
    for (const CpuLevel level : test::LevelsToTest()) {
        const WipeMixRow fast = WipeMixRows().rows.For(level);
        const WipeMixKernels rows = WipeMixRows();
        uint32_t state = 7;
        auto next = [&] { return state = state * 1664525u + 1013904223u; };
        for (int32_t width = 1; width <= 255; ++width) {
            std::vector<float> keys(width);
            std::vector<Pixel> a(width), b(width);
            for (int32_t x = 0; x < width; ++x) {
                a[x] = next();
                b[x] = next();
                // Ends, tiny keys and keys whose alpha sits on a rounding edge.
                const float special[] = {0.0f, 1.0f, 1e-30f, 0.5f, 0.0019607842f, 0.99999994f};
                keys[x] = next() % 4 == 0 ? special[next() % 6] : (next() >> 8) / 16777216.0f;
            }
            std::vector<Pixel> want(width + 4, 0xDEADBEEF), got(width + 4, 0xDEADBEEF);
            rows.reference(keys.data(), a.data(), b.data(), want.data(), width);
            fast(keys.data(), a.data(), b.data(), got.data(), width);
            ASSERT_EQ(got, want) << CpuLevelName(level) << " width " << width;
        }
        // Keys on and next to every point where the alpha rounds up, and tiny ones.
        std::vector<float> keys;
        for (int n = 0; n < 255; ++n) {
            float k = (n + 0.5f) / 255;
            for (int step = 0; step < 4; ++step)
                k = std::nextafter(k, 0.0f);
            for (int step = 0; step < 9; ++step, k = std::nextafter(k, 1.0f))
                keys.push_back(k);
        }
        for (float tiny = 1e-30f; tiny < 1e-2f; tiny *= 3)
            keys.push_back(tiny);
        const int32_t count = static_cast<int32_t>(keys.size());
        std::vector<Pixel> a(count), b(count), want(count), got(count);
        for (int32_t x = 0; x < count; ++x) {
            a[x] = next();
            b[x] = next();
        }
        rows.reference(keys.data(), a.data(), b.data(), want.data(), count);
        fast(keys.data(), a.data(), b.data(), got.data(), count);
        EXPECT_EQ(got, want) << CpuLevelName(level);
    }
}

// ---- the effect through command texts ---------------------------------------

// Whole frames without a border (every soft pixel through the mixing row,
// every key through the level's key loops and the spans they are given) are
// the scalar level's at every level, on a width that leaves partial blocks.
// The random block orders (409, 410) draw their seeds call by call.
TEST(WipeEffect, EveryLevelDrawsTheScalarLevelsFrames) {
    const int32_t w = 203, h = 61;
    Frame a = test::PictureFrame(w, h, 3), b = test::PictureFrame(w, h, 4);
    const std::vector<CpuLevel> levels = test::LevelsToTest();
    for (const int32_t number : WipeNumbers()) {
        if (number == 409 || number == 410) continue;
        for (const std::string rest : {"0.06 [0 0] 1 1 0 [8 8] 0 [(argb) 255 0 0 0]",
                                       "0.03 [0.1 -0.2] 1.2 0.9 17 [8 8] 0 [(argb) 255 0 0 0]"})
            for (const char *progress : {"0.3", "0.62"}) {
                const std::string command = WipeCommand(number, progress, rest);
                Frame scalar;
                for (const CpuLevel level : levels) {
                    test::CpuLevelCap cap(level);
                    const auto run = test::RunEffect(command, {&a, &b}, w, h);
                    if (level == CpuLevel::kScalar) scalar = run.output;
                    ASSERT_EQ(run.output, scalar) << CpuLevelName(level) << " " << command;
                }
            }
    }
}

TEST(WipeEffect, UnknownNumbersLeaveTheOutputAlone) {
    Frame a = test::PictureFrame(64, 48, 1), b = test::PictureFrame(64, 48, 2);
    for (int number : {0, 9, 75, 118, 126, 300, -5}) {
        test::DiagCapture diag;
        const auto run = test::RunEffect(WipeCommand(number, "0.5"), {&a, &b}, 64, 48);
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.output, test::FilledFrame(64, 48, 0xDEADBEEF)) << number;
        ASSERT_EQ(diag.Lines().size(), 1u) << number;
        EXPECT_EQ(diag.Lines()[0], "<Wipe> unknown SMPTE number");
    }
}

TEST(WipeEffect, SoftnessAndBorderAreClampedFromBelow) {
    Frame a = test::PictureFrame(90, 40, 1), b = test::PictureFrame(90, 40, 2);
    const std::string colour = "[(argb) 255 0 255 0]";
    for (int number : {1, 101, 128, 201}) {
        const auto zero = test::RunEffect(
            WipeCommand(number, "0.4", "0 [0 0] 1 1 0 [1 1] 0 " + colour), {&a, &b}, 90, 40);
        const auto negative = test::RunEffect(
            WipeCommand(number, "0.4", "-3 [0 0] 1 1 0 [1 1] -0.5 " + colour), {&a, &b}, 90, 40);
        EXPECT_EQ(test::Checksum(zero.output), test::Checksum(negative.output)) << number;
    }
}

TEST(WipeEffect, OutputMaySharePixelsWithEitherInput) {
    const int32_t w = 70, h = 30;
    Frame a = test::PictureFrame(w, h, 1), b = test::PictureFrame(w, h, 2);
    for (int number : {3, 102, 207}) {
        const std::string command = WipeCommand(number, "0.6",
                                                "0.1 [0.1 0] 1 1 10 [1 1] 0.05 "
                                                "[(argb) 255 9 9 9]");
        const auto separate = test::RunEffect(command, {&a, &b}, w, h);
        for (int into : {0, 1}) {
            Frame first = a, second = b;
            uint32_t *inputs[] = {first.data(), second.data(), nullptr};
            uint32_t *output = into == 0 ? first.data() : second.data();
            EXPECT_EQ(KVE_EffectBySize(command.c_str(), inputs, w, h, output, 0, 0, nullptr), 0);
            EXPECT_EQ(into == 0 ? first : second, separate.output) << number << " into " << into;
        }
    }
}

TEST(WipeEffect, RowsWiderThanTheOldLimitWork) {
    const int32_t w = 20000, h = 3;
    Frame a = test::FilledFrame(w, h, PackPixel(255, 200, 200, 200));
    Frame b = test::FilledFrame(w, h, PackPixel(255, 10, 10, 10));
    const auto run = test::RunEffect(
        WipeCommand(1, "0.5", "0 [0 0] 1 1 0 [1 1] 0 [(argb) 0 0 0 0]"), {&a, &b}, w, h);
    // Lft at progress 0.5 with a one-pixel soft band: A left of the middle,
    // the middle pixel mixed half-way between two mixed pixels of keys 1 and 0, B after.
    for (int32_t y = 0; y < h; ++y) {
        const size_t row = static_cast<size_t>(y) * w;
        EXPECT_EQ(run.output[row + 9998], a[0]);
        EXPECT_EQ(run.output[row + 9999], PackPixel(255, 200, 200, 200));
        EXPECT_EQ(run.output[row + 10000], PackPixel(128, 105, 105, 105));
        EXPECT_EQ(run.output[row + 10001], PackPixel(0, 10, 10, 10));
        EXPECT_EQ(run.output[row + 10002], b[0]);
        EXPECT_EQ(run.output[row + w - 1], b[0]);
    }
}

TEST(WipeEffect, EveryNumberSurvivesTinyFramesAndWildParameters) {
    const std::vector<std::string> rests = {
        "0.05 [0 0] 1 1 0 [1 1] 0.02 [(argb) 255 1 2 3]",
        "99999999999999999999 [9999999 -9999999] 0 -1 123456789 [0 0] 1000 [(argb) 1 2 3 4]",
        "99999999999999999999 [0 0] 0.0000000001 99999999999 -720 [0 0] "
        "99999999999999999999 [(argb) 1 2 3 4]",
        "0.00001 [-.5 .5] 3 0.2 45 [1 1] 0.3 [(argb) 1 2 3 4]",
    };
    const std::vector<std::string> progresses = {"-1", "0", "0.5",
                                                 "1",  "2", "99999999999999999999999"};
    for (auto [w, h] : {std::pair{1, 1}, {1, 7}, {9, 1}, {3, 2}}) {
        Frame a = test::NoiseFrame(w, h, 1), b = test::NoiseFrame(w, h, 2);
        for (int32_t number : WipeNumbers())
            for (const auto &rest : rests)
                for (const auto &progress : progresses)
                    EXPECT_EQ(
                        test::RunEffect(WipeCommand(number, progress, rest), {&a, &b}, w, h).result,
                        0);
    }
}

}  // namespace
}  // namespace kve
