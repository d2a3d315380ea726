// Wipe keys four (AVX2) and eight (AVX-512) at a time: the arithmetic
// vocabulary the edge and circle key loops share, each operation the scalar
// one lane for lane (no fused multiply-adds, ordered comparisons), so every
// key is the reference's. Used only through rows of a level the CPU has.
#pragma once

#if defined(__x86_64__)
#include <immintrin.h>

#include <cstdint>

#include "effects/wipe/patterns.h"
#include "engine/cpu.h"

namespace kve {

// EdgeKeyOf of several ramps in one lane type L (L::Splat makes a constant;
// the operators, comparisons, Choose, Min and Max are found beside L): every branch is
// computed with the scalar operations and each lane takes the one its branch
// picks. Always inlined, so it is compiled for the caller's instruction set
// (its argument is a reference: no wide vector is passed by value outside
// a wide region).
template <EdgeKeyKind kind, class L>
[[gnu::always_inline]] inline L EdgeKeyLanes(const L &t) {
    const L one = L::Splat(1), zero = L::Splat(0), half = L::Splat(0.5);
    const L rising = one - L::Splat(2) * t * t;
    const L u = one - t;
    const L falling = L::Splat(2) * u * u;
    L k = Choose(Less(t, half), rising, falling);
    if constexpr (kind == EdgeKeyKind::kClamped) {
        k = Min(Max(k, L::Splat(0.0000001)), L::Splat(0.9999999));
        k = Choose(Less(t, one), k, zero);
    } else {
        k = Choose(LessEqual(t, one), k, zero);
    }
    return Choose(LessEqual(t, zero), one, k);
}

KVE_TARGET_AVX2_BEGIN
namespace key_quads {

struct Lanes {
    __m256d v;
    static constexpr int32_t kCount = 4;
    static Lanes Splat(double d) { return {_mm256_set1_pd(d)}; }
    // d, d + 1, d + 2, d + 3: the columns of four neighbouring pixels.
    static Lanes Ramp(double d) { return {_mm256_setr_pd(d, d + 1, d + 2, d + 3)}; }
    static Lanes Load(const double *from) { return {_mm256_loadu_pd(from)}; }
    static void Store(double *to, Lanes p) { _mm256_storeu_pd(to, p.v); }
};
constexpr int32_t kLanes = Lanes::kCount;
inline Lanes Splat(double d) {
    return Lanes::Splat(d);
}
inline Lanes Ramp(double d) {
    return Lanes::Ramp(d);
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
inline Lanes &operator*=(Lanes &p, Lanes q) {
    return p = p * q;
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
// Bit i set where lane i of a mask is.
inline uint32_t Bits(Lanes mask) {
    return static_cast<uint32_t>(_mm256_movemask_pd(mask.v));
}
inline bool AllOf(Lanes mask) {
    return Bits(mask) == 0xF;
}
inline Lanes operator|(Lanes p, Lanes q) {
    return {_mm256_or_pd(p.v, q.v)};
}
inline Lanes operator&(Lanes p, Lanes q) {
    return {_mm256_and_pd(p.v, q.v)};
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
// The first `count` lanes only; nothing is touched past them.
inline void StoreFloats(float *to, Lanes p, int32_t count) {
    const __m128i lanes = _mm_cmpgt_epi32(_mm_set1_epi32(count), _mm_setr_epi32(0, 1, 2, 3));
    _mm_maskstore_ps(to, lanes, _mm256_cvtpd_ps(p.v));
}
template <EdgeKeyKind kind>
inline Lanes EdgeKeyOf(Lanes t) {
    return EdgeKeyLanes<kind>(t);
}

}  // namespace key_quads
KVE_TARGET_END

KVE_TARGET_AVX512_BEGIN
namespace key_octs {

// Comparisons give lane masks here; Choose takes them.
struct Mask {
    __mmask8 m;
};
struct Lanes {
    __m512d v;
    static constexpr int32_t kCount = 8;
    static Lanes Splat(double d) { return {_mm512_set1_pd(d)}; }
    // d, d + 1, ..., d + 7: the columns of eight neighbouring pixels.
    static Lanes Ramp(double d) {
        return {_mm512_setr_pd(d, d + 1, d + 2, d + 3, d + 4, d + 5, d + 6, d + 7)};
    }
    static Lanes Load(const double *from) { return {_mm512_loadu_pd(from)}; }
    static void Store(double *to, Lanes p) { _mm512_storeu_pd(to, p.v); }
};
constexpr int32_t kLanes = Lanes::kCount;
inline Lanes Splat(double d) {
    return Lanes::Splat(d);
}
inline Lanes Ramp(double d) {
    return Lanes::Ramp(d);
}
inline Lanes operator+(Lanes p, Lanes q) {
    return {_mm512_add_pd(p.v, q.v)};
}
inline Lanes operator-(Lanes p, Lanes q) {
    return {_mm512_sub_pd(p.v, q.v)};
}
inline Lanes operator*(Lanes p, Lanes q) {
    return {_mm512_mul_pd(p.v, q.v)};
}
inline Lanes operator-(double c, Lanes p) {
    return Splat(c) - p;
}
inline Lanes &operator*=(Lanes &p, Lanes q) {
    return p = p * q;
}
// The masked forms with every lane set are the plain instructions; their
// explicit source keeps the compiler from warning about an undefined one.
inline Lanes Sqrt(Lanes p) {
    return {_mm512_mask_sqrt_pd(p.v, 0xFF, p.v)};
}
inline Mask Less(Lanes p, Lanes q) {
    return {_mm512_cmp_pd_mask(p.v, q.v, _CMP_LT_OQ)};
}
inline Mask LessEqual(Lanes p, Lanes q) {
    return {_mm512_cmp_pd_mask(p.v, q.v, _CMP_LE_OQ)};
}
inline Lanes Choose(Mask mask, Lanes yes, Lanes no) {
    return {_mm512_mask_blend_pd(mask.m, no.v, yes.v)};
}
inline uint32_t Bits(Mask mask) {
    return mask.m;
}
inline bool AllOf(Mask mask) {
    return mask.m == 0xFF;
}
inline Mask operator|(Mask p, Mask q) {
    return {static_cast<__mmask8>(p.m | q.m)};
}
inline Mask operator&(Mask p, Mask q) {
    return {static_cast<__mmask8>(p.m & q.m)};
}
inline Lanes Min(Lanes p, Lanes q) {
    return {_mm512_mask_min_pd(q.v, 0xFF, q.v, p.v)};
}
inline Lanes Max(Lanes p, Lanes q) {
    return {_mm512_mask_max_pd(q.v, 0xFF, q.v, p.v)};
}
inline void StoreFloats(float *to, Lanes p) {
    _mm256_storeu_ps(to, _mm512_mask_cvtpd_ps(_mm256_setzero_ps(), 0xFF, p.v));
}
inline void StoreFloats(float *to, Lanes p, int32_t count) {
    const __mmask8 lanes = static_cast<__mmask8>((1u << count) - 1);
    _mm256_mask_storeu_ps(to, lanes, _mm512_mask_cvtpd_ps(_mm256_setzero_ps(), 0xFF, p.v));
}
template <EdgeKeyKind kind>
inline Lanes EdgeKeyOf(Lanes t) {
    return EdgeKeyLanes<kind>(t);
}

}  // namespace key_octs
KVE_TARGET_END

}  // namespace kve
#endif
