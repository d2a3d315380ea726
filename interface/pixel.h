// Building output pixel words from channel values.
#pragma once

#include <cstdint>

namespace kve {

constexpr int32_t ClampChannel(int32_t v) {
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

// Pixel word layout: alpha in bits 0-7, red 8-15, green 16-23, blue 24-31.
constexpr uint32_t PackPixel(int32_t a, int32_t r, int32_t g, int32_t b) {
    return static_cast<uint32_t>(ClampChannel(a)) | static_cast<uint32_t>(ClampChannel(r)) << 8 |
           static_cast<uint32_t>(ClampChannel(g)) << 16 |
           static_cast<uint32_t>(ClampChannel(b)) << 24;
}

constexpr uint32_t PackRGB(int32_t r, int32_t g, int32_t b) {
    return PackPixel(0, r, g, b) & ~0xFFu;
}

constexpr int32_t AlphaOf(uint32_t p) {
    return static_cast<int32_t>(p & 0xFF);
}
constexpr int32_t RedOf(uint32_t p) {
    return static_cast<int32_t>(p >> 8 & 0xFF);
}
constexpr int32_t GreenOf(uint32_t p) {
    return static_cast<int32_t>(p >> 16 & 0xFF);
}
constexpr int32_t BlueOf(uint32_t p) {
    return static_cast<int32_t>(p >> 24);
}

}  // namespace kve
