#include "cli/image.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>

#include "cli/png_io.h"
#include "cli/status.h"
#include "libkve.h"

namespace kvecli {

namespace {

constexpr int64_t kMaxSide = 65535;
constexpr int64_t kMaxPixels = int64_t{1} << 28;

constexpr uint32_t Word(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    return a | r << 8 | g << 16 | b << 24;
}

constexpr uint32_t Scale(uint32_t word, uint32_t num, uint32_t den) {
    const uint32_t r = ((word >> 8) & 0xFF) * num / den, g = ((word >> 16) & 0xFF) * num / den,
                   b = (word >> 24) * num / den;
    return Word(word & 0xFF, r, g, b);
}

// Position of `v` in 0..255 across `extent` pixels.
uint32_t Ramp(int64_t v, int64_t extent) {
    return static_cast<uint32_t>(v * 255 / std::max<int64_t>(1, extent - 1));
}

bool InDisc(int64_t x, int64_t y, int64_t cx, int64_t cy, int64_t r) {
    const int64_t dx = x - cx, dy = y - cy;
    return dx * dx + dy * dy <= r * r;
}

// Colour bars over a grey ramp and a row of fine blocks, with a grid and a
// ringed disc: edges in both directions, saturated colours, smooth and busy
// areas, so every effect has something to show. A thin margin of zero words
// gives the picture a shape, which the effects that key on non-zero pixels
// (Extract, Blend, Shadow) need to show anything.
Image BarsFrame(Size size) {
    static constexpr uint32_t kBars[] = {Word(255, 192, 192, 192), Word(255, 192, 192, 0),
                                         Word(255, 0, 192, 192),   Word(255, 0, 192, 0),
                                         Word(255, 192, 0, 192),   Word(255, 192, 0, 0),
                                         Word(255, 0, 0, 192)};
    const int64_t w = size.width, h = size.height;
    const int64_t barsEnd = h * 2 / 3, rampEnd = h * 5 / 6;
    const int64_t cell = std::max<int64_t>(4, w / 16);
    const int64_t disc = std::min(w, h) * 28 / 100;
    const int64_t margin = std::min(w, h) / 24;
    Image image(size.width, size.height);
    for (int64_t y = 0; y < h; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            uint32_t p;
            if (y < barsEnd) {
                p = kBars[x * 7 / w];
            } else if (y < rampEnd) {
                const uint32_t v = Ramp(x, w);
                p = Word(255, v, v, v);
            } else {
                p = ((x / std::max<int64_t>(1, cell / 2)) % 2) ? Word(255, 235, 235, 235)
                                                               : Word(255, 16, 16, 16);
            }
            if (x % cell == 0 || y % cell == 0) p = Word(255, 40, 40, 40);
            if (InDisc(x, y, w / 2, barsEnd / 2 + h / 12, disc)) {
                p = InDisc(x, y, w / 2, barsEnd / 2 + h / 12, disc * 85 / 100)
                        ? Word(255, 255, 140 + static_cast<uint32_t>(y * 100 / h), 0)
                        : Word(255, 255, 255, 255);
            }
            if (x < margin || y < margin || x >= w - margin || y >= h - margin) p = 0;
            image.pixels[static_cast<size_t>(y * w + x)] = p;
        }
    }
    return image;
}

// A diagonal gradient under a checker grid, rings and an off-centre disc:
// clearly a different picture from the bars, for the two-frame effects. Its
// alpha ramps from 0 at the left to 255 at the right, so as the key frame of
// a composite it shows the whole range of mixes.
Image GradientFrame(Size size) {
    const int64_t w = size.width, h = size.height;
    const int64_t cell = std::max<int64_t>(4, w / 12);
    const int64_t ringX = w * 65 / 100, ringY = h * 45 / 100;
    const int64_t period = std::max<int64_t>(4, std::min(w, h) / 12);
    const int64_t discX = w * 3 / 10, discY = h * 6 / 10, disc = std::min(w, h) / 5;
    Image image(size.width, size.height);
    for (int64_t y = 0; y < h; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            const uint32_t r = Ramp(x, w), g = Ramp(y, h), b = 255 - (r + g) / 2;
            const uint32_t a = Ramp(x, w);
            uint32_t p = Word(a, r, g, b);
            if ((x / cell + y / cell) % 2) p = Scale(p, 3, 5);
            const int64_t dx = x - ringX, dy = y - ringY;
            const auto d = static_cast<int64_t>(std::sqrt(static_cast<double>(dx * dx + dy * dy)));
            if (d < period * 4 && d % period < 2) p = Word(a, 255, 255, 255);
            if (InDisc(x, y, discX, discY, disc))
                p = InDisc(x, y, discX, discY, disc - std::max<int64_t>(2, disc / 8))
                        ? Word(a, 20, 30, 120)
                        : Word(a, 250, 220, 40);
            image.pixels[static_cast<size_t>(y * w + x)] = p;
        }
    }
    return image;
}

// A matte: a soft disc whose alpha and grey level fall from 255 at the centre
// to 0 at its rim, for the effects that take a key frame.
Image MatteFrame(Size size) {
    const int64_t w = size.width, h = size.height;
    const double radius = std::max(1.0, std::min(w, h) * 0.45);
    Image image(size.width, size.height);
    for (int64_t y = 0; y < h; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            const double dx = static_cast<double>(x - w / 2), dy = static_cast<double>(y - h / 2);
            const double t = 1.0 - std::sqrt(dx * dx + dy * dy) / radius;
            const auto v = static_cast<uint32_t>(std::clamp(t, 0.0, 1.0) * 255.0);
            image.pixels[static_cast<size_t>(y * w + x)] = Word(v, v, v, v);
        }
    }
    return image;
}

Image CheckerFrame(Size size) {
    const int64_t w = size.width, h = size.height, cell = std::max<int64_t>(1, w / 8);
    Image image(size.width, size.height);
    for (int64_t y = 0; y < h; ++y)
        for (int64_t x = 0; x < w; ++x)
            image.pixels[static_cast<size_t>(y * w + x)] =
                ((x / cell + y / cell) % 2) ? Word(255, 255, 255, 255) : Word(255, 0, 0, 0);
    return image;
}

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Frame-sequence files hold 352 x 240 frames whatever the default size.
Image LoadSequenceFrame(const std::string &path, std::string_view number, const std::string &name) {
    uint32_t frameNumber = 0;
    const auto [end, error] =
        std::from_chars(number.data(), number.data() + number.size(), frameNumber);
    if (error != std::errc() || end != number.data() + number.size() || frameNumber == 0)
        throw Failure(Exit::kUsage, name + ": frame numbers of a sequence file start at 1");
    Image image(352, 240);
    if (KVE_FrameGet(path.c_str(), image.pixels.data(), frameNumber) != 0)
        throw Failure(Exit::kIo, name + ": cannot read frame " + std::string(number) +
                                     " of frame-sequence file " + path);
    return image;
}

}  // namespace

Image::Image(int32_t w, int32_t h)
    : width(w), height(h), pixels(static_cast<size_t>(w) * static_cast<size_t>(h)) {}

Size ParseSize(std::string_view text, std::string_view option) {
    const size_t cross = text.find_first_of("xX");
    const std::string_view w = text.substr(0, cross);
    const std::string_view h = cross == std::string_view::npos ? "" : text.substr(cross + 1);
    const auto bad = [&](const std::string &why) {
        return Failure(Exit::kUsage, std::string(option) + " " + std::string(text) + ": " + why);
    };
    if (!AllDigits(w) || !AllDigits(h) || w.size() > 6 || h.size() > 6)
        throw bad("expected WIDTHxHEIGHT, e.g. 640x360");
    int64_t width = 0, height = 0;
    std::from_chars(w.data(), w.data() + w.size(), width);
    std::from_chars(h.data(), h.data() + h.size(), height);
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide)
        throw bad("each side must be 1 to 65535 pixels");
    if (width * height > kMaxPixels) throw bad("more than 2^28 pixels");
    return {static_cast<int32_t>(width), static_cast<int32_t>(height)};
}

std::string SizeText(int32_t width, int32_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

std::vector<Image> SampleFrames(Size size) {
    std::vector<Image> frames;
    frames.push_back(BarsFrame(size));
    frames.push_back(GradientFrame(size));
    frames.push_back(MatteFrame(size));
    frames.push_back(CheckerFrame(size));
    return frames;
}

namespace {

// "FILE:N" names frame N of a frame-sequence file, unless a file has that
// whole name.
bool NamesSequenceFrame(const std::string &name) {
    const size_t colon = name.rfind(':');
    if (colon == std::string::npos || colon == 0 ||
        !AllDigits(std::string_view(name).substr(colon + 1)))
        return false;
    std::error_code ignored;
    return !std::filesystem::exists(name, ignored);
}

}  // namespace

bool NamesStillFrame(const std::string &name) {
    std::string extension = std::filesystem::path(name).extension().string();
    for (char &c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".png" || NamesSequenceFrame(name);
}

Image LoadInput(const std::string &name) {
    if (NamesSequenceFrame(name)) {
        const size_t colon = name.rfind(':');
        return LoadSequenceFrame(name.substr(0, colon), std::string_view(name).substr(colon + 1),
                                 name);
    }
    return ReadPng(name);
}

std::vector<Image> LoadInputs(const std::vector<std::string> &names) {
    std::vector<Image> images;
    for (const std::string &name : names) {
        images.push_back(LoadInput(name));
        const Image &first = images.front(), &last = images.back();
        if (last.width != first.width || last.height != first.height)
            throw Failure(Exit::kIo, "input sizes disagree: " + names.front() + " is " +
                                         SizeText(first.width, first.height) + ", " + name +
                                         " is " + SizeText(last.width, last.height));
    }
    return images;
}

}  // namespace kvecli
