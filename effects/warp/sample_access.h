// What the warp samplers share: source access by the tiling rule, channel
// sums, the Gaussian weight table, the radii, Jacobians and bilinear
// sampling. Internal to the warp family.
#pragma once

#include <xmmintrin.h>

#include <cmath>
#include <cstdint>

#include "effects/warp/samplers.h"
#include "interface/pixel.h"

namespace kve {

// Reads source pixels with the tiling rule: folded when tiling is on, nothing
// (null) outside the frame when it is off.
struct WarpSource {
    const ScanCache &cache;
    int32_t tiling;
    int64_t row = INT64_MIN;
    const Pixel *pixels = nullptr;

    // Row r, or null when it lies outside and tiling is off.
    const Pixel *Row(int64_t r) {
        if (r == row) return pixels;
        row = r;
        if (r < 0 || r >= cache.height) {
            pixels =
                tiling ? ScanCache_GetLine(cache, WrapIndex(r, cache.height, tiling)) : nullptr;
        } else {
            pixels = ScanCache_GetLine(cache, r);
        }
        return pixels;
    }
    // Column c of a row from Row(), or false when it lies outside and tiling is off.
    bool At(const Pixel *line, int64_t c, Pixel &p) const {
        if (c >= 0 && c < cache.width) {
            p = line[c];
            return true;
        }
        if (!tiling) return false;
        p = line[WrapIndex(c, cache.width, tiling)];
        return true;
    }
};

// A finite coordinate brought near the frame when tiling would fold it
// anyway: fmod by the mirrored period 2n is exact and keeps the fraction.
inline double NearFrame(double v, int32_t n) {
    return std::fabs(v) < 1e15 ? v : std::fmod(v, 2.0 * n);
}

// Source pixels are read along slanted lines that the hardware prefetcher
// does not follow, so the rows under the position this many pixels ahead
// are requested early. Positions outside the frame request nothing.
constexpr int kPrefetchAhead = 16;

inline void PrefetchSource(const ScanCache &cache, const Vec2 *pts, int i, int n) {
    if (i + kPrefetchAhead >= n) return;
    const Vec2 p = pts[i + kPrefetchAhead];
    if (p.x >= 0 && p.x < cache.width && p.y >= 0 && p.y < cache.height - 1) {
        const Pixel *at = cache.frame +
                          static_cast<size_t>(static_cast<int32_t>(p.y)) * cache.width +
                          static_cast<int32_t>(p.x);
        _mm_prefetch(reinterpret_cast<const char *>(at), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char *>(at + cache.width), _MM_HINT_T0);
    }
}

// Halves away from zero, on a value known to fit.
inline int64_t RoundToIndex(double v) {
    return static_cast<int64_t>(v > 0 ? v + 0.5 : v - 0.5);
}

// Channel sums of weighted pixels, as doubles in the order the taps come.
struct ChannelSums {
    double a = 0, r = 0, g = 0, b = 0;
    void Add(double w, Pixel p) {
        a += w * AlphaOf(p);
        r += w * RedOf(p);
        g += w * GreenOf(p);
        b += w * BlueOf(p);
    }
};

// Gaussian weights: entry i = e^(-K i / 1023), K = ln 10, so entry 0 is 1 and
// entry 1023 is 0.1. A squared normalised distance q in [0, 1] reads entry
// trunc(1023 q).
void BuildWeightTable(double *table);

inline double Weight(const double *table, double q) {
    return table[static_cast<int>(1023 * q)];
}

// R, Rmax and the EWA eigenvalue limits for the call.
void SetRadii(SamplerMemory &m, const WarpState &s);

struct Jacobian {
    double xu, xv, yu, yv;
    bool Small() const {
        auto in = [](double v) { return v >= -1.5 && v <= 1.5; };
        return in(xu) && in(xv) && in(yu) && in(yv);
    }
};

// The Jacobian at one output position, by the mapping's own rule.
Jacobian JacobianAt(WarpState &s, Vec2 at);

// Bilinear sampling at (x, y) by the tiling rule; 0 for positions whose taps
// are all outside without tiling.
Pixel Bilinear(WarpSource &src, double x, double y);
// The same as four taps, each by the tiling rule; a tap of weight exactly 1
// is copied as it is. The plain per-tap form, right everywhere.
Pixel BilinearTaps(WarpSource &src, double x, double y);

// Rows of samples at n positions, by the CPU level's rows; every level gives
// the same words as the plain per-pixel form.
void BilinearRow(WarpSource &src, const Vec2 *pts, int n, Pixel *out);
// The source pixel under each position: column trunc(x), row trunc(y).
void NearestRow(const ScanCache &cache, int32_t tiling, const Vec2 *pts, int n, Pixel *out);

}  // namespace kve
