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
#include <algorithm>

#include "effects/colour/colour_ops.h"
#include "engine/scanner.h"
#include "engine/scratch.h"
#include "interface/pixel.h"

namespace kve {

namespace {

constexpr Pixel kKeyedOut = 0u;
constexpr Pixel kKept = 0xFFFFFFFFu;

struct LumaKeyState {
    Pixel mask[256];  // by the brightest of red, green and blue
};

struct ChromaKeyState {
    double red, green, blue;
    double threshold;  // squared distance at or below which a colour keys out
};

struct ExtractState {
    Pixel fill;
    int32_t width;
};

ExtractState *ExtractLayout(ScratchPlan &plan) {
    return plan.Take<ExtractState>(1);
}

}  // namespace

size_t LumaKeyScratch(const ArgBlock &, const ArgBlock &) {
    ScratchPlan plan;
    plan.Take<LumaKeyState>(1);
    return plan.Bytes();
}

// Level and tolerance are on a 0..1 scale; the band ends are rounded to
// 0..255 (halves up) and include both ends. A negative tolerance acts like its
// magnitude. Alpha is not read.
KVE_LINE_OP(LumaKeyLineOp) {
    ScratchPlan plan(JobScratch(in));
    LumaKeyState &state = *plan.Take<LumaKeyState>(1);
    if (first) {
        const double level = in.reals[1];
        const double t = in.reals[0] < 0 ? -in.reals[0] : in.reals[0];
        const int32_t lo = TruncToInt((level - t) * 255 + 0.5);
        const int32_t hi = TruncToInt((level + t) * 255 + 0.5);
        for (int32_t v = 0; v < 256; ++v)
            state.mask[v] = lo <= v && v <= hi ? kKeyedOut : kKept;
    }
    const Pixel *src = inLines[0];
    Pixel *dst = outLines[0];
    for (int32_t x = 0; x < out.imageWidth[0]; ++x) {
        const Pixel p = src[x];
        dst[x] = state.mask[std::max({RedOf(p), GreenOf(p), BlueOf(p)})];
    }
}

size_t ChromaKeyScratch(const ArgBlock &, const ArgBlock &) {
    ScratchPlan plan;
    plan.Take<ChromaKeyState>(1);
    return plan.Bytes();
}

// Keys out colours whose squared distance from the key colour is at most
// 3 * (256 * tolerance)^2, the distance exactly at the threshold included.
// Alpha is read from neither the key nor the pixel.
KVE_LINE_OP(ChromaKeyLineOp) {
    ScratchPlan plan(JobScratch(in));
    ChromaKeyState &state = *plan.Take<ChromaKeyState>(1);
    if (first) {
        const Pixel key = in.colors[0];
        state.red = RedOf(key);
        state.green = GreenOf(key);
        state.blue = BlueOf(key);
        const double t = in.reals[0] * 256;
        state.threshold = t * t * 3;
    }
    // The channel differences are whole numbers, so the squared distance is
    // exact in int32 and compares with the threshold exactly as a double sum.
    const int32_t kr = static_cast<int32_t>(state.red), kg = static_cast<int32_t>(state.green),
                  kb = static_cast<int32_t>(state.blue);
    const double threshold = state.threshold;
    const Pixel *src = inLines[0];
    Pixel *dst = outLines[0];
    for (int32_t x = 0; x < out.imageWidth[0]; ++x) {
        const Pixel p = src[x];
        const int32_t dr = kr - RedOf(p), dg = kg - GreenOf(p), db = kb - BlueOf(p);
        const int32_t d2 = dr * dr + dg * dg + db * db;
        dst[x] = d2 > threshold ? kKept : kKeyedOut;
    }
}

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
