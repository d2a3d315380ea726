#include "cli/png_io.h"

#include <spng.h>

#include <cstdlib>
#include <memory>

#include "cli/files.h"
#include "cli/status.h"

namespace kvecli {

namespace {

struct ContextFree {
    void operator()(spng_ctx *ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, ContextFree>;

// Larger pictures than this are refused before any pixel memory is taken.
constexpr uint32_t kMaxSide = 65535;
constexpr uint64_t kMaxPixels = uint64_t{1} << 28;

Failure Damaged(const std::string &name, int error) {
    return Failure(Exit::kIo, name + ": not a readable PNG file (" + spng_strerror(error) + ")");
}

}  // namespace

Image DecodePng(std::span<const unsigned char> bytes, const std::string &name) {
    Context ctx(spng_ctx_new(0));
    if (!ctx) throw Failure(Exit::kInternal, "out of memory");
    spng_set_image_limits(ctx.get(), kMaxSide, kMaxSide);
    spng_set_chunk_limits(ctx.get(), 1u << 26, 1u << 26);
    int error = spng_set_png_buffer(ctx.get(), bytes.data(), bytes.size());
    spng_ihdr ihdr{};
    if (!error) error = spng_get_ihdr(ctx.get(), &ihdr);
    if (error) throw Damaged(name, error);
    if (uint64_t{ihdr.width} * ihdr.height > kMaxPixels)
        throw Failure(Exit::kIo, name + ": picture too large");
    size_t size = 0;
    error = spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size);
    if (error) throw Damaged(name, error);
    std::vector<unsigned char> rgba(size);
    error = spng_decode_image(ctx.get(), rgba.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
    if (error) throw Damaged(name, error);

    Image image(static_cast<int32_t>(ihdr.width), static_cast<int32_t>(ihdr.height));
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        const unsigned char *p = &rgba[i * 4];
        image.pixels[i] =
            uint32_t{p[3]} | uint32_t{p[0]} << 8 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 24;
    }
    return image;
}

Image ReadPng(const std::string &path) {
    return DecodePng(ReadWholeFile(path), path);
}

std::vector<unsigned char> EncodePng(const Image &image, bool keepAlpha) {
    Context ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) throw Failure(Exit::kInternal, "out of memory");
    spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{};
    ihdr.width = static_cast<uint32_t>(image.width);
    ihdr.height = static_cast<uint32_t>(image.height);
    ihdr.bit_depth = 8;
    ihdr.color_type = keepAlpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
    const size_t channels = keepAlpha ? 4 : 3;
    std::vector<unsigned char> bytes(image.pixels.size() * channels);
    unsigned char *out = bytes.data();
    for (const uint32_t word : image.pixels) {
        *out++ = static_cast<unsigned char>(word >> 8);
        *out++ = static_cast<unsigned char>(word >> 16);
        *out++ = static_cast<unsigned char>(word >> 24);
        if (keepAlpha) *out++ = static_cast<unsigned char>(word);
    }
    int error = spng_set_ihdr(ctx.get(), &ihdr);
    if (!error)
        error = spng_encode_image(ctx.get(), bytes.data(), bytes.size(), SPNG_FMT_PNG,
                                  SPNG_ENCODE_FINALIZE);
    size_t length = 0;
    void *png = error ? nullptr : spng_get_png_buffer(ctx.get(), &length, &error);
    if (!png)
        throw Failure(Exit::kInternal, std::string("PNG encoding failed: ") + spng_strerror(error));
    std::unique_ptr<void, decltype(&std::free)> owned(png, &std::free);
    const auto *begin = static_cast<const unsigned char *>(png);
    return {begin, begin + length};
}

void WritePng(const std::string &path, const Image &image, bool keepAlpha) {
    WriteFileAtomically(path, EncodePng(image, keepAlpha));
}

}  // namespace kvecli
