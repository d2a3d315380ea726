// The composite transitions Conceal, Push, Blend and Shadow, on whole frames.
#include "engine/transitions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "engine/scanner.h"
#include "interface/pixel.h"
#include "support/frames.h"

namespace kve::test {
namespace {

constexpr uint32_t kMarker = 0xDEADBEEF;

bool HasMarker(const Frame &f) {
    for (uint32_t word : f)
        if (word == kMarker) return true;
    return false;
}

std::string Format(const char *format, double p, int direction) {
    char text[64];
    std::snprintf(text, sizeof text, format, p, direction);
    return text;
}

// Records which effect reported each row, and stops at report `stopAt` (from 1).
struct Recorder {
    std::vector<std::pair<int32_t, int32_t>> runs;  // effect id, rows reported
    int reports = 0, stopAt = 0;
    MonitorHook hook{&Recorder::Report, this};

    static int Report(MonitorInfo *info, void *self) {
        auto &r = *static_cast<Recorder *>(self);
        if (r.runs.empty() || r.runs.back().first != info->effectId || info->currentRow == 0)
            r.runs.emplace_back(info->effectId, 0);
        ++r.runs.back().second;
        return ++r.reports == r.stopAt ? 0 : 1;
    }
};

constexpr int32_t kPaste = 38, kTranslate = 51, kExtract = 19, kComposite = 9;

// ---- number formatting ------------------------------------------------------------

TEST(TransitionFormat, PlainDecimalsTheParserAccepts) {
    const std::pair<double, const char *> cases[] = {
        {0.5, "0.5"},
        {-120.0 / 176, "-0.681818"},
        {0, "0"},
        {-2, "-2"},
        {0.0001, "0.0001"},
        {123456, "123456"},
        {2e-7, "0.0000002"},
        {-1.23456789e-5, "-0.0000123457"},
        {9.999996e-5, "0.0001"},
        {1234567, "1234570"},
        {-1e20, "-100000000000000000000"},
    };
    for (const auto &[value, text] : cases)
        EXPECT_EQ(FormatNumber(value), text) << value;
    EXPECT_EQ(FormatNumber(1e-300), "0." + std::string(299, '0') + "1");
    // Whatever the magnitude, the text is a number with %g's value.
    for (double magnitude = 1.37e-300; magnitude < 1e300; magnitude *= 7.3) {
        for (double v : {magnitude, -magnitude}) {
            const std::string text = FormatNumber(v);
            char g[64];
            std::snprintf(g, sizeof g, "%g", v);
            ASSERT_TRUE(IsNumber(text)) << text;
            EXPECT_EQ(RealValue(text), std::strtod(g, nullptr)) << text;
        }
    }
}

// ---- Conceal and Push --------------------------------------------------------------

constexpr int32_t kW = 352, kH = 240;

class TwoFrames : public testing::Test {
  protected:
    Frame f = PictureFrame(kW, kH, 1), s = PictureFrame(kW, kH, 2);
    Frame Run(const std::string &command, MonitorHook *hook = nullptr, int *result = nullptr) {
        auto run = RunEffect(command, {&f, &s}, kW, kH, 0, 0, kMarker, hook);
        if (result)
            *result = run.result;
        else
            EXPECT_EQ(run.result, 0) << command;
        return run.output;
    }
};

TEST_F(TwoFrames, ConcealHalfwayFromTheLeft) {
    Frame expected = s;
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW / 2; ++x)
            Px(expected, kW, x, y) = Px(f, kW, x + kW / 2, y);
    EXPECT_EQ(Run("Conceal 0.5 0"), expected);
}

TEST_F(TwoFrames, ConcealHalfwayFromTheTop) {
    Frame expected = s;
    for (int32_t y = 0; y < kH / 2; ++y)
        for (int32_t x = 0; x < kW; ++x)
            Px(expected, kW, x, y) = Px(f, kW, x, y + kH / 2);
    EXPECT_EQ(Run("Conceal 0.5 2"), expected);
}

TEST_F(TwoFrames, PushHalfwayFromTheRight) {
    // F displaced 176 to the right, S's top-left at x = -176.
    Frame expected(f.size());
    for (int32_t y = 0; y < kH; ++y) {
        for (int32_t x = 0; x < kW / 2; ++x) {
            Px(expected, kW, x, y) = Px(s, kW, x + kW / 2, y);
            Px(expected, kW, x + kW / 2, y) = Px(f, kW, x, y);
        }
    }
    EXPECT_EQ(Run("Push 0.5 1"), expected);
}

// At p = 0.5000001 the paste position is 2e-7 of half a width: written as a
// plain decimal it is read, and both frames show, as at 0.5.
TEST_F(TwoFrames, PushJustPastHalfwayShowsBothFrames) {
    Frame expected(f.size());
    for (int32_t y = 0; y < kH; ++y) {
        for (int32_t x = 0; x < kW / 2; ++x) {
            Px(expected, kW, x, y) = Px(f, kW, x + kW / 2, y);
            Px(expected, kW, x + kW / 2, y) = Px(s, kW, x, y);
        }
    }
    EXPECT_EQ(Run("Push 0.5 0"), expected);
    EXPECT_EQ(Run("Push 0.5000001 0"), expected);
    // Tiny displacements are read too: nothing is left unwritten.
    for (const char *command : {"Push 0.9999999 2", "Push 0.9999999 7", "Conceal 0.9999999 5",
                                "Push 0.0000001 4", "Conceal 1.0000001 0"})
        EXPECT_FALSE(HasMarker(Run(command))) << command;
}

TEST_F(TwoFrames, EveryDirectionStartsAtSAndEndsAtF) {
    for (int direction = -1; direction <= 9; ++direction) {
        for (const char *name : {"Conceal", "Push"}) {
            const std::string at0 = std::string(name) + " 0 " + std::to_string(direction);
            const std::string at1 = std::string(name) + " 1 " + std::to_string(direction);
            EXPECT_EQ(Run(at0), s) << at0;
            EXPECT_EQ(Run(at1), f) << at1;
        }
    }
}

TEST_F(TwoFrames, DirectionCodes) {
    // The integer part is used; codes outside 0..7 act as 7.
    EXPECT_EQ(Run("Conceal 0.4 2.7"), Run("Conceal 0.4 2"));
    EXPECT_EQ(Run("Push 0.3 -1"), Run("Push 0.3 7"));
    EXPECT_EQ(Run("Push 0.3 8"), Run("Push 0.3 7"));
    EXPECT_EQ(Run("Conceal 0.4\t3 extra words"), Run("Conceal 0.4 3"));
    // Each of the eight differs from the others halfway.
    std::vector<std::string> sums;
    for (int direction = 0; direction < 8; ++direction) {
        const std::string sum = Checksum(Run("Push 0.5 " + std::to_string(direction)));
        for (const std::string &other : sums)
            EXPECT_NE(sum, other) << direction;
        sums.push_back(sum);
    }
}

TEST_F(TwoFrames, MalformedParametersReturnMinusTwoAndDrawNothing) {
    for (const char *command :
         {"Conceal", "Conceal 0.5", "Conceal 0.5 left", "Conceal x 1", "Conceal 1e-3 1", "Push 0.5",
          "Push [0.5] 1", "Push 0.5 +1", "Blend", "Blend half", "Blend  \t "}) {
        int result = 0;
        const Frame out = Run(command, nullptr, &result);
        EXPECT_EQ(result, -2) << command;
        EXPECT_EQ(out, FilledFrame(kW, kH, kMarker)) << command;
    }
}

// ---- Blend -------------------------------------------------------------------------

TEST(Blend, EndsAreSWithClearAlphaAndF) {
    constexpr int32_t w = 64, h = 48;
    Frame f = PictureFrame(w, h, 3), s = PictureFrame(w, h, 4);
    for (int32_t y = 10; y < 30; ++y)  // a hole in F where S shows through
        for (int32_t x = 5; x < 40; ++x)
            Px(f, w, x, y) = 0;
    Frame clearS = s;
    for (uint32_t &word : clearS)
        word &= ~0xFFu;
    const auto at0 = RunEffect("Blend 0", {&f, &s}, w, h);
    EXPECT_EQ(at0.result, 0);
    EXPECT_EQ(at0.output, clearS);
    // At 1 the key is 255, which still mixes 1/256 of S in.
    const auto at1 = RunEffect("Blend 1", {&f, &s}, w, h);
    EXPECT_EQ(at1.result, 0);
    for (size_t i = 0; i < f.size(); ++i) {
        if (f[i] == 0) {
            ASSERT_EQ(at1.output[i], clearS[i]) << i;
            continue;
        }
        ASSERT_EQ(AlphaOf(at1.output[i]), 254) << i;
        for (auto channel : {RedOf, GreenOf, BlueOf})
            ASSERT_LE(std::abs(channel(at1.output[i]) - channel(f[i])), 1) << i;
    }
}

// ---- Shadow ------------------------------------------------------------------------

class ShadowTest : public testing::Test {
  protected:
    static constexpr int32_t w = 96, h = 64;
    Frame f = PictureFrame(w, h, 5), s = PictureFrame(w, h, 6);
    void SetUp() override {
        // F is a shape: a rectangle in the middle, zero around it.
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                if (x < 20 || x >= 70 || y < 12 || y >= 44) Px(f, w, x, y) = 0;
    }
    testing::AssertionResult Runs(const std::string &command, int want, Frame *out = nullptr) {
        const auto run = RunEffect(command, {&f, &s}, w, h, 0, 0, kMarker);
        if (out) *out = run.output;
        if (run.result != want)
            return testing::AssertionFailure() << command << " gave " << run.result;
        if (want == -2 && run.output != FilledFrame(w, h, kMarker))
            return testing::AssertionFailure() << command << " drew";
        return testing::AssertionSuccess();
    }
};

TEST_F(ShadowTest, MalformedParametersReturnMinusTwo) {
    for (const char *command : {
             "Shadow",
             "Shadow [(argb) 255 0 0 0] 0.5",          // no displacement
             "Shadow [0.1 0.1] [(argb) 255 0 0] 0.5",  // four colour items
             "Shadow [0.1 0.1] [(argb) 255 0 0 0] x",  // strength not a number
             "Shadow [0.1 0.1] [(argb) 255 0 0 0]",    // no strength
             "Shadow [0.1 0.1 0] [(argb) 255 0 0 0] 0.5",
             "Shadow 0.1 0.1 [(argb) 255 0 0 0] 0.5",
         })
        EXPECT_TRUE(Runs(command, -2));
    // List tokens longer than 39 characters are refused whole, never cut;
    // at 39 characters they are read.
    for (size_t length : {39u, 40u, 200u, 5000u}) {
        std::string colour = "[(argb) 255 0 0 ", shift = "[0.1 0.";
        colour.append(length - 17, '0').append("]");
        shift.append(length - 8, '1').append("]");
        ASSERT_EQ(colour.size(), length);
        ASSERT_EQ(shift.size(), length);
        const int want = length <= 39 ? 0 : -2;
        EXPECT_TRUE(Runs("Shadow [0.1 0.1] " + colour + " 0.5", want));
        EXPECT_TRUE(Runs("Shadow " + shift + " [(argb) 255 0 0 0] 0.5", want));
    }
}

// A colour the parser refuses skips the coloured shape; the matte of strength
// t, moved, stands in for it, as if the colour were t times white.
TEST_F(ShadowTest, RefusedColourLeavesTheMatteAsTheShadow) {
    Frame refused, grey;
    ASSERT_TRUE(Runs("Shadow [0.1 0.15] [(rgb) 1 2 3 4] 0.6", 0, &refused));
    ASSERT_TRUE(Runs("Shadow [0.1 0.15] [(argb) 153 153 153 153] 0.6", 0, &grey));
    EXPECT_EQ(refused, grey);
}

// With strength 0 there is no shadow: F over S through F's matte, as Blend 1.
TEST_F(ShadowTest, ZeroStrengthIsFOverS) {
    Frame shadow, blend;
    ASSERT_TRUE(Runs("Shadow [0.1 0.15] [(argb) 255 0 0 0] 0", 0, &shadow));
    ASSERT_TRUE(Runs("Blend 1", 0, &blend));
    EXPECT_EQ(shadow, blend);
}

// ---- monitor -------------------------------------------------------------------------

TEST_F(TwoFrames, EveryCommandRunsEveryRow) {
    using Runs = std::vector<std::pair<int32_t, int32_t>>;
    const std::pair<const char *, Runs> cases[] = {
        {"Conceal 0.37 6", {{kPaste, kH}}},
        {"Push 0.37 5", {{kTranslate, kH}, {kPaste, kH}}},
        {"Blend 0.37", {{kExtract, kH}, {kComposite, kH}}},
        {"Shadow [0.02 0.03] [(argb) 255 9 9 9] 0.37",
         {{kExtract, kH},
          {kTranslate, kH},
          {kExtract, kH},
          {kTranslate, kH},
          {kComposite, kH},
          {kExtract, kH},
          {kComposite, kH}}},
    };
    for (const auto &[command, want] : cases) {
        Recorder recorder;
        Run(command, &recorder.hook);
        EXPECT_EQ(recorder.runs, want) << command;
    }
}

TEST_F(TwoFrames, AStopInsideACommandEndsTheTransition) {
    const std::pair<const char *, int> cases[] = {
        {"Conceal 0.37 6", 1},
        {"Conceal 0.37 6", kH},
        {"Push 0.37 5", 1},
        {"Push 0.37 5", kH + 3},
        {"Blend 0.37", kH},
        {"Blend 0.37", 2 * kH},
        {"Shadow [0.02 0.03] [(argb) 255 9 9 9] 0.37", 1},
        {"Shadow [0.02 0.03] [(argb) 255 9 9 9] 0.37", 3 * kH + 1},
        {"Shadow [0.02 0.03] [(argb) 255 9 9 9] 0.37", 7 * kH},
    };
    for (const auto &[command, stopAt] : cases) {
        Recorder recorder;
        recorder.stopAt = stopAt;
        int result = 0;
        Run(command, &recorder.hook, &result);
        EXPECT_EQ(result, -3) << command << " stopped at " << stopAt;
        EXPECT_EQ(recorder.reports, stopAt) << command;
    }
}

// ---- animated sweeps ------------------------------------------------------------------

// Progress 0 to 1 in 30 steps: every step draws every pixel with every
// command, starts at S and ends at F (for Blend: S with clear alpha, F over S).
TEST(TransitionSweep, ThirtyStepsFromSToF) {
    constexpr int32_t w = 96, h = 64;
    Frame f = PictureFrame(w, h, 7), s = PictureFrame(w, h, 8);
    for (const char *name : {"Conceal", "Push"}) {
        for (int direction = 0; direction < 8; ++direction) {
            for (int step = 0; step < 30; ++step) {
                const std::string command =
                    Format((std::string(name) + " %.9g %d").c_str(), step / 29.0, direction);
                Recorder recorder;
                const auto run = RunEffect(command, {&f, &s}, w, h, 0, 0, kMarker, &recorder.hook);
                ASSERT_EQ(run.result, 0) << command;
                ASSERT_FALSE(HasMarker(run.output)) << command;
                ASSERT_EQ(recorder.reports, std::string(name) == "Push" ? 2 * h : h) << command;
                if (step == 0) {
                    EXPECT_EQ(run.output, s) << command;
                } else if (step == 29) {
                    EXPECT_EQ(run.output, f) << command;
                }
            }
        }
    }
    Frame first, last;
    for (int step = 0; step < 30; ++step) {
        const std::string command = Format("Blend %.9g", step / 29.0, 0);
        Recorder recorder;
        const auto run = RunEffect(command, {&f, &s}, w, h, 0, 0, kMarker, &recorder.hook);
        ASSERT_EQ(run.result, 0);
        ASSERT_EQ(recorder.reports, 2 * h) << command;
        if (step == 0) first = run.output;
        if (step == 29) last = run.output;
    }
    Frame clearS = s;
    for (uint32_t &word : clearS)
        word &= ~0xFFu;
    EXPECT_EQ(first, clearS);
    EXPECT_NE(last, first);
    for (int step = 0; step < 30; ++step) {
        const std::string command =
            Format("Shadow [0.05 0.08] [(argb) 255 30 30 30] %.9g", step / 29.0, 0);
        Recorder recorder;
        const auto run = RunEffect(command, {&f, &s}, w, h, 0, 0, kMarker, &recorder.hook);
        ASSERT_EQ(run.result, 0);
        ASSERT_EQ(recorder.reports, 7 * h) << command;
        ASSERT_FALSE(HasMarker(run.output)) << command;
        // No shadow at strength 0: F over S as Blend 1 lays it.
        if (step == 0) {
            EXPECT_EQ(run.output, last);
        }
    }
}

// ---- golden frames -------------------------------------------------------------------

TEST(TransitionGolden, WholeFrames) {
    GoldenFile golden("transitions.txt");
    Frame f = PictureFrame(kW, kH, 9), s = PictureFrame(kW, kH, 10);
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x)
            if ((x - 150) * (x - 150) + (y - 110) * (y - 110) > 80 * 80) Px(f, kW, x, y) = 0;
    std::vector<std::string> commands;
    for (int direction = 0; direction < 8; ++direction) {
        for (const char *head : {"Conceal 0.37 ", "Conceal 0.5 ", "Push 0.37 ", "Push 0.5 "})
            commands.push_back(std::string(head).append(std::to_string(direction)));
    }
    for (const char *command :
         {"Blend 0.37", "Blend 0.5", "Shadow [0.04 0.05] [(argb) 255 20 20 20] 0.6",
          "Shadow [-0.1 0.02] [(argb) 200 200 0 0] 1"})
        commands.push_back(command);
    for (const std::string &command : commands) {
        const auto run = RunEffect(command, {&f, &s}, kW, kH);
        EXPECT_EQ(run.result, 0) << command;
        std::string key = command;
        for (char &c : key)
            if (c == ' ') c = '_';
        const std::string sum = Checksum(run.output);
        EXPECT_EQ(golden.Expect(key, sum), sum) << command;
    }
}

}  // namespace
}  // namespace kve::test
