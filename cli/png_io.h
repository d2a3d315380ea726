// PNG files through libspng.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "cli/image.h"

namespace kvecli {

// Decodes any PNG (all bit depths and colour types, transparency chunks
// applied) to pixel words; `name` is used in messages. Throws an I/O failure.
Image DecodePng(std::span<const unsigned char> bytes, const std::string &name);
Image ReadPng(const std::string &path);

// Encodes 8-bit RGB, or RGBA with `keepAlpha`. Many effects write alpha 0, so
// a picture meant for people drops alpha unless asked to keep it.
std::vector<unsigned char> EncodePng(const Image &image, bool keepAlpha);
void WritePng(const std::string &path, const Image &image, bool keepAlpha);

}  // namespace kvecli
