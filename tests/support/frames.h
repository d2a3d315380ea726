// Test frames made in code, checksums of whole frames, diagnostic capture and
// golden checksum files.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "libkve.h"

namespace kve::test {

using Frame = std::vector<uint32_t>;

// A deterministic frame of pseudo-random words; `seed` tells frames apart.
Frame NoiseFrame(int32_t width, int32_t height, uint32_t seed);
// A picture with structure (gradients, bars, a disc) so geometry shows.
Frame PictureFrame(int32_t width, int32_t height, uint32_t seed);
Frame FilledFrame(int32_t width, int32_t height, uint32_t word);

// Pixel (x, y) of a frame `w` pixels wide.
inline uint32_t &Px(Frame &f, int32_t w, int32_t x, int32_t y) {
    return f[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)];
}
inline uint32_t Px(const Frame &f, int32_t w, int32_t x, int32_t y) {
    return f[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)];
}

// A position less than one frame size outside 0..n-1, folded back by hand as
// a mirrored copy would show it.
inline int32_t Mirror(int32_t a, int32_t n) {
    return a < 0 ? -1 - a : (a >= n ? 2 * n - 1 - a : a);
}

// FNV-1a over the frame's words, as 16 hex digits.
std::string Checksum(const Frame &frame);

// Runs a command on up to four frames; the output starts filled with `fill`.
struct RunResult {
    int result;
    Frame output;
};
RunResult RunEffect(std::string_view command, std::vector<Frame *> inputs, int32_t width,
                    int32_t height, int32_t outWidth = 0, int32_t outHeight = 0,
                    uint32_t fill = 0xDEADBEEF, MonitorHook *monitor = nullptr);

// Collects the library's diagnostics for its lifetime.
class DiagCapture {
  public:
    DiagCapture();
    ~DiagCapture();
    DiagCapture(const DiagCapture &) = delete;
    DiagCapture &operator=(const DiagCapture &) = delete;
    const std::vector<std::string> &Lines() const { return lines_; }

  private:
    static void Sink(std::string_view text, void *self);
    std::vector<std::string> lines_;
};

// A golden-file key for a command: its blanks made underscores.
std::string GoldenKey(std::string command);

// A file of "case checksum" lines under tests/golden. A case missing from the
// file fails; with KVE_UPDATE_GOLDEN=1 in the environment the file is
// rewritten with what this run computed instead.
class GoldenFile {
  public:
    explicit GoldenFile(std::string name);
    ~GoldenFile();
    // Returns the stored checksum for `key` ("" when there is none) and records `actual`.
    std::string Expect(const std::string &key, const std::string &actual);
    static bool Updating();

  private:
    std::string path_;
    std::map<std::string, std::string> stored_, seen_;
};

}  // namespace kve::test
