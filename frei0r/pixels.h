// The byte shuffle at the plugin boundary. Hosts hand frames as R, G, B, A
// bytes; the library's pixel words hold A, R, G, B bytes. Read as
// little-endian words, one is the other rotated by 8 bits, so the effect sees
// exactly the host's bytes, and the host gets exactly the effect's.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kvefrei0r {

void RgbaToLibrary(const uint32_t *in, uint32_t *out, size_t count);
void LibraryToRgba(const uint32_t *in, uint32_t *out, size_t count);

// The plain per-pixel versions, the reference the fast ones are tested against.
void RgbaToLibraryScalar(const uint32_t *in, uint32_t *out, size_t count);
void LibraryToRgbaScalar(const uint32_t *in, uint32_t *out, size_t count);

}  // namespace kvefrei0r
