// The whole-register words every family's wide integer rows start from: a
// register of pixels, its loads and stores, and the few plain operations the
// families share. A family's AVX2 or AVX-512 namespace takes them with
// `using namespace lanes::avx2;` (or avx512) inside its own target region and
// adds the operations only it needs.
#pragma once

#if defined(__x86_64__)
#include <immintrin.h>

#include <cstdint>

#include "engine/cpu.h"
#include "interface/pixel.h"

namespace kve::lanes {

KVE_TARGET_AVX2_BEGIN
namespace avx2 {
using Vec = __m256i;
constexpr int32_t kLanes = 8;  // pixels a register
inline Vec Load(const Pixel *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}
inline void Store(Pixel *p, Vec v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v);
}
inline Vec Zero() {
    return _mm256_setzero_si256();
}
inline Vec Set16(int16_t v) {
    return _mm256_set1_epi16(v);
}
inline Vec Add32(Vec a, Vec b) {
    return _mm256_add_epi32(a, b);
}
inline Vec And(Vec a, Vec b) {
    return _mm256_and_si256(a, b);
}
inline Vec Or(Vec a, Vec b) {
    return _mm256_or_si256(a, b);
}
}  // namespace avx2
KVE_TARGET_END

KVE_TARGET_AVX512_BEGIN
namespace avx512 {
using Vec = __m512i;
constexpr int32_t kLanes = 16;  // pixels a register
inline Vec Load(const Pixel *p) {
    return _mm512_loadu_si512(p);
}
inline void Store(Pixel *p, Vec v) {
    _mm512_storeu_si512(p, v);
}
inline Vec Zero() {
    return _mm512_setzero_si512();
}
inline Vec Set16(int16_t v) {
    return _mm512_set1_epi16(v);
}
inline Vec Add32(Vec a, Vec b) {
    return _mm512_add_epi32(a, b);
}
inline Vec And(Vec a, Vec b) {
    return _mm512_and_si512(a, b);
}
inline Vec Or(Vec a, Vec b) {
    return _mm512_or_si512(a, b);
}
}  // namespace avx512
KVE_TARGET_END

}  // namespace kve::lanes

#endif
