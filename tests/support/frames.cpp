#include "support/frames.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "engine/diag.h"

namespace kve::test {

Frame NoiseFrame(int32_t width, int32_t height, uint32_t seed) {
    Frame frame(static_cast<size_t>(width) * static_cast<size_t>(height));
    uint64_t state = 0x9E3779B97F4A7C15ull * (seed + 1);
    for (uint32_t &word : frame) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        word = static_cast<uint32_t>(state >> 32);
    }
    return frame;
}

Frame PictureFrame(int32_t width, int32_t height, uint32_t seed) {
    Frame frame(static_cast<size_t>(width) * static_cast<size_t>(height));
    const double cx = width * (0.4 + 0.05 * (seed % 3)), cy = height * 0.5;
    const double radius = std::min(width, height) * 0.3;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint32_t r = static_cast<uint32_t>(x * 255 / std::max(1, width - 1));
            uint32_t g = static_cast<uint32_t>(y * 255 / std::max(1, height - 1));
            uint32_t b = ((x / 16 + y / 16 + seed) % 2) ? 200 : 40;
            const double dx = x - cx, dy = y - cy;
            if (dx * dx + dy * dy < radius * radius) std::swap(r, b);
            if (seed % 2) std::swap(r, g);
            const uint32_t a = (x + y + seed * 37) & 0xFF;
            frame[static_cast<size_t>(y) * width + x] = a | r << 8 | g << 16 | b << 24;
        }
    }
    return frame;
}

Frame FilledFrame(int32_t width, int32_t height, uint32_t word) {
    return Frame(static_cast<size_t>(width) * static_cast<size_t>(height), word);
}

std::string Checksum(const Frame &frame) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (uint32_t word : frame) {
        for (int shift = 0; shift < 32; shift += 8) {
            hash ^= (word >> shift) & 0xFF;
            hash *= 0x100000001b3ull;
        }
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

RunResult RunEffect(std::string_view command, std::vector<Frame *> inputs, int32_t width,
                    int32_t height, int32_t outWidth, int32_t outHeight, uint32_t fill,
                    MonitorHook *monitor) {
    const int32_t w = outWidth ? outWidth : width, h = outHeight ? outHeight : height;
    RunResult run{0, FilledFrame(w, h, fill)};
    std::vector<uint32_t *> list;
    for (Frame *frame : inputs)
        list.push_back(frame->data());
    list.push_back(nullptr);
    const std::string text(command);
    run.result = KVE_EffectBySize(text.c_str(), list.data(), width, height, run.output.data(),
                                  outWidth, outHeight, monitor);
    return run;
}

DiagCapture::DiagCapture() {
    SetDiagnosticSink(&DiagCapture::Sink, this);
}
DiagCapture::~DiagCapture() {
    SetDiagnosticSink(nullptr);
}
void DiagCapture::Sink(std::string_view text, void *self) {
    static_cast<DiagCapture *>(self)->lines_.emplace_back(text);
}

std::string GoldenKey(std::string command) {
    for (char &c : command)
        if (c == ' ') c = '_';
    return command;
}

bool GoldenFile::Updating() {
    const char *flag = std::getenv("KVE_UPDATE_GOLDEN");
    return flag && *flag && std::string_view(flag) != "0";
}

GoldenFile::GoldenFile(std::string name) : path_(std::string(KVE_GOLDEN_DIR) + "/" + name) {
    std::ifstream file(path_);
    std::string key, value;
    while (file >> key >> value)
        stored_[key] = value;
}

GoldenFile::~GoldenFile() {
    if (!Updating() || seen_.empty()) return;
    // Keep cases this run did not reach (a filtered run) and replace the rest.
    std::map<std::string, std::string> merged = stored_;
    for (const auto &[key, value] : seen_)
        merged[key] = value;
    std::ofstream file(path_);
    for (const auto &[key, value] : merged)
        file << key << ' ' << value << '\n';
}

std::string GoldenFile::Expect(const std::string &key, const std::string &actual) {
    seen_[key] = actual;
    if (Updating()) return actual;
    auto found = stored_.find(key);
    return found == stored_.end() ? std::string() : found->second;
}

}  // namespace kve::test
