// Composite transitions between a first frame F and a second frame S:
//   Conceal  F slides in over S from one of eight directions
//   Push     F slides in and pushes S out the other side
//   Blend    F laid over S through a matte of F's shape scaled by the progress
//   Shadow   F laid over S with a coloured drop shadow
// Each reads its own parameters (−2 when they are missing or malformed),
// formats command texts for Paste, Translate, Extract and Composite and runs
// them through the dispatcher with the caller's sizes and monitor hook. The
// first non-zero result ends the transition and is returned; otherwise the
// last command's result is.
#include "engine/transitions.h"

#include <array>
#include <charconv>
#include <memory>

#include "engine/effect_run.h"
#include "engine/scanner.h"

namespace kve {

namespace {

// Longest list token Shadow accepts; longer ones are refused, not cut.
constexpr size_t kMaxShadowToken = 39;

// Where the moving frame comes from: -1 left/top, +1 right/bottom, 0 no motion.
struct Motion {
    int x, y;
};
constexpr std::array<Motion, 8> kDirections = {{
    {-1, 0},   // 0 from the left
    {1, 0},    // 1 from the right
    {0, -1},   // 2 from the top
    {0, 1},    // 3 from the bottom
    {-1, -1},  // 4 from the top-left
    {1, -1},   // 5 from the top-right
    {-1, 1},   // 6 from the bottom-left
    {1, 1},    // 7 from the bottom-right, and any other code
}};

Motion MotionOf(int32_t code) {
    return code >= 0 && code < 8 ? kDirections[static_cast<size_t>(code)] : kDirections[7];
}

// Word k (from 0) of a blank-separated text, read from its start.
std::string_view WordAt(std::string_view text, int k) {
    size_t i = 0;
    for (int n = 0;; ++n) {
        while (i < text.size() && IsBlank(text[i]))
            ++i;
        const size_t start = i;
        while (i < text.size() && !IsBlank(text[i]))
            ++i;
        if (start == i || n == k) return text.substr(start, i - start);
    }
}

bool ReadProgress(std::string_view params, double &p) {
    const std::string_view word = WordAt(params, 0);
    if (!IsNumber(word)) return false;
    p = RealValue(word);
    return true;
}

bool ReadProgressAndDirection(std::string_view params, double &p, Motion &motion) {
    const std::string_view direction = WordAt(params, 1);
    if (!ReadProgress(params, p) || !IsNumber(direction)) return false;
    motion = MotionOf(IntegerValue(direction));
    return true;
}

// a / b, with an empty frame (b = 0) giving position 0 instead of a division
// by zero; nothing is drawn on an empty frame anyway.
double Ratio(double a, double b) {
    return b != 0 ? a / b : 0.0;
}

std::string PositionCommand(const char *name, double x, double y) {
    return std::string(name) + "  [ " + FormatNumber(x) + "  " + FormatNumber(y) + " ]";
}

// The caller's sizes and monitor, passed unchanged to every command.
struct Call {
    int32_t width, height, outWidth, outHeight;
    MonitorHook *monitor;

    int Run(const std::string &command, uint32_t *const *inputs, Pixel *output) const {
        return Dispatch(command.c_str(), inputs, width, height, output, outWidth, outHeight,
                        monitor);
    }
};

// The host's first and second frames, reading no further than the list goes.
struct Pair {
    uint32_t *first = nullptr, *second = nullptr;
};
Pair FramesOf(uint32_t *const *inputs) {
    Pair pair;
    if (inputs && inputs[0]) {
        pair.first = inputs[0];
        pair.second = inputs[1];
    }
    return pair;
}

}  // namespace

std::string FormatNumber(double value) {
    char text[32];
    const auto written =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
    const std::string g(text, written.ptr);
    const size_t e = g.find('e');
    if (e == std::string::npos) return g;  // plain already (or inf/nan, which no form helps)
    // Exponent form: write the same significant digits out in full.
    const bool negative = g[0] == '-';
    std::string digits;
    for (size_t i = negative ? 1 : 0; i < e; ++i)
        if (g[i] != '.') digits += g[i];
    int exponent = 0;
    std::from_chars(g.data() + e + (g[e + 1] == '+' ? 2 : 1), g.data() + g.size(), exponent);
    std::string plain = negative ? "-" : "";
    if (exponent < 0) {
        plain += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
    } else {
        plain += digits;
        if (static_cast<size_t>(exponent) + 1 > digits.size())
            plain += std::string(static_cast<size_t>(exponent) + 1 - digits.size(), '0');
    }
    return plain;
}

int ConcealTransition(std::string_view params, uint32_t *const *inputs, int32_t width,
                      int32_t height, Pixel *output, int32_t outWidth, int32_t outHeight,
                      MonitorHook *monitor) {
    double p = 0;
    Motion m{};
    if (!ReadProgressAndDirection(params, p, m)) return -2;
    const double w = width, h = height, hw = width * 0.5, hh = height * 0.5;
    // F's top-left corner: a frame away at p = 0, in place at p = 1.
    const double px = m.x < 0 ? (p - 1) * w : m.x > 0 ? (1 - p) * w : 0;
    const double py = m.y < 0 ? (p - 1) * h : m.y > 0 ? (1 - p) * h : 0;
    const Call call{width, height, outWidth, outHeight, monitor};
    return call.Run(PositionCommand("Paste", Ratio(px - hw, hw), Ratio(py - hh, hw)), inputs,
                    output);
}

int PushTransition(std::string_view params, uint32_t *const *inputs, int32_t width, int32_t height,
                   Pixel *output, int32_t outWidth, int32_t outHeight, MonitorHook *monitor) {
    double p = 0;
    Motion m{};
    if (!ReadProgressAndDirection(params, p, m)) return -2;
    const double w = width, h = height, hw = width * 0.5, hh = height * 0.5;
    // F moves by (dx, dy) from its place; S moves the same way, one frame ahead.
    const double dx = m.x < 0 ? (p - 1) * w : m.x > 0 ? (1 - p) * w : 0;
    const double dy = m.y < 0 ? (p - 1) * h : m.y > 0 ? (1 - p) * h : 0;
    const double sx = m.x < 0 ? p * w : m.x > 0 ? -p * w : 0;
    const double sy = m.y < 0 ? p * h : m.y > 0 ? -p * h : 0;
    const Call call{width, height, outWidth, outHeight, monitor};
    const int moved =
        call.Run(PositionCommand("Translate", Ratio(dx, hw), Ratio(dy, hw)), inputs, output);
    if (moved != 0) return moved;
    // S is pasted over the translated F, the output serving as background.
    uint32_t *const list[] = {FramesOf(inputs).second, output, nullptr};
    return call.Run(PositionCommand("Paste", Ratio(sx - hw, hw), Ratio(sy - hh, hw)), list, output);
}

int BlendTransition(std::string_view params, uint32_t *const *inputs, int32_t width, int32_t height,
                    Pixel *output, int32_t outWidth, int32_t outHeight, MonitorHook *monitor) {
    double p = 0;
    if (!ReadProgress(params, p)) return -2;
    const Call call{width, height, outWidth, outHeight, monitor};
    // A matte of F's shape at strength p, then F over S through it.
    const int matte =
        call.Run("Extract  [(argb) 255 255 255 255] " + FormatNumber(p), inputs, output);
    if (matte != 0) return matte;
    const Pair frames = FramesOf(inputs);
    uint32_t *const list[] = {frames.first, output, frames.second, nullptr};
    return call.Run("Composite  1.0  0.0", list, output);
}

int ShadowTransition(std::string_view params, uint32_t *const *inputs, int32_t width,
                     int32_t height, Pixel *output, int32_t outWidth, int32_t outHeight,
                     MonitorHook *monitor) {
    // From the end: strength, shadow colour, displacement. The lists' items
    // are checked by the effects that read them.
    TokenScanner tokens(params);
    const auto strength = tokens.Next();
    const auto colour = tokens.Next();
    const auto shift = tokens.Next();
    if (!strength || !IsNumber(*strength)) return -2;
    if (!colour || ItemCount(*colour) != 5 || colour->size() > kMaxShadowToken) return -2;
    if (!shift || ItemCount(*shift) != 2 || shift->size() > kMaxShadowToken) return -2;

    // Two working frames, cleared so that a step whose parameters are refused
    // leaves a defined frame for the steps after it.
    const size_t pixels =
        width > 0 && height > 0 ? static_cast<size_t>(width) * static_cast<size_t>(height) : 1;
    const auto a = std::make_unique<Pixel[]>(pixels);
    const auto b = std::make_unique<Pixel[]>(pixels);
    const Pair frames = FramesOf(inputs);
    uint32_t *const f[] = {frames.first, nullptr};
    uint32_t *const moved[] = {output, nullptr};
    uint32_t *const shadowOverS[] = {b.get(), a.get(), frames.second, nullptr};
    uint32_t *const fOverAll[] = {frames.first, a.get(), output, nullptr};
    const std::string translate = "Translate  " + std::string(*shift);

    struct Step {
        std::string command;
        uint32_t *const *inputs;
        Pixel *output;
    };
    const Step steps[] = {
        // F's shape as a matte of strength t, moved by the displacement into A.
        {"Extract  [(argb) 255 255 255 255] " + FormatNumber(RealValue(*strength)), f, output},
        {translate, moved, a.get()},
        // F's shape in the shadow colour, moved into B.
        {"Extract  " + std::string(*colour) + " 1.0", f, output},
        {translate, moved, b.get()},
        // The shadow over S through the moved matte, then F over that.
        {"Composite  1.0 0.0", shadowOverS, output},
        {"Extract  [(argb) 255 255 255 255] 1.0", f, a.get()},
        {"Composite  1.0 0.0", fOverAll, output},
    };
    const Call call{width, height, outWidth, outHeight, monitor};
    int result = 0;
    for (const Step &step : steps) {
        result = call.Run(step.command, step.inputs, step.output);
        if (result != 0) break;
    }
    return result;
}

}  // namespace kve
