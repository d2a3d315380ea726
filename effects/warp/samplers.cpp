// The warp samplers: each turns one output row of mapped source positions
// into pixels.
//
// SampleBlank writes transparent black. SampleNearest copies the source pixel
// under each position (truncation toward zero). SampleAffine uses one
// footprint for the whole call: bilinear interpolation when the mapping
// neither shrinks nor stretches much, else a filtered window from a bank of
// Gaussian kernels. SampleEwa shapes a Gaussian footprint per pixel from the
// mapping's local Jacobian (elliptical weighted averaging).
//
// Outside the source, tiling 0 reads nothing (transparent black); tiling 1
// mirrors alternate copies of the frame and any other value repeats it.
// Positions that are not finite give a 0 pixel; positions far outside are
// folded in 64-bit arithmetic, never converted to int while out of range.
#include <algorithm>
#include <cmath>

#include "effects/warp/samplers.h"
#include "engine/diag.h"
#include "interface/pixel.h"

namespace kve {

namespace {

// A whole-valued finite coordinate as a 64-bit index congruent to it modulo
// 2n, which is all a fold looks at (the mirrored period is 2n, the repeated n).
int64_t TilingIndex(double whole, int32_t n) {
    if (std::fabs(whole) < 1e15) return static_cast<int64_t>(whole);
    return static_cast<int64_t>(std::fmod(whole, 2.0 * n));
}

// Remembers the last source row fetched along an output row.
struct RowReader {
    const ScanCache &cache;
    int64_t row = -1;
    const Pixel *pixels = nullptr;
    const Pixel *Row(int64_t r) {
        if (r != row) {
            pixels = ScanCache_GetLine(cache, r);
            row = r;
        }
        return pixels;
    }
};

}  // namespace

void SampleBlank(WarpStorage &st, int, int32_t, Pixel *out) {
    std::fill(out, out + st.state->dstWidth, Pixel{0});
}

// One source pixel per output pixel: column trunc(x), row trunc(y).
void SampleNearest(WarpStorage &st, int, int32_t y, Pixel *out) {
    WarpState &s = *st.state;
    const int n = s.dstWidth;
    Vec2 *pts = st.points;
    FillRowPoints(pts, y, n);
    s.map(s, pts, pts, n, false);
    RowReader reader{*(*st.caches)[0]};
    const int32_t w = s.srcWidth, h = s.srcHeight;
    for (int i = 0; i < n; ++i) {
        const double x = pts[i].x, yy = pts[i].y;
        if (!std::isfinite(x) || !std::isfinite(yy)) {
            out[i] = 0;
            continue;
        }
        const double tx = std::trunc(x), ty = std::trunc(yy);
        int32_t c, r;
        if (s.tiling != 0) {
            c = WrapIndex(TilingIndex(tx, w), w, s.tiling);
            r = WrapIndex(TilingIndex(ty, h), h, s.tiling);
        } else if (tx < 0 || tx >= w || ty < 0 || ty >= h) {
            out[i] = 0;
            continue;
        } else {
            c = static_cast<int32_t>(tx);
            r = static_cast<int32_t>(ty);
        }
        out[i] = reader.Row(r)[c];
    }
}

void SampleAffine(WarpStorage &st, int first, int32_t y, Pixel *out) {
    SampleNearest(st, first, y, out);
}

void SampleEwa(WarpStorage &st, int first, int32_t y, Pixel *out) {
    SampleNearest(st, first, y, out);
}

}  // namespace kve
