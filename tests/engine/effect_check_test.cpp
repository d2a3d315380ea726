// CheckEffect: what a command would do, without drawing.
#include <gtest/gtest.h>

#include "engine/effect_run.h"
#include "support/frames.h"

namespace kve {
namespace {

using test::DiagCapture;
using test::Frame;
using test::PictureFrame;

TEST(EffectCheck, ReadyCommandsReportTheSizeARunWrites) {
    Frame a = PictureFrame(7, 5, 1), b = PictureFrame(7, 5, 2);
    uint32_t *inputs[] = {a.data(), b.data(), nullptr};
    const EffectCheck same = CheckEffect("  Add", inputs, 7, 5, 0, 0);
    EXPECT_EQ(same.status, EffectCheck::kReady);
    EXPECT_EQ(same.outWidth, 7);
    EXPECT_EQ(same.outHeight, 5);
    // Without a prepare step the output is sized like the inputs, as a run draws it.
    const EffectCheck asked = CheckEffect("Negate", inputs, 7, 5, 9, 0);
    EXPECT_EQ(asked.status, EffectCheck::kReady);
    EXPECT_EQ(asked.outWidth, 7);
    EXPECT_EQ(asked.outHeight, 5);
    // A declared output too small for that frame is refused, as a run refuses it.
    EXPECT_EQ(CheckEffect("Negate", inputs, 7, 5, 3, 0).status, EffectCheck::kAbandoned);
}

TEST(EffectCheck, SizesTheOutputAsTheEffectWillDrawIt) {
    Frame a = PictureFrame(352, 240, 1);
    uint32_t *inputs[] = {a.data(), nullptr};
    // A sized fill draws at the size its command names.
    const EffectCheck fill =
        CheckEffect("Color1 (argb) [5 3] [(argb) 255 1 2 3]", inputs, 352, 240, 0, 0);
    EXPECT_EQ(fill.status, EffectCheck::kReady);
    EXPECT_EQ(fill.outWidth, 5);
    EXPECT_EQ(fill.outHeight, 3);
    // Crop's prepare step sizes the cut as KVE_GetCropSizeBySize does.
    int32_t w = 0, h = 0;
    KVE_GetCropSizeBySize(-0.5f, -0.25f, 0.5f, 0.25f, 352, 240, &w, &h);
    const EffectCheck crop = CheckEffect("Crop [-0.5 -0.25 0.5 0.25] 0 0", inputs, 352, 240, 0, 0);
    EXPECT_EQ(crop.status, EffectCheck::kReady);
    EXPECT_EQ(crop.outWidth, w);
    EXPECT_EQ(crop.outHeight, h);
    // A named size no frame could have is refused before anything is allocated.
    DiagCapture diagnostics;
    EXPECT_EQ(CheckEffect("Color1 (argb) [2000000000 2000000000] [(argb) 255 1 2 3]", inputs, 352,
                          240, 0, 0)
                  .status,
              EffectCheck::kAbandoned);
    ASSERT_EQ(diagnostics.Lines().size(), 1u);
    EXPECT_EQ(diagnostics.Lines()[0], "<Color1> output size 2000000000 x 2000000000 too large");
}

TEST(EffectCheck, RefusalsAreFoundBeforeAnythingIsDrawn) {
    Frame a = PictureFrame(4, 4, 1);
    uint32_t *one[] = {a.data(), nullptr};
    EXPECT_EQ(CheckEffect("Negatee", one, 4, 4, 0, 0).status, EffectCheck::kUnknownName);
    EXPECT_EQ(CheckEffect(nullptr, one, 4, 4, 0, 0).status, EffectCheck::kUnknownName);
    EXPECT_EQ(CheckEffect("", one, 4, 4, 0, 0).status, EffectCheck::kUnknownName);

    DiagCapture diagnostics;
    // The second frame of a two-frame effect is missing: reported as a run reports it.
    EXPECT_EQ(CheckEffect("Sub", one, 4, 4, 0, 0).status, EffectCheck::kAbandoned);
    ASSERT_EQ(diagnostics.Lines().size(), 1u);
    EXPECT_EQ(diagnostics.Lines()[0], "<Sub>+1: bad image");
    // Nothing to draw into.
    EXPECT_EQ(CheckEffect("Negate", one, 0, 4, 0, 0).status, EffectCheck::kAbandoned);
}

TEST(EffectCheck, RunAfterCheckGivesTheSameFrameAsARunAlone) {
    Frame a = PictureFrame(9, 3, 1), b = PictureFrame(9, 3, 2);
    uint32_t *inputs[] = {a.data(), b.data(), nullptr};
    const auto alone = test::RunEffect("Xor", {&a, &b}, 9, 3);
    ASSERT_EQ(CheckEffect("Xor", inputs, 9, 3, 0, 0).status, EffectCheck::kReady);
    const auto after = test::RunEffect("Xor", {&a, &b}, 9, 3);
    EXPECT_EQ(alone.output, after.output);
}

}  // namespace
}  // namespace kve
