#include "engine/effect_run.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "engine/diag.h"
#include "engine/scanner.h"

namespace kve {

namespace {

const char *TypeName(char letter) {
    switch (letter) {
        case 'I':
            return "image";
        case 'C':
            return "coordinate";
        case 'R':
            return "rectangle (pair)";
        case 'S':
            return "size";
        case 'c':
            return "color";
        case 'f':
            return "format";
        case 'i':
            return "integer";
        case 'n':
        case 'r':
            return "real";
        case 'q':
            return "quality";
        default:
            return nullptr;
    }
}

// Everything the parser takes out of one command, before conversion.
struct Parsed {
    ImageList images{};
    ArgBlock in, out;
    CoordTexts coordTexts{};
    int coordCount = 0;
    std::array<std::string_view, kMaxColors> colorTexts{};
    int colorCount = 0;
    int imageCount = 0, realCount = 0, intCount = 0, sizeCount = 0;
    bool hasFormat = false;
};

// Numbers of a bracketed list with exactly `count` numeric items, in order.
bool ListOfNumbers(std::string_view token, int count, std::array<std::string_view, 4> &items) {
    if (ItemCount(token) != count) return false;
    for (int k = 0; k < count; ++k) {
        auto word = ItemText(token, k);
        if (!word || !IsNumber(*word)) return false;
        items[k] = *word;
    }
    return true;
}

enum class Outcome { kStored, kRefused, kAbandoned };

// Checks one token against its letter and stores it.
Outcome StoreToken(char letter, std::string_view token, Parsed &p) {
    std::array<std::string_view, 4> items{};
    switch (letter) {
        case 'C':
        case 'R': {
            const int count = letter == 'C' ? 2 : 4;
            if (!ListOfNumbers(token, count, items)) return Outcome::kRefused;
            if (p.coordCount + count > kMaxPoints) return Outcome::kAbandoned;
            for (int k = 0; k < count; ++k)
                p.coordTexts[p.coordCount++] = items[k];
            return Outcome::kStored;
        }
        case 'S':
            if (!ListOfNumbers(token, 2, items)) return Outcome::kRefused;
            if (p.sizeCount >= kMaxSizes) return Outcome::kAbandoned;
            p.in.sizes[p.sizeCount++] = {IntegerValue(items[0]), IntegerValue(items[1])};
            return Outcome::kStored;
        case 'c':
            // The words inside are checked when colours are converted, silently.
            if (ItemCount(token) != 5) return Outcome::kRefused;
            if (p.colorCount >= kMaxColors) return Outcome::kAbandoned;
            p.colorTexts[p.colorCount++] = token;
            return Outcome::kStored;
        case 'f':
            if (token != "(argb)") return Outcome::kRefused;
            if (p.intCount >= kMaxInts) return Outcome::kAbandoned;
            p.in.ints[p.intCount++] = 1;
            p.hasFormat = true;
            return Outcome::kStored;
        case 'i':
        case 'q':
            if (letter == 'i' ? !IsNumber(token) : TokenKind(token) != 2) return Outcome::kRefused;
            if (p.intCount >= kMaxInts) return Outcome::kAbandoned;
            p.in.ints[p.intCount++] = IntegerValue(token);
            return Outcome::kStored;
        case 'n':
        case 'r':
            if (!IsNumber(token)) return Outcome::kRefused;
            if (p.realCount >= kMaxReals) return Outcome::kAbandoned;
            p.in.reals[p.realCount++] = RealValue(token);
            return Outcome::kStored;
        default:
            return Outcome::kAbandoned;
    }
}

// Walks the signature from its last letter to its first, taking tokens from
// the end of the text; so in `in` the last parameter of each kind is slot 0.
bool ParseParameters(const EffectJob &job, const EffectRow &row, const std::string &prefix,
                     Parsed &p) {
    const std::string_view signature = row.signature;
    const int n = static_cast<int>(signature.size());
    TokenScanner tokens(job.params);
    for (int position = n - 1; position >= 0; --position) {
        const char letter = signature[position];
        if (letter == 'I') {
            if (p.imageCount >= kMaxImages) return false;
            const Pixel *frame = job.inputs ? job.inputs[p.imageCount] : nullptr;
            if (!frame) {
                Diag_Report(prefix, n - 1 - position, "image");
                return false;
            }
            p.in.imageWidth[p.imageCount] = job.width;
            p.in.imageHeight[p.imageCount] = job.height;
            p.images[p.imageCount++] = frame;
            continue;
        }
        if (!TypeName(letter)) return false;
        auto token = tokens.Next();
        if (!token) return false;
        switch (StoreToken(letter, *token, p)) {
            case Outcome::kStored:
                break;
            case Outcome::kRefused:
                Diag_Report(prefix, n - 1 - position, TypeName(letter));
                return false;
            case Outcome::kAbandoned:
                return false;
        }
    }
    return true;
}

// Sets the output size; false when the effect's own output (the input size)
// would not fit in the output frame the host declared.
bool SetOutputSize(const EffectJob &job, unsigned flags, Parsed &p) {
    int32_t w = job.outWidth, h = job.outHeight;
    bool fromInputs = false;
    if (flags & kUseDefaultOutputSize) {
        if (p.hasFormat && p.sizeCount > 0) {
            w = p.in.sizes[p.sizeCount - 1][0];
            h = p.in.sizes[p.sizeCount - 1][1];
        } else if (p.imageCount > 0) {
            w = p.in.imageWidth[p.imageCount - 1];
            h = p.in.imageHeight[p.imageCount - 1];
            fromInputs = true;
        } else {
            w = job.width;
            h = job.height;
            fromInputs = true;
        }
    }
    p.out.imageWidth[0] = w;
    p.out.imageHeight[0] = h;
    // The host sizes its output frame by the output size it passes (0 meaning
    // the input size). An effect that writes an input-sized frame into a
    // smaller declared frame would write past its end, so it draws nothing.
    auto pixels = [](int32_t width, int32_t height) {
        return width > 0 && height > 0 ? int64_t{width} * height : int64_t{0};
    };
    return !fromInputs || pixels(w, h) <= pixels(job.outWidth, job.outHeight);
}

// Centred coordinates to pixels: both axes scale by half the frame WIDTH.
void ConvertCoordinates(const EffectJob &job, Parsed &p) {
    const double hw = job.width * 0.5, hh = job.height * 0.5;
    for (int i = 0; i < p.coordCount; ++i)
        p.in.points[i] = RealValue(p.coordTexts[i]) * hw + (i % 2 == 0 ? hw : hh);
}

bool ConvertColors(Parsed &p) {
    for (int i = 0; i < p.colorCount; ++i) {
        auto pixel = ParseColor(p.colorTexts[i]);
        if (!pixel) return false;
        p.in.colors[i] = *pixel;
    }
    return true;
}

// Whether a frame of positive size can exist as one block: its bytes, formed
// in 64 bits (any int32 size fits), within what a pointer difference spans.
bool FrameFits(int32_t width, int32_t height) {
    const uint64_t bytes =
        static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * sizeof(Pixel);
    return bytes <= static_cast<uint64_t>(std::numeric_limits<ptrdiff_t>::max());
}

// Everything before the driver: parse, prepare, size the output and convert.
// False when the effect is abandoned (a refused parameter has then been
// reported). Prepare steps only size the output; they never draw, so this also
// serves CheckEffect, which has no output frame yet.
bool ReadyToRun(EffectJob &job, const EffectRow &row, const std::string &prefix, Parsed &p,
                OutputList &outputs) {
    if (!ParseParameters(job, row, prefix, p)) return false;
    outputs[0] = job.output;
    const unsigned flags =
        row.prepare ? row.prepare(p.images, p.coordTexts, p.in, outputs, job) : kAllFlags;
    if (!SetOutputSize(job, flags, p)) {
        Diag_Message(prefix.substr(0, prefix.size() - 1) +
                     " output frame smaller than the input frames");
        return false;
    }
    if (flags & kConvertCoordinates) ConvertCoordinates(job, p);
    if ((flags & kConvertColors) && !ConvertColors(p)) return false;

    // Nothing to draw into, or nothing to read from: stop before any row
    // address is formed.
    if (p.out.imageWidth[0] <= 0 || p.out.imageHeight[0] <= 0) return false;
    if (p.imageCount > 0 && (job.width <= 0 || job.height <= 0)) return false;
    // An output size from the command text (Color1, Color4) may name a frame
    // no host could allocate; refuse it by the rule KVE_FrameNewBySize uses
    // rather than let the row arithmetic run past what a pointer can span.
    if (!FrameFits(p.out.imageWidth[0], p.out.imageHeight[0])) {
        std::string message = prefix.substr(0, prefix.size() - 1);
        message += " output size " + std::to_string(p.out.imageWidth[0]) + " x " +
                   std::to_string(p.out.imageHeight[0]) + " too large";
        Diag_Message(message);
        return false;
    }
    return true;
}

EffectJob MakeJob(const EffectRow &row, std::string_view params, uint32_t *const *inputs,
                  int32_t width, int32_t height, Pixel *output, int32_t outWidth, int32_t outHeight,
                  MonitorHook *monitor) {
    EffectJob job;
    job.lineOp = row.lineOp;
    job.params = params;
    job.inputs = inputs;
    job.width = width;
    job.height = height;
    job.output = output;
    job.outWidth = outWidth ? outWidth : width;
    job.outHeight = outHeight ? outHeight : height;
    job.effectId = row.id;
    job.monitor = monitor;
    return job;
}

// The effect word at the head of a command text and the parameter text behind
// it. The word is cut at 19 characters; what remains of a longer word stays at
// the head of the parameters (no name is that long, so it never matches).
std::pair<std::string_view, std::string_view> SplitCommand(std::string_view rest) {
    while (!rest.empty() && IsBlank(rest.front()))
        rest.remove_prefix(1);
    size_t wordLength = 0;
    while (wordLength < rest.size() && wordLength < 19 && !IsBlank(rest[wordLength]))
        ++wordLength;
    const std::string_view word = rest.substr(0, wordLength);
    rest.remove_prefix(wordLength);
    while (!rest.empty() && IsBlank(rest.front()))
        rest.remove_prefix(1);
    return {word, rest};
}

}  // namespace

void Effect_Run(EffectJob &job, const EffectRow &row) {
    const std::string name = std::string("<") + row.name + ">";
    const std::string prefix = name + "+";
    if (!job.output) {
        Diag_Message(name + " no output frame");
        return;
    }
    Parsed p;
    OutputList outputs{};
    if (!ReadyToRun(job, row, prefix, p, outputs)) return;

    std::unique_ptr<std::byte[]> scratch;
    if (row.scratch) {
        const size_t bytes = row.scratch(p.in, p.out);
        // Zeroed, so first-row set-up can rely on a clean slate.
        scratch.reset(new (std::nothrow) std::byte[bytes ? bytes : 1]());
        if (!scratch) {
            Diag_Message(name + " working storage allocation failure");
            return;
        }
        job.scratch = scratch.get();
        job.scratchBytes = bytes;
    }
    p.in.job = &job;
    p.out.job = &job;
    row.driver(job.lineOp, p.images, p.in, outputs, p.out);
    job.scratch = nullptr;
    job.scratchBytes = 0;
}

int RunEffectRow(const EffectRow &row, std::string_view params, uint32_t *const *inputs,
                 int32_t width, int32_t height, Pixel *output, int32_t outWidth, int32_t outHeight,
                 MonitorHook *monitor) {
    if (outWidth == 0) outWidth = width;
    if (outHeight == 0) outHeight = height;
    try {
        if (row.transition)
            return row.transition(params, inputs, width, height, output, outWidth, outHeight,
                                  monitor);
        EffectJob job =
            MakeJob(row, params, inputs, width, height, output, outWidth, outHeight, monitor);
        Effect_Run(job, row);
        return job.result;
    } catch (const std::bad_alloc &) {
        Diag_Message(std::string("<") + row.name + "> allocation failure");
    } catch (...) {
        Diag_Message(std::string("<") + row.name + "> internal failure");
    }
    return 0;
}

int Dispatch(const char *text, uint32_t *const *inputs, int32_t width, int32_t height,
             Pixel *output, int32_t outWidth, int32_t outHeight, MonitorHook *monitor) {
    if (!text) return -4;
    const auto [word, rest] = SplitCommand(text);
    const EffectRow *row = FindEffect(word);
    if (!row) return -4;
    return RunEffectRow(*row, rest, inputs, width, height, output, outWidth, outHeight, monitor);
}

EffectCheck CheckEffect(const char *text, uint32_t *const *inputs, int32_t width, int32_t height,
                        int32_t outWidth, int32_t outHeight) {
    EffectCheck check{EffectCheck::kUnknownName, 0, 0};
    if (!text) return check;
    const auto [word, params] = SplitCommand(text);
    const EffectRow *row = FindEffect(word);
    if (!row) return check;
    check.outWidth = outWidth ? outWidth : width;
    check.outHeight = outHeight ? outHeight : height;
    // A composite transition reads its own parameters when it runs and draws
    // at the requested size.
    check.status = EffectCheck::kReady;
    if (row->transition) return check;
    check.status = EffectCheck::kAbandoned;
    try {
        EffectJob job =
            MakeJob(*row, params, inputs, width, height, nullptr, outWidth, outHeight, nullptr);
        Parsed p;
        OutputList outputs{};
        if (!ReadyToRun(job, *row, std::string("<") + row->name + ">+", p, outputs)) return check;
        check.status = EffectCheck::kReady;
        check.outWidth = p.out.imageWidth[0];
        check.outHeight = p.out.imageHeight[0];
    } catch (...) {
        Diag_Message(std::string("<") + row->name + "> allocation failure");
    }
    return check;
}

}  // namespace kve
