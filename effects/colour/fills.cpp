// Fills: frames made of nothing but colours, at the size the command names.
//
//   Color1  every pixel one colour word, alpha included
//   Color4  a gradient between four corner colours: each row interpolates
//           its left and right ends from the corners above and below, then
//           the pixels between them
//
// The output size is the [w h] of the command (the format word makes the
// engine take it), so neither effect reads an input frame. Color4's fraction
// table holds one entry per output column and lives in the job's scratch.
#include <algorithm>

#include "effects/colour/colour_ops.h"
#include "engine/scratch.h"
#include "interface/pixel.h"

namespace kve {

namespace {

struct Color4State {
    int32_t width, height;
    Pixel topLeft, topRight, bottomLeft, bottomRight;
};

struct Color4Layout {
    Color4State *state;
    float *frac;  // frac[i] = i * (1/W), in single precision
};

Color4Layout Color4LayoutOf(ScratchPlan &plan, const ArgBlock &out) {
    Color4Layout layout;
    layout.state = plan.Take<Color4State>(1);
    layout.frac = plan.Take<float>(static_cast<size_t>(out.imageWidth[0]));
    return layout;
}

constexpr int32_t ChannelAt(Pixel p, int shift) {
    return static_cast<int32_t>(p >> shift & 0xFF);
}

}  // namespace

KVE_LINE_OP(Color1LineOp) {
    std::fill_n(outLines[0], out.imageWidth[0], in.colors[0]);
}

size_t Color4Scratch(const ArgBlock &, const ArgBlock &out) {
    ScratchPlan plan;
    Color4LayoutOf(plan, out);
    return plan.Bytes();
}

// The corners stand in the command as top-left, top-right, bottom-left,
// bottom-right, so the parser leaves them in colors[3] down to colors[0].
//
// Precision is part of the result: the row ends are truncated in double
// precision, the right end only after the left is subtracted, then held as
// floats; the pixels are float sums truncated toward zero. The fractions run
// from 0 to (W-1)/W and the row weight from 0 to (H-1)/H, so the last row and
// column stop one step short of the bottom and right colours.
KVE_LINE_OP(Color4LineOp) {
    ScratchPlan plan(JobScratch(in));
    const Color4Layout layout = Color4LayoutOf(plan, out);
    Color4State &s = *layout.state;
    float *frac = layout.frac;
    if (first) {
        s.width = out.imageWidth[0];
        s.height = out.imageHeight[0];
        s.topLeft = in.colors[3];
        s.topRight = in.colors[2];
        s.bottomLeft = in.colors[1];
        s.bottomRight = in.colors[0];
        const float reciprocal = 1.0f / static_cast<float>(s.width);
        for (int32_t i = 0; i < s.width; ++i)
            frac[i] = static_cast<float>(i) * reciprocal;
    }

    const double g = static_cast<double>(y) / s.height;
    const double h = 1 - g;
    float left[4], span[4];
    for (int k = 0; k < 4; ++k) {
        const int shift = 8 * k;  // alpha, red, green, blue
        const double l = static_cast<int32_t>(g * ChannelAt(s.bottomLeft, shift) +
                                              h * ChannelAt(s.topLeft, shift));
        const double d = static_cast<int32_t>(g * ChannelAt(s.bottomRight, shift) +
                                              h * ChannelAt(s.topRight, shift) - l);
        left[k] = static_cast<float>(l);
        span[k] = static_cast<float>(d);
    }
    Pixel *dst = outLines[0];
    for (int32_t i = 0; i < s.width; ++i) {
        const float f = frac[i];
        dst[i] = PackPixel(static_cast<int32_t>(left[0] + span[0] * f),
                           static_cast<int32_t>(left[1] + span[1] * f),
                           static_cast<int32_t>(left[2] + span[2] * f),
                           static_cast<int32_t>(left[3] + span[3] * f));
    }
}

}  // namespace kve
