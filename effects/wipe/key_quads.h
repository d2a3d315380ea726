// Four wipe keys at a time in AVX2 lanes: the arithmetic vocabulary the edge
// and circle key loops share, each operation the scalar one lane for lane
// (no fused multiply-adds, ordered comparisons), so every key is the
// reference's. Used only through rows of a level the CPU has.
#pragma once

#if defined(__x86_64__)
#include <immintrin.h>

#include "effects/wipe/patterns.h"
#include "engine/cpu.h"

namespace kve {

KVE_TARGET_AVX2_BEGIN
namespace key_quads {

struct Lanes {
    __m256d v;
};
constexpr int32_t kLanes = 4;
inline Lanes Splat(double d) {
    return {_mm256_set1_pd(d)};
}
// d, d + 1, d + 2, d + 3: the columns of four neighbouring pixels.
inline Lanes Ramp(double d) {
    return {_mm256_setr_pd(d, d + 1, d + 2, d + 3)};
}
inline Lanes operator+(Lanes p, Lanes q) {
    return {_mm256_add_pd(p.v, q.v)};
}
inline Lanes operator-(Lanes p, Lanes q) {
    return {_mm256_sub_pd(p.v, q.v)};
}
inline Lanes operator*(Lanes p, Lanes q) {
    return {_mm256_mul_pd(p.v, q.v)};
}
inline Lanes operator-(double c, Lanes p) {
    return Splat(c) - p;
}
inline Lanes Sqrt(Lanes p) {
    return {_mm256_sqrt_pd(p.v)};
}
// Ordered, quiet comparisons: false for a NaN lane, as the scalar ones are.
inline Lanes Less(Lanes p, Lanes q) {
    return {_mm256_cmp_pd(p.v, q.v, _CMP_LT_OQ)};
}
inline Lanes LessEqual(Lanes p, Lanes q) {
    return {_mm256_cmp_pd(p.v, q.v, _CMP_LE_OQ)};
}
inline Lanes Choose(Lanes mask, Lanes yes, Lanes no) {
    return {_mm256_blendv_pd(no.v, yes.v, mask.v)};
}
// std::min(p, q) and std::max(p, q) per lane: q < p ? q : p and p < q ? q : p.
inline Lanes Min(Lanes p, Lanes q) {
    return {_mm256_min_pd(q.v, p.v)};
}
inline Lanes Max(Lanes p, Lanes q) {
    return {_mm256_max_pd(q.v, p.v)};
}
inline void StoreFloats(float *to, Lanes p) {
    _mm_storeu_ps(to, _mm256_cvtpd_ps(p.v));
}

// EdgeKeyOf of four ramps, the pairs' form in patterns.h lane for lane.
template <EdgeKeyKind kind>
inline Lanes EdgeKeyOf(Lanes t) {
    const Lanes one = Splat(1), zero = Splat(0), half = Splat(0.5);
    const Lanes rising = one - Splat(2) * t * t;
    const Lanes u = one - t;
    const Lanes falling = Splat(2) * u * u;
    Lanes k = Choose(Less(t, half), rising, falling);
    if constexpr (kind == EdgeKeyKind::kClamped) {
        k = Min(Max(k, Splat(0.0000001)), Splat(0.9999999));
        k = Choose(Less(t, one), k, zero);
    } else {
        k = Choose(LessEqual(t, one), k, zero);
    }
    return Choose(LessEqual(t, zero), one, k);
}

}  // namespace key_quads
KVE_TARGET_END

}  // namespace kve
#endif
