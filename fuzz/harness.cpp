#include "fuzz/harness.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include "engine/effect_table.h"
#include "engine/scanner.h"
#include "libkve.h"

#if defined(__has_include)
#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#endif
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif

namespace kve::fuzz {

namespace {

// Frames larger than this are not allocated: the host would not, and the run
// would be too slow to be worth fuzzing.
constexpr int64_t kMaxPixels = int64_t{1} << 18;

constexpr size_t kGuardWords = 16;
constexpr uint32_t kSentinel = 0xA5C3F00Du;
constexpr uint32_t kOutputMarker = 0xDEADBEEFu;

int64_t PixelCount(int64_t width, int64_t height) {
    return width > 0 && height > 0 ? width * height : 0;
}

// A frame with sentinel words before and after it. Under AddressSanitizer the
// guard words are poisoned too, so a read outside the frame is caught as well.
class GuardedFrame {
  public:
    explicit GuardedFrame(int64_t pixels)
        : pixels_(static_cast<size_t>(pixels)), block_(pixels_ + 2 * kGuardWords, kSentinel) {
        ASAN_POISON_MEMORY_REGION(block_.data(), kGuardWords * 4);
        ASAN_POISON_MEMORY_REGION(block_.data() + kGuardWords + pixels_, kGuardWords * 4);
    }
    ~GuardedFrame() { ASAN_UNPOISON_MEMORY_REGION(block_.data(), block_.size() * 4); }
    GuardedFrame(const GuardedFrame &) = delete;
    GuardedFrame &operator=(const GuardedFrame &) = delete;

    uint32_t *data() { return block_.data() + kGuardWords; }
    size_t pixels() const { return pixels_; }

    // Names each guard zone something wrote into.
    std::string Check(const char *name) {
        ASAN_UNPOISON_MEMORY_REGION(block_.data(), block_.size() * 4);
        std::string problems;
        for (size_t k = 0; k < kGuardWords; ++k) {
            if (block_[k] != kSentinel) {
                problems += std::string("write before ") + name + "\n";
                break;
            }
        }
        for (size_t k = 0; k < kGuardWords; ++k) {
            if (block_[kGuardWords + pixels_ + k] != kSentinel) {
                problems += std::string("write after ") + name + "\n";
                break;
            }
        }
        ASAN_POISON_MEMORY_REGION(block_.data(), kGuardWords * 4);
        ASAN_POISON_MEMORY_REGION(block_.data() + kGuardWords + pixels_, kGuardWords * 4);
        return problems;
    }

  private:
    size_t pixels_;
    std::vector<uint32_t> block_;
};

void FillPattern(uint32_t *frame, size_t pixels, int pattern, int index) {
    uint64_t state = 0x9E3779B97F4A7C15ull * static_cast<uint64_t>(index + 1);
    for (size_t i = 0; i < pixels; ++i) {
        uint32_t word = 0;
        switch (pattern) {
            case 0:
                state = state * 6364136223846793005ull + 1442695040888963407ull;
                word = static_cast<uint32_t>(state >> 32);
                break;
            case 1:
                word = 0;
                break;
            case 2:
                word = 0xFFFFFFFFu;
                break;
            case 3:
                word = static_cast<uint32_t>(i * 2654435761u) ^ static_cast<uint32_t>(index);
                break;
            case 4:
                word = ((i ^ static_cast<size_t>(index)) & 1) ? 0xFFFFFFFFu : 0u;
                break;
            case 5:
                word = 0x000000FFu;
                break;
            case 6:
                word = 0xFF000000u | static_cast<uint32_t>(i & 0xFFFFFF);
                break;
            default:
                word = 0x80808080u;
                break;
        }
        frame[i] = word;
    }
}

// ---- monitors ----------------------------------------------------------------

struct MonitorState {
    int stopRow = 0;
    bool stopped = false;
    std::string problems;
};

// The process-wide handler gets no user data: its state is per thread.
thread_local MonitorState *processState = nullptr;

void CheckInfo(const MonitorInfo *info, MonitorState &state) {
    if (!info) {
        state.problems += "monitor called without a report\n";
        return;
    }
    if (info->totalRows <= 0 || info->currentRow < 0 || info->currentRow >= info->totalRows)
        state.problems += "monitor report out of range: row " + std::to_string(info->currentRow) +
                          " of " + std::to_string(info->totalRows) + "\n";
}

int StopAtRow(MonitorInfo *info, MonitorState &state) {
    CheckInfo(info, state);
    if (info && info->currentRow >= state.stopRow) {
        state.stopped = true;
        return 0;
    }
    return 1;
}

int HookStops(MonitorInfo *info, void *userData) {
    return StopAtRow(info, *static_cast<MonitorState *>(userData));
}

int ProcessStops(MonitorInfo *info, void *userData) {
    if (userData) processState->problems += "process-wide handler given user data\n";
    return StopAtRow(info, *processState);
}

// Runs another effect from inside the progress report, as a host may.
int HookReenters(MonitorInfo *info, void *userData) {
    auto &state = *static_cast<MonitorState *>(userData);
    CheckInfo(info, state);
    GuardedFrame in(6), out(6);
    FillPattern(in.data(), 6, 0, 9);
    uint32_t *inputs[] = {in.data(), nullptr};
    if (KVE_EffectBySize("Negate", inputs, 3, 2, out.data(), 0, 0, nullptr) != 0)
        state.problems += "nested Negate failed\n";
    for (size_t i = 0; i < 6; ++i)
        if (out.data()[i] != ~in.data()[i]) {
            state.problems += "nested Negate wrong\n";
            break;
        }
    state.problems += in.Check("nested input") + out.Check("nested output");
    return 1;
}

// ---- frame-sequence files --------------------------------------------------------

// Two temporary files, made once: one holding two whole frames, one that ends
// a byte short of its first frame. They are unlinked at once and read through
// /proc/self/fd, so nothing is left behind however the process ends.
class SequenceFiles {
  public:
    SequenceFiles()
        : complete_(Make(65536 + 393216 + 352 * 240 * 4)),
          truncated_(Make(65536 + 352 * 240 * 4 - 1)) {}
    const std::string &Complete() const { return complete_; }
    const std::string &Truncated() const { return truncated_; }

  private:
    static std::string Make(size_t bytes) {
        char name[] = "/tmp/kve_fuzz_XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0) return "";
        unlink(name);
        std::vector<unsigned char> content(bytes);
        for (size_t i = 0; i < bytes; ++i)
            content[i] = static_cast<unsigned char>(i * 7 + (i >> 16));
        size_t done = 0;
        while (done < bytes) {
            const ssize_t n = write(fd, content.data() + done, bytes - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        return "/proc/self/fd/" + std::to_string(fd);
    }
    std::string complete_, truncated_;
};

std::string ProbeFrameGet(const Header &header) {
    static SequenceFiles files;
    constexpr uint32_t kNumbers[] = {0, 1, 2, 3, 0xFFFFFFFFu, 0x80000000u, 10923, 1u << 20};
    const uint32_t number = kNumbers[header.stopRow & 7];
    const std::string &path = (header.stopRow & 8) ? files.Truncated() : files.Complete();
    GuardedFrame frame(352 * 240);
    const char *pathText = (header.stopRow & 16) ? "/nonexistent/kve" : path.c_str();
    const int result = KVE_FrameGet(pathText, frame.data(), number);
    std::string problems;
    if (result != 0 && result != 1)
        problems += "KVE_FrameGet result " + std::to_string(result) + "\n";
    const bool readable = !(header.stopRow & 24) && (number == 1 || number == 2);
    if (readable != (result == 0))
        problems += "KVE_FrameGet of frame " + std::to_string(number) + " gave " +
                    std::to_string(result) + "\n";
    if (KVE_FrameGet(nullptr, frame.data(), 1) != 1 || KVE_FrameGet(path.c_str(), nullptr, 1) != 1)
        problems += "KVE_FrameGet accepted a null pointer\n";
    return problems + frame.Check("KVE_FrameGet frame");
}

std::string ProbeCropSize(const uint8_t *bytes, int32_t width, int32_t height) {
    float corner[4];
    std::memcpy(corner, bytes, sizeof corner);
    int32_t w = -7, h = -7;
    KVE_GetCropSizeBySize(corner[0], corner[1], corner[2], corner[3], width, height, &w, &h);
    KVE_GetCropSizeBySize(corner[0], corner[1], corner[2], corner[3], width, height, nullptr,
                          nullptr);
    int32_t w2 = -7, h2 = -7;
    KVE_GetCropSizeBySize(corner[2], corner[3], corner[0], corner[1], width, height, &w2, &h2);
    // A NaN corner has no place in the order; any size is as good as another.
    for (float c : corner)
        if (std::isnan(c)) return "";
    if (w != w2 || h != h2) return "crop size depends on the corner order\n";
    if (w < 1 || h < 1) return "crop size below 1 x 1\n";
    return "";
}

// The words of the parameter text the parser would take for each signature
// letter, or nothing when the text has too few of them (the effect is then
// abandoned and draws nothing).
struct Command {
    const EffectRow *row = nullptr;
    std::string_view params;
};

Command SplitCommand(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    size_t length = 0;
    while (length < text.size() && length < 19 && !IsBlank(text[length]))
        ++length;
    Command command{FindEffect(text.substr(0, length)), text.substr(length)};
    command.params = TrimBlanks(command.params);
    return command;
}

std::optional<std::vector<std::string_view>> LetterTokens(const Command &command) {
    const std::string_view signature = command.row->signature;
    std::vector<std::string_view> tokens(signature.size());
    TokenScanner scanner(command.params);
    for (size_t position = signature.size(); position-- > 0;) {
        if (signature[position] == 'I') continue;
        auto token = scanner.Next();
        if (!token) return std::nullopt;
        tokens[position] = *token;
    }
    return tokens;
}

std::optional<double> ListNumber(std::string_view token, int k) {
    auto word = ItemText(token, k);
    if (!word || !IsNumber(*word)) return std::nullopt;
    return RealValue(*word);
}

}  // namespace

int32_t DecodeSize(uint8_t code) {
    constexpr int32_t kSpecial[16] = {-1,    -2,    std::numeric_limits<int32_t>::min(),
                                      64,    100,   127,
                                      255,   256,   352,
                                      353,   1000,  10001,
                                      16384, 16385, 20000,
                                      240};
    return code < 240 ? code % 48 : kSpecial[code - 240];
}

std::string Encode(const Header &header, std::string_view command) {
    std::string bytes(kHeaderBytes, '\0');
    const uint8_t fields[kHeaderBytes] = {header.width,     header.height, header.outWidth,
                                          header.outHeight, header.frames, header.monitor,
                                          header.stopRow,   header.flags};
    std::memcpy(bytes.data(), fields, kHeaderBytes);
    if (header.flags & kProbeCrop) bytes.append(16, '\0');
    bytes.append(command);
    return bytes;
}

Size HostOutputSize(std::string_view text, int32_t width, int32_t height, int32_t outWidth,
                    int32_t outHeight) {
    const Size passed{outWidth ? outWidth : width, outHeight ? outHeight : height};
    const Command command = SplitCommand(text);
    if (!command.row || command.row->transition || !command.row->signature) return passed;
    const std::string_view signature = command.row->signature;
    const auto tokens = LetterTokens(command);
    if (!tokens) return passed;

    if (std::string_view(command.row->name) == "Crop") {
        // Cutting (mode 0) writes the crop size; the marking modes keep the
        // input size (the parser refuses a mode that is not a number).
        const size_t r = signature.find('R'), mode = signature.find('i', r);
        if (r == std::string_view::npos || mode == std::string_view::npos) return passed;
        if (!IsNumber((*tokens)[mode]) || IntegerValue((*tokens)[mode]) != 0) return passed;
        float corner[4];
        for (int k = 0; k < 4; ++k) {
            const auto value = ListNumber((*tokens)[r], k);
            if (!value) return passed;
            corner[k] = static_cast<float>(*value);
        }
        int32_t w = 0, h = 0;
        KVE_GetCropSizeBySize(corner[0], corner[1], corner[2], corner[3], width, height, &w, &h);
        return {w, h};
    }
    const bool sizeParameter = signature.find('f') != std::string_view::npos ||
                               std::string_view(command.row->name).starts_with("Resize");
    const size_t s = signature.find('S');
    if (sizeParameter && s != std::string_view::npos) {
        const std::string_view token = (*tokens)[s];
        auto w = ItemText(token, 0), h = ItemText(token, 1);
        if (ItemCount(token) != 2 || !IsNumber(*w) || !IsNumber(*h)) return passed;
        return {IntegerValue(*w), IntegerValue(*h)};
    }
    return passed;
}

std::string Run(const uint8_t *data, size_t size) {
    Header header;
    uint8_t fields[kHeaderBytes] = {};
    std::memcpy(fields, data, size < kHeaderBytes ? size : kHeaderBytes);
    header = {fields[0], fields[1], fields[2], fields[3],
              fields[4], fields[5], fields[6], fields[7]};
    size_t at = size < kHeaderBytes ? size : kHeaderBytes;

    const int32_t width = DecodeSize(header.width), height = DecodeSize(header.height);
    const int32_t outWidth = DecodeSize(header.outWidth), outHeight = DecodeSize(header.outHeight);
    std::string problems;

    if (header.flags & kProbeCrop) {
        uint8_t corners[16] = {};
        const size_t n = size - at < 16 ? size - at : 16;
        std::memcpy(corners, data + at, n);
        at += n;
        problems += ProbeCropSize(corners, width, height);
    }
    if (header.flags & kReadFile) problems += ProbeFrameGet(header);

    const char *begin = reinterpret_cast<const char *>(data + at);
    const std::string text(begin, strnlen(begin, size - at));

    const int64_t inPixels = PixelCount(width, height);
    // With the default size the host calls KVE_Effect, which passes the
    // default size as both the input and the output size.
    const bool defaultSize = header.flags & kDefaultSize;
    const int32_t passedWidth = defaultSize ? width : outWidth;
    const int32_t passedHeight = defaultSize ? height : outHeight;
    const Size out = HostOutputSize(text, width, height, passedWidth, passedHeight);
    const int64_t outPixels = PixelCount(out.width, out.height);
    if (inPixels > kMaxPixels || outPixels > kMaxPixels) return problems;

    // As many input frames as the effect takes (all four for a transition or
    // an unknown name), the list ended by a null entry.
    const Command command = SplitCommand(text);
    int frameCount = 4;
    if (command.row && !command.row->transition && command.row->signature) {
        const std::string_view signature = command.row->signature;
        frameCount = static_cast<int>(std::count(signature.begin(), signature.end(), 'I'));
        frameCount = std::min(frameCount, 4);
    }
    const int pattern = header.frames & 7;
    std::vector<std::unique_ptr<GuardedFrame>> frames;
    std::array<uint32_t *, 5> inputs{};
    for (int k = 0; k < frameCount; ++k) {
        frames.push_back(std::make_unique<GuardedFrame>(inPixels));
        FillPattern(frames.back()->data(), frames.back()->pixels(), pattern, k);
        if (!(header.frames & (8 << k))) inputs[k] = frames.back()->data();
    }
    GuardedFrame output(outPixels);
    std::fill(output.data(), output.data() + output.pixels(), kOutputMarker);
    uint32_t *outputFrame = output.data();
    if ((header.flags & kAliasOutput) && inputs[0] && outPixels == inPixels)
        outputFrame = inputs[0];
    if (header.flags & kNullOutput) outputFrame = nullptr;

    MonitorState state;
    state.stopRow = header.stopRow;
    MonitorHook hook{nullptr, &state};
    MonitorHook *hookArg = nullptr;
    MonitorHandler previous = nullptr;
    const int mode = header.monitor % 5;
    switch (mode) {
        case kHookStops:
            hook.callback = HookStops;
            hookArg = &hook;
            break;
        case kHookReenters:
            hook.callback = HookReenters;
            hookArg = &hook;
            break;
        case kNullCallback:
            hookArg = &hook;
            break;
        case kProcessStops:
            processState = &state;
            previous = KVE_SetMonitorHandler(ProcessStops);
            break;
        default:
            break;
    }

    const char *textArg = (header.flags & kNullText) ? nullptr : text.c_str();
    uint32_t **inputsArg = (header.frames & 128) ? nullptr : inputs.data();
    int result;
    if (defaultSize) {
        KVE_FrameSizeSet(width, height);
        result = KVE_Effect(textArg, inputsArg, outputFrame);
        KVE_FrameSizeSet(352, 240);
    } else {
        result = KVE_EffectBySize(textArg, inputsArg, width, height, outputFrame, outWidth,
                                  outHeight, hookArg);
    }

    if (mode == kProcessStops) {
        KVE_SetMonitorHandler(previous);
        processState = nullptr;
    }
    problems += state.problems;
    if (result != 0 && result != -2 && result != -3 && result != -4)
        problems += "result " + std::to_string(result) + "\n";
    if (result == -3 && !state.stopped) problems += "stopped (-3) without a stop request\n";
    static const char *const kNames[4] = {"input 1", "input 2", "input 3", "input 4"};
    for (size_t k = 0; k < frames.size(); ++k)
        problems += frames[k]->Check(kNames[k]);
    problems += output.Check("output");
    return problems;
}

std::vector<std::pair<std::string, std::string>> Seeds() {
    struct Variant {
        const char *suffix;
        Header header;
    };
    const Variant variants[] = {
        {"33x17", {}},
        {"7x5-stop", {7, 5, 0, 0, 3, kHookStops, 2, 0}},
        {"24x11-default", {24, 11, 0, 0, 0, kProcessStops, 5, kDefaultSize}},
        {"1x1", {1, 1, 0, 0, 0, kNoMonitor, 0, 0}},
        {"47x2-sized", {47, 2, 47, 2, 0, kProcessStops, 200, kProbeCrop}},
        {"20x9-reenter", {20, 9, 0, 0, 4, kHookReenters, 0, kAliasOutput}},
        {"0x3", {0, 3, 0, 0, 1, kNoMonitor, 0, kReadFile}},
    };
    std::vector<std::pair<std::string, std::string>> seeds;
    for (const EffectRow &row : EffectTable()) {
        const std::string command = *row.example ? row.example : row.name;
        for (const Variant &variant : variants)
            seeds.emplace_back(std::string(row.name) + "-" + variant.suffix,
                               Encode(variant.header, command));
    }
    return seeds;
}

}  // namespace kve::fuzz
