// The parameter parser and the engine around it, observed through test rows
// whose driver records what it was handed.
#include "engine/effect_run.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "engine/scratch.h"
#include "interface/pixel.h"
#include "support/frames.h"

namespace kve {
namespace {

struct Seen {
    ImageList images{};
    OutputList outputs{};
    ArgBlock in, out;
    size_t scratchBytes = 0;
    bool scratchZeroed = false;
};
std::optional<Seen> seen;

void RecordingDriver(LineOp, const ImageList &images, ArgBlock &in, const OutputList &outputs,
                     ArgBlock &out) {
    Seen s{images, outputs, in, out, in.job->scratchBytes, true};
    for (size_t i = 0; i < s.scratchBytes; ++i)
        s.scratchZeroed = s.scratchZeroed && in.job->scratch[i] == std::byte{0};
    seen = s;
}

struct Parse {
    int result;
    std::optional<Seen> seen;
    std::vector<std::string> diagnostics;
};

// Runs a test row with `signature` on a 352 x 240 job.
Parse ParseWith(const char *signature, const char *params, std::vector<uint32_t *> inputs = {},
                PrepareFn prepare = nullptr, ScratchFn scratch = nullptr, int32_t outWidth = 0,
                int32_t outHeight = 0) {
    static test::Frame a = test::FilledFrame(352, 240, 1), b = test::FilledFrame(352, 240, 2);
    static test::Frame output = test::FilledFrame(352, 240, 0);
    if (inputs.empty()) inputs = {a.data(), b.data(), nullptr};
    EffectRow row{.name = "Probe",
                  .id = 99,
                  .signature = signature,
                  .driver = RecordingDriver,
                  .prepare = prepare,
                  .scratch = scratch};
    seen.reset();
    test::DiagCapture diag;
    const int result = RunEffectRow(row, params, inputs.data(), 352, 240, output.data(), outWidth,
                                    outHeight, nullptr);
    return {result, seen, diag.Lines()};
}

TEST(EffectRun, ParametersStandInTextOrderAndLandLastFirst) {
    Parse p = ParseWith("Irrri", "0.1 0.2 0.3 7");
    ASSERT_TRUE(p.seen);
    EXPECT_EQ(p.seen->in.ints[0], 7);
    EXPECT_EQ(p.seen->in.reals[0], 0.3);
    EXPECT_EQ(p.seen->in.reals[1], 0.2);
    EXPECT_EQ(p.seen->in.reals[2], 0.1);

    // Leftover words at the head of the text are ignored.
    p = ParseWith("Irrri", "1 2 3 4 5");
    ASSERT_TRUE(p.seen);
    EXPECT_EQ(p.seen->in.ints[0], 5);
    EXPECT_EQ(p.seen->in.reals[0], 4);
    EXPECT_EQ(p.seen->in.reals[2], 2);

    // Too few words abandons silently; the host still gets 0.
    p = ParseWith("Irrri", "1 2 3");
    EXPECT_EQ(p.result, 0);
    EXPECT_FALSE(p.seen);
    EXPECT_TRUE(p.diagnostics.empty());
}

TEST(EffectRun, ImagesAreTakenInListOrder) {
    test::Frame a = test::FilledFrame(352, 240, 1), b = test::FilledFrame(352, 240, 2);
    Parse p = ParseWith("II", "", {a.data(), b.data(), nullptr});
    ASSERT_TRUE(p.seen);
    EXPECT_EQ(p.seen->images[0], a.data());
    EXPECT_EQ(p.seen->images[1], b.data());
    EXPECT_EQ(p.seen->images[2], nullptr);
    EXPECT_EQ(p.seen->in.imageWidth[1], 352);
    EXPECT_EQ(p.seen->in.imageHeight[1], 240);

    p = ParseWith("II", "", {a.data(), nullptr});
    EXPECT_FALSE(p.seen);
    EXPECT_EQ(p.diagnostics, std::vector<std::string>{"<Probe>+1: bad image"});
}

TEST(EffectRun, EachLetterChecksItsToken) {
    struct Case {
        const char *signature, *params, *refusal;  // refusal null: accepted
    };
    const Case cases[] = {
        {"Ii", "2.9", nullptr},
        {"Ii", "1e3", "<Probe>+0: bad integer"},
        {"Iq", "3", nullptr},
        {"Iq", "3.0", "<Probe>+0: bad quality"},
        {"Iq", "-2", nullptr},
        {"Ir", "abc", "<Probe>+0: bad real"},
        {"In", "-.5", nullptr},
        {"IC", "[1]", "<Probe>+0: bad coordinate"},
        {"IC", "[1 x]", "<Probe>+0: bad coordinate"},
        {"IR", "[1 2 3]", "<Probe>+0: bad rectangle (pair)"},
        {"IS", "[1 2 3]", "<Probe>+0: bad size"},
        {"Ic", "[(argb) 1 2 3]", "<Probe>+0: bad color"},
        {"Ifc", "(ARGB) [(argb) 1 2 3 4]", "<Probe>+1: bad format"},
        {"Iri", "x 1", "<Probe>+1: bad real"},
    };
    for (const Case &c : cases) {
        Parse p = ParseWith(c.signature, c.params);
        EXPECT_EQ(p.result, 0);
        EXPECT_EQ(p.seen.has_value(), c.refusal == nullptr) << c.signature << " " << c.params;
        if (c.refusal) {
            EXPECT_EQ(p.diagnostics, std::vector<std::string>{c.refusal}) << c.params;
        }
    }
    EXPECT_EQ(ParseWith("Ii", "2.9").seen->in.ints[0], 2);
    EXPECT_EQ(ParseWith("Iq", "-2").seen->in.ints[0], -2);
    // A letter outside the language abandons silently.
    Parse p = ParseWith("Ix", "1");
    EXPECT_FALSE(p.seen);
    EXPECT_TRUE(p.diagnostics.empty());
}

TEST(EffectRun, CoordinatesScaleByHalfTheWidthOnBothAxes) {
    Parse p = ParseWith("ICCC", "[0 0] [1 1] [-1 0]");
    ASSERT_TRUE(p.seen);
    // Parse order is last first: [-1 0] fills points 0 and 1.
    const double expect[] = {0, 120, 352, 296, 176, 120};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(p.seen->in.points[i], expect[i]) << i;

    p = ParseWith("IR", "[-0.5 -0.5 0.5 0.5]");
    ASSERT_TRUE(p.seen);
    const double rect[] = {88, 32, 264, 208};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(p.seen->in.points[i], rect[i]) << i;
}

TEST(EffectRun, ColoursAreCheckedSilentlyWhenConverted) {
    Parse p = ParseWith("Ic", "[(argb) 255 300 -4 12.7]");
    ASSERT_TRUE(p.seen);
    EXPECT_EQ(p.seen->in.colors[0], PackPixel(255, 255, 0, 12));

    p = ParseWith("Ic", "[(rgb) 1 2 3 4]");
    EXPECT_FALSE(p.seen);
    EXPECT_TRUE(p.diagnostics.empty());
}

TEST(EffectRun, OutputSizeComesFromTheInputsOrTheFormattedSize) {
    // A larger declared output still gets the input-sized frame; a smaller
    // one is refused (the effect would write past its end).
    Parse p = ParseWith("II", "", {}, nullptr, nullptr, 400, 300);
    ASSERT_TRUE(p.seen);
    EXPECT_EQ(p.seen->out.imageWidth[0], 352);
    EXPECT_EQ(p.seen->out.imageHeight[0], 240);
    p = ParseWith("II", "", {}, nullptr, nullptr, 100, 50);
    EXPECT_FALSE(p.seen);
    EXPECT_EQ(p.diagnostics,
              std::vector<std::string>{"<Probe> output frame smaller than the input frames"});

    p = ParseWith("fSc", "(argb) [720 480] [(argb) 255 1 2 3]");
    ASSERT_TRUE(p.seen);
    EXPECT_EQ(p.seen->in.ints[0], 1);
    EXPECT_EQ(p.seen->out.imageWidth[0], 720);
    EXPECT_EQ(p.seen->out.imageHeight[0], 480);
}

TEST(EffectRun, PrepareStepChoosesSizeAndConversions) {
    // Without bit 0 the host's output size is used; without bit 1 coordinates
    // stay unconverted; the prepare step sees the defaulted output size.
    static int32_t seenOutWidth, seenOutHeight;
    static std::string seenCoord;
    PrepareFn prepare = [](const ImageList &, const CoordTexts &coords, ArgBlock &,
                           const OutputList &outputs, EffectJob &job) -> unsigned {
        seenOutWidth = job.outWidth;
        seenOutHeight = job.outHeight;
        seenCoord = std::string(coords[0]);
        EXPECT_EQ(outputs[0], job.output);
        job.outWidth = 17;
        return kConvertColors;
    };
    Parse p = ParseWith("IC", "[0.5 0]", {}, prepare, nullptr, 0, 100);
    ASSERT_TRUE(p.seen);
    EXPECT_EQ(seenOutWidth, 352);
    EXPECT_EQ(seenOutHeight, 100);
    EXPECT_EQ(seenCoord, "0.5");
    EXPECT_EQ(p.seen->out.imageWidth[0], 17);
    EXPECT_EQ(p.seen->out.imageHeight[0], 100);
    EXPECT_EQ(p.seen->in.points[0], 0.0);
}

TEST(EffectRun, ScratchIsSizedAfterParsingAndZeroed) {
    ScratchFn scratch = [](const ArgBlock &, const ArgBlock &out) -> size_t {
        ScratchPlan plan;
        plan.Take<float>(static_cast<size_t>(out.imageWidth[0]));
        plan.Take<double>(3);
        return plan.Bytes();
    };
    Parse p = ParseWith("I", "", {}, nullptr, scratch);
    ASSERT_TRUE(p.seen);
    EXPECT_GE(p.seen->scratchBytes, 352 * sizeof(float) + 3 * sizeof(double));
    EXPECT_TRUE(p.seen->scratchZeroed);
}

}  // namespace
}  // namespace kve
