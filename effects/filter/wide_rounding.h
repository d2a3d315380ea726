// Double sums of one pixel (four channels in an AVX2 vector) or two pixels
// (eight channels in an AVX-512 vector) rounded and packed as
// PackRoundedLanes rounds and packs them, for the filters' wide rows.
#pragma once

#if defined(__x86_64__)
#include <immintrin.h>

#include "engine/cpu.h"
#include "interface/pixel.h"

namespace kve {

KVE_TARGET_AVX2_BEGIN
// A half away from zero added to each lane, as RoundHalfAway adds it (a NaN
// lane takes -0.5).
inline __m256d HalfAwayQuad(__m256d s) {
    const __m256d positive = _mm256_cmp_pd(s, _mm256_setzero_pd(), _CMP_GT_OQ);
    return _mm256_add_pd(s, _mm256_blendv_pd(_mm256_set1_pd(-0.5), _mm256_set1_pd(0.5), positive));
}

// Lanes clamped to -1 .. 256 (a NaN lane to -1) and truncated.
inline __m128i TruncatedQuad(__m256d t) {
    t = _mm256_max_pd(t, _mm256_set1_pd(-1.0));  // the second operand wins over a NaN
    t = _mm256_min_pd(t, _mm256_set1_pd(256.0));
    return _mm256_cvttpd_epi32(t);
}

// One pixel, its lanes rounded, truncated and saturated to bytes.
inline Pixel RoundedQuad(__m256d s) {
    const __m128i v = TruncatedQuad(HalfAwayQuad(s));
    return static_cast<Pixel>(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(v, v), v)));
}
KVE_TARGET_END

KVE_TARGET_AVX512_BEGIN
// A half away from zero added to each lane, as RoundHalfAway adds it (a NaN
// lane takes -0.5).
inline __m512d HalfAwayPair(__m512d s) {
    const __mmask8 positive = _mm512_cmp_pd_mask(s, _mm512_setzero_pd(), _CMP_GT_OQ);
    return _mm512_add_pd(s,
                         _mm512_mask_blend_pd(positive, _mm512_set1_pd(-0.5), _mm512_set1_pd(0.5)));
}

// Lanes clamped to -1 .. 256 (a NaN lane to -1), truncated and saturated to
// bytes: two pixels. The masked forms start from zeros where the plain ones
// start from an undefined vector, which GCC takes for an uninitialised read.
inline void StoreTruncatedPair(Pixel *dst, __m512d t) {
    t = _mm512_maskz_max_pd(0xFF, t, _mm512_set1_pd(-1.0));  // the second operand wins over a NaN
    t = _mm512_maskz_min_pd(0xFF, t, _mm512_set1_pd(256.0));
    const __m256i v = _mm256_max_epi32(_mm512_maskz_cvttpd_epi32(0xFF, t), _mm256_setzero_si256());
    _mm_storel_epi64(reinterpret_cast<__m128i *>(dst), _mm256_maskz_cvtusepi32_epi8(0xFF, v));
}

inline void StoreRoundedPair(Pixel *dst, __m512d s) {
    StoreTruncatedPair(dst, HalfAwayPair(s));
}
KVE_TARGET_END

}  // namespace kve
#endif
