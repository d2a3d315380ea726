// Keys: effects that make a key mask from a frame or use one.
//
//   LumaKey    0 where the brightest of red, green and blue lies within
//              level +- tolerance (on a 0..255 scale), all ones elsewhere
//   ChromaKey  0 where the colour lies within a distance of the key colour,
//              all ones elsewhere
//   Extract    a solid colour, scaled by a strength, wherever the input word
//              is not 0, and 0 elsewhere
//
// A key mask holds only the words 0 (keyed out) and 0xFFFFFFFF (kept). Each
// effect builds its small table on the first row, in the job's scratch block.
#include "effects/colour/colour_ops.h"
#include "engine/scanner.h"
#include "engine/scratch.h"
#include "interface/pixel.h"

namespace kve {

namespace {

struct ExtractState {
    Pixel fill;
    int32_t width;
};

ExtractState *ExtractLayout(ScratchPlan &plan) {
    return plan.Take<ExtractState>(1);
}

}  // namespace

size_t ExtractScratch(const ArgBlock &, const ArgBlock &) {
    ScratchPlan plan;
    ExtractLayout(plan);
    return plan.Bytes();
}

// Every non-zero word becomes the fill, so any non-zero mask word keys in,
// not only 0xFFFFFFFF.
KVE_LINE_OP(ExtractLineOp) {
    ScratchPlan plan(JobScratch(in));
    ExtractState &state = *ExtractLayout(plan);
    if (first) {
        // Each channel is scaled in its own place in the word and truncated
        // toward zero; PackPixel saturates strengths outside 0..1.
        const double s = in.reals[0];
        const Pixel c = in.colors[0];
        state.fill = PackPixel(TruncToInt(s * AlphaOf(c)), TruncToInt(s * RedOf(c)),
                               TruncToInt(s * GreenOf(c)), TruncToInt(s * BlueOf(c)));
        state.width = in.imageWidth[0];
    }
    const Pixel fill = state.fill;
    const Pixel *src = inLines[0];
    Pixel *dst = outLines[0];
    for (int32_t x = 0; x < state.width; ++x)
        dst[x] = src[x] != 0 ? fill : 0;
}

}  // namespace kve
