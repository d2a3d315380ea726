#include "frei0r/pixels.h"

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kvefrei0r {

static_assert(std::endian::native == std::endian::little,
              "the byte order of pixel words assumes a little-endian machine");

void RgbaToLibraryScalar(const uint32_t *in, uint32_t *out, size_t count) {
    for (size_t k = 0; k < count; ++k)
        out[k] = std::rotl(in[k], 8);
}

void LibraryToRgbaScalar(const uint32_t *in, uint32_t *out, size_t count) {
    for (size_t k = 0; k < count; ++k)
        out[k] = std::rotr(in[k], 8);
}

namespace {

// Four pixels at a time: a rotation is two shifts and an OR, which SSE2 (part
// of every x86-64) does on four words at once. Unaligned loads, since hosts
// align frames as they like.
template <int Left>
void Rotate(const uint32_t *in, uint32_t *out, size_t count) {
    size_t k = 0;
#if defined(__SSE2__)
    for (; k + 4 <= count; k += 4) {
        const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + k));
        const __m128i rotated =
            _mm_or_si128(_mm_slli_epi32(words, Left), _mm_srli_epi32(words, 32 - Left));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + k), rotated);
    }
#endif
    for (; k < count; ++k)
        out[k] = std::rotl(in[k], Left);
}

}  // namespace

void RgbaToLibrary(const uint32_t *in, uint32_t *out, size_t count) {
    Rotate<8>(in, out, count);
}

void LibraryToRgba(const uint32_t *in, uint32_t *out, size_t count) {
    Rotate<24>(in, out, count);
}

}  // namespace kvefrei0r
