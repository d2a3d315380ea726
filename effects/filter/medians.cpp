// Median and outlier filters over nine-pixel windows: the 3 x 3 square, or
// the cross of five rows and five columns through the pixel.
//
//   Median3x3, MedianX5    red, green and blue each become the median (the
//                          fifth smallest) of the channel's nine values
//   Outlier3x3, OutlierX5  the pixel's colours become the mean of its eight
//                          neighbours when it stands out from them by more
//                          than a threshold
//
// Alpha is always the centre pixel's. Columns beyond the frame repeat the edge
// column and rows y-1, y+1 the edge row, but the cross's rows y-2 and y+2 fall
// back to the centre row itself (so at y = 1 the cross reads row 1 twice, not
// row 0). The medians run a min/max network over packed bytes, four pixels
// and all channels at once, where the window stays inside the row.
#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "effects/filter/filter_ops.h"
#include "engine/drivers.h"
#include "engine/scanner.h"
#include "interface/pixel.h"

namespace kve {

namespace {

// One value of the window: a row and a column offset. Entry 4 is the centre.
struct Tap {
    const Pixel *row;
    int32_t dx;
};
using Window = std::array<Tap, 9>;

Window WindowOf(MedianShape shape, const Pixel *frame, int32_t width, int32_t height, int32_t y) {
    auto row = [&](int32_t r) { return RowPtr(frame, r, width); };
    const Pixel *up = row(y > 0 ? y - 1 : y);
    const Pixel *mid = row(y);
    const Pixel *down = row(y + 1 < height ? y + 1 : y);
    if (shape == MedianShape::kSquare)
        return {{{up, -1},
                 {up, 0},
                 {up, 1},
                 {mid, -1},
                 {mid, 0},
                 {mid, 1},
                 {down, -1},
                 {down, 0},
                 {down, 1}}};
    const Pixel *up2 = row(y >= 2 ? y - 2 : y);
    const Pixel *down2 = row(y < height - 2 ? y + 2 : y);
    return {{{up2, 0},
             {up, 0},
             {mid, -2},
             {mid, -1},
             {mid, 0},
             {mid, 1},
             {mid, 2},
             {down, 0},
             {down2, 0}}};
}

// The nine window words of column x, columns clamped to the row.
void Gather(const Window &w, int32_t width, int32_t x, Pixel *words) {
    for (int i = 0; i < 9; ++i)
        words[i] = w[i].row[std::clamp(x + w[i].dx, 0, width - 1)];
}

Pixel MedianPixel(const Pixel *words) {
    int32_t median[3];
    for (int c = 0; c < 3; ++c) {
        int32_t v[9];
        for (int i = 0; i < 9; ++i)
            v[i] = static_cast<int32_t>(words[i] >> (8 * (c + 1)) & 0xFF);
        std::nth_element(v, v + 4, v + 9);
        median[c] = v[4];
    }
    return PackPixel(AlphaOf(words[4]), median[0], median[1], median[2]);
}

int32_t MedianReach(MedianShape shape) {
    return shape == MedianShape::kSquare ? 1 : 2;
}

// The outlier test of one pixel; neighbours are the window without its centre.
Pixel OutlierPixel(const Pixel *words, int32_t threshold, bool perChannel) {
    const Pixel c = words[4];
    int32_t mean[3], centre[3];
    for (int k = 0; k < 3; ++k) {
        const int shift = 8 * (k + 1);
        int32_t sum = 0;
        for (int i = 0; i < 9; ++i)
            if (i != 4) sum += static_cast<int32_t>(words[i] >> shift & 0xFF);
        mean[k] = sum >> 3;
        centre[k] = static_cast<int32_t>(c >> shift & 0xFF);
    }
    int32_t out[3];
    if (perChannel) {
        for (int k = 0; k < 3; ++k)
            out[k] = threshold < std::abs(mean[k] - centre[k]) ? mean[k] : centre[k];
    } else {
        const int32_t d =
            (mean[0] + mean[1] + mean[2]) / 3 - (centre[0] + centre[1] + centre[2]) / 3;
        const bool replace = threshold < std::abs(d);
        for (int k = 0; k < 3; ++k)
            out[k] = replace ? mean[k] : centre[k];
    }
    return PackPixel(AlphaOf(c), out[0], out[1], out[2]);
}

// The threshold is t * 255 rounded (halves away from zero, saturated); a
// t of 1 or more (in size) tests each channel on its own, which for t >= 1
// replaces nothing and for t <= -1 everything.
void OutlierRow(MedianShape shape, const Pixel *frame, const ArgBlock &in, int32_t y, Pixel *dst) {
    const double t = in.reals[0];
    const int32_t threshold = RoundHalfAway(t * 255);
    const bool perChannel = TruncToInt(t) != 0;
    const int32_t width = in.imageWidth[0];
    const Window w = WindowOf(shape, frame, width, in.imageHeight[0], y);
    Pixel words[9];
    for (int32_t x = 0; x < width; ++x) {
        Gather(w, width, x, words);
        dst[x] = OutlierPixel(words, threshold, perChannel);
    }
}

}  // namespace

void MedianRowReference(MedianShape shape, const Pixel *frame, int32_t width, int32_t height,
                        int32_t y, Pixel *dst) {
    const Window w = WindowOf(shape, frame, width, height, y);
    Pixel words[9];
    for (int32_t x = 0; x < width; ++x) {
        Gather(w, width, x, words);
        dst[x] = MedianPixel(words);
    }
}

#if defined(__SSE2__)
namespace {

inline void Order(__m128i &a, __m128i &b) {
    const __m128i lo = _mm_min_epu8(a, b);
    b = _mm_max_epu8(a, b);
    a = lo;
}

// The median of nine by a 19-step min/max network, byte lane by byte lane.
inline __m128i Median9(__m128i *p) {
    Order(p[1], p[2]);
    Order(p[4], p[5]);
    Order(p[7], p[8]);
    Order(p[0], p[1]);
    Order(p[3], p[4]);
    Order(p[6], p[7]);
    Order(p[1], p[2]);
    Order(p[4], p[5]);
    Order(p[7], p[8]);
    Order(p[0], p[3]);
    Order(p[5], p[8]);
    Order(p[4], p[7]);
    Order(p[3], p[6]);
    Order(p[1], p[4]);
    Order(p[2], p[5]);
    Order(p[4], p[7]);
    Order(p[4], p[2]);
    Order(p[6], p[4]);
    Order(p[4], p[2]);
    return p[4];
}

}  // namespace

// Four pixels per vector: each byte lane is one channel of one pixel, so the
// network takes every channel's median at once; the alpha lanes are then
// replaced by the centre's alpha. Columns whose window leaves the row use the
// reference pixel.
void MedianRowFast(MedianShape shape, const Pixel *frame, int32_t width, int32_t height, int32_t y,
                   Pixel *dst) {
    const Window w = WindowOf(shape, frame, width, height, y);
    const int32_t reach = MedianReach(shape);
    const __m128i alpha = _mm_set1_epi32(0xFF);
    Pixel words[9];
    int32_t x = 0;
    for (; x < std::min(reach, width); ++x) {
        Gather(w, width, x, words);
        dst[x] = MedianPixel(words);
    }
    for (; x + 4 + reach <= width; x += 4) {
        __m128i p[9];
        for (int i = 0; i < 9; ++i)
            p[i] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(w[i].row + x + w[i].dx));
        const __m128i centre = p[4];
        const __m128i m = Median9(p);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + x),
                         _mm_or_si128(_mm_and_si128(centre, alpha), _mm_andnot_si128(alpha, m)));
    }
    for (; x < width; ++x) {
        Gather(w, width, x, words);
        dst[x] = MedianPixel(words);
    }
}
#else
void MedianRowFast(MedianShape shape, const Pixel *frame, int32_t width, int32_t height, int32_t y,
                   Pixel *dst) {
    MedianRowReference(shape, frame, width, height, y, dst);
}
#endif

KVE_LINE_OP(Median3x3LineOp) {
    MedianRowFast(MedianShape::kSquare, inLines[0], in.imageWidth[0], in.imageHeight[0], y,
                  outLines[0]);
}

KVE_LINE_OP(MedianX5LineOp) {
    MedianRowFast(MedianShape::kCross, inLines[0], in.imageWidth[0], in.imageHeight[0], y,
                  outLines[0]);
}

// The integer after the threshold has no effect.
KVE_LINE_OP(Outlier3x3LineOp) {
    OutlierRow(MedianShape::kSquare, inLines[0], in, y, outLines[0]);
}

KVE_LINE_OP(OutlierX5LineOp) {
    OutlierRow(MedianShape::kCross, inLines[0], in, y, outLines[0]);
}

}  // namespace kve
