// A host that drives the library from arbitrary bytes: the bytes choose the
// frame sizes, the frame contents, the progress monitor and the command text,
// and every frame is allocated as a host would, with guard zones around it.
// Shared by the libFuzzer target and by the replay of fuzz/regressions in the
// normal test suite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kve::fuzz {

// One input: a fixed header, then (with kProbeCrop) 16 bytes holding four
// floats, then the command text up to the first zero byte.
struct Header {
    uint8_t width = 33;  // size codes, see DecodeSize
    uint8_t height = 17;
    uint8_t outWidth = 0;  // 0 passes 0: the input size
    uint8_t outHeight = 0;
    uint8_t frames = 0;   // bits 0-2 contents pattern, 3-6 null inputs, 7 null input list
    uint8_t monitor = 0;  // see MonitorMode
    uint8_t stopRow = 0;  // row after which the monitor stops the effect
    uint8_t flags = 0;    // Flags
};
constexpr size_t kHeaderBytes = 8;

enum MonitorMode : uint8_t {
    kNoMonitor = 0,
    kHookStops = 1,     // per-call hook, stops after stopRow
    kProcessStops = 2,  // process-wide handler, stops after stopRow
    kHookReenters = 3,  // per-call hook that runs another effect on every row
    kNullCallback = 4,  // per-call hook without a callback
};

enum Flags : uint8_t {
    kAliasOutput = 1,   // the output is the first input frame when sizes allow
    kProbeCrop = 2,     // KVE_GetCropSizeBySize on four raw floats
    kReadFile = 4,      // KVE_FrameGet on a temporary frame-sequence file
    kNullOutput = 8,    // no output frame
    kNullText = 16,     // no command text
    kDefaultSize = 32,  // KVE_Effect at a default size set to the input size
};

// Size codes: 0..47 stand for themselves (small, odd, 0 and 1); the top codes
// stand for negative, boundary and wide sizes.
int32_t DecodeSize(uint8_t code);

// The bytes of one input.
std::string Encode(const Header &header, std::string_view command);

// Output frame size a host allocates for `command`: the crop size for Crop
// cutting (mode 0),
// the size parameter for the effects that take their output size from it
// (with the format word, or Resize-like), else the size it passes (0 meaning
// the input size). Parameters are found the way the library's parser finds
// them. Negative sizes allocate nothing.
struct Size {
    int64_t width, height;
};
Size HostOutputSize(std::string_view command, int32_t width, int32_t height, int32_t outWidth,
                    int32_t outHeight);

// Runs one input. Returns a description of every fault the host could see
// (a write outside a frame, a result outside the documented ones), "" when clean.
// Reads outside frames are caught by AddressSanitizer when it is present.
std::string Run(const uint8_t *data, size_t size);

// Seed inputs: every effect of the table with its example command, at a few
// sizes and monitor settings.
std::vector<std::pair<std::string, std::string>> Seeds();

}  // namespace kve::fuzz
