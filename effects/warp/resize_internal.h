// Pieces the files of the resize family share: the direction of an axis,
// row addressing of the vertical passes, and pixel words to and from four
// double channels in two SSE2 registers. Every operation of the fast rows is
// a plain multiply or add in double, so they give the same words as the
// scalar references.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#define KVE_RESIZE_SSE2 1
#endif

#include "effects/warp/resize.h"
#include "engine/job.h"

namespace kve {

// The vertical passes work on runs of this many pixels at a time.
constexpr int32_t kDownRun = 64;

// The axis runs backwards (a mirrored zoom).
inline bool Mirrored(int32_t n, double a, double b, double step) {
    return n > 1 ? b < a : step < 0;
}

// Row c of the intermediate, or the zero row outside the rows it holds.
inline const Pixel *RowOf(int32_t c, const Pixel *const *rows, int32_t firstRow, int32_t rowCount,
                          const Pixel *zeroRow) {
    if (c < firstRow || c >= firstRow + rowCount) return zeroRow;
    return rows[c - firstRow];
}

// The intermediate row a vertical tap names.
inline const Pixel *TapRow(const ClistTap &tap, const Pixel *const *rows, int32_t firstRow) {
    return rows[tap.index - firstRow];
}

#if defined(KVE_RESIZE_SSE2)

struct Channels2 {
    __m128d ar, gb;  // alpha and red; green and blue
};

inline Channels2 LoadPixel(Pixel p) {
    const __m128i zero = _mm_setzero_si128();
    __m128i v = _mm_cvtsi32_si128(static_cast<int32_t>(p));
    v = _mm_unpacklo_epi16(_mm_unpacklo_epi8(v, zero), zero);
    return {_mm_cvtepi32_pd(v), _mm_cvtepi32_pd(_mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)))};
}

// Truncates each channel toward zero and packs it clamped to 0..255, as
// TruncChannel and PackPixel do (pinning to +-1e9 first; NaN becomes -1e9).
inline Pixel StorePixel(__m128d ar, __m128d gb) {
    const __m128d lo = _mm_set1_pd(-1e9), hi = _mm_set1_pd(1e9);
    ar = _mm_min_pd(_mm_max_pd(ar, lo), hi);
    gb = _mm_min_pd(_mm_max_pd(gb, lo), hi);
    __m128i v = _mm_unpacklo_epi64(_mm_cvttpd_epi32(ar), _mm_cvttpd_epi32(gb));
    v = _mm_packs_epi32(v, v);
    v = _mm_packus_epi16(v, v);
    return static_cast<Pixel>(_mm_cvtsi128_si32(v));
}

#endif

}  // namespace kve
