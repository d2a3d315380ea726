// Frames as the tool holds them, the built-in sample frames, and input loading.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvecli {

// A frame in the library's layout: width x height pixel words, alpha in bits
// 0-7, then red, green, blue (bytes A, R, G, B in memory).
struct Image {
    int32_t width = 0, height = 0;
    std::vector<uint32_t> pixels;

    Image() = default;
    Image(int32_t w, int32_t h);
    size_t ByteCount() const { return pixels.size() * sizeof(uint32_t); }
};

struct Size {
    int32_t width, height;
};

// Parses "WxH" (1..65535 each, at most 2^28 pixels); throws a usage failure.
Size ParseSize(std::string_view text, std::string_view option);
std::string SizeText(int32_t width, int32_t height);

// The built-in frames: A (colour bars over a grey ramp, a grid, a disc, inside
// a thin margin of zero words), B (a different picture: diagonal gradient,
// checker grid, rings, an off-centre disc; alpha ramping left to right), C (a
// matte: a soft disc in alpha and grey) and D (an opaque checkerboard).
// Deterministic for every size.
constexpr int kSampleCount = 4;
std::vector<Image> SampleFrames(Size size);

// Loads an input named on the command line: a PNG file, or "FILE:N", frame N
// (from 1) of a frame-sequence file (352 x 240). Throws an I/O failure.
Image LoadInput(const std::string &name);
// Whether LoadInput reads `name` as one still frame (a name ending in .png, or
// FILE:N of a frame-sequence file) rather than, say, a raw stream.
bool NamesStillFrame(const std::string &name);
// Loads every input and checks that they share one size.
std::vector<Image> LoadInputs(const std::vector<std::string> &names);

}  // namespace kvecli
