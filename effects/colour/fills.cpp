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
// Its rows have a plain reference and an SSE2 variant giving the same words.
#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Reference: channel k of pixel i is the float sum left[k] + span[k] *
// frac[i], truncated toward zero and clamped by PackPixel.
void GradientReference(const float *left, const float *span, const float *frac, Pixel *out,
                       int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        const float f = frac[i];
        out[i] = PackPixel(static_cast<int32_t>(left[0] + span[0] * f),
                           static_cast<int32_t>(left[1] + span[1] * f),
                           static_cast<int32_t>(left[2] + span[2] * f),
                           static_cast<int32_t>(left[3] + span[3] * f));
    }
}

#if defined(__SSE2__)
// The four channels of a pixel are the four lanes, in word order (alpha
// lowest). The lane products and sums are the same single-precision
// operations as the reference; cvttps truncates toward zero like the cast,
// and the two saturating packs clamp to 0..255 like PackPixel.
void GradientFast(const float *left, const float *span, const float *frac, Pixel *out, int32_t n) {
    const __m128 l = _mm_loadu_ps(left), d = _mm_loadu_ps(span);
    auto channels = [&](int32_t i) {
        return _mm_cvttps_epi32(_mm_add_ps(l, _mm_mul_ps(d, _mm_set1_ps(frac[i]))));
    };
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m128i p01 = _mm_packs_epi32(channels(i), channels(i + 1));
        const __m128i p23 = _mm_packs_epi32(channels(i + 2), channels(i + 3));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_packus_epi16(p01, p23));
    }
    GradientReference(left, span, frac + i, out + i, n - i);
}
#else
constexpr GradientRow GradientFast = GradientReference;
#endif

constexpr CpuRows<GradientRow> kGradientRows =
    Sse2Rows<GradientRow>(GradientReference, GradientFast);

}  // namespace

GradientKernel Color4Kernel() {
    return {GradientReference, kGradientRows};
}

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
    kGradientRows.Pick()(left, span, frac, outLines[0], s.width);
}

}  // namespace kve
