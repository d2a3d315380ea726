// The effect table: one row per effect, the single source of truth for the
// dispatcher, the command-line tool's listing and gallery, the golden tests
// and the fuzz corpus.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "engine/job.h"

namespace kve {

// Per-call working storage an effect needs, in bytes, known once the
// parameters are parsed. Allocated zeroed before the driver starts.
using ScratchFn = size_t (*)(const ArgBlock &in, const ArgBlock &out);

// Entry of a composite transition, which runs other effects itself.
using TransitionEntry = int (*)(std::string_view params, uint32_t *const *inputs, int32_t width,
                                int32_t height, Pixel *output, int32_t outWidth, int32_t outHeight,
                                MonitorHook *monitor);

struct EffectRow {
    const char *name = nullptr;       // the command word, matched exactly
    int32_t id = -1;                  // carried by progress reports; -1 for transitions
    const char *signature = nullptr;  // parameter letters
    Driver driver = nullptr;
    PrepareFn prepare = nullptr;
    LineOp lineOp = nullptr;
    ScratchFn scratch = nullptr;
    TransitionEntry transition = nullptr;  // set for composite transitions only
    // The text parameters in command order, one word each (images excluded),
    // for listings; and a command that shows the effect well.
    const char *params = "";
    const char *example = "";
    // For hosts that set every parameter as a number from 0 to 1 (the frei0r
    // plugins): the useful range of each text parameter, in command order, as
    // "low:high" words; "-" or a missing word keeps the default of the
    // parameter's letter. low may exceed high: "1:0" runs a progress backwards.
    const char *ranges = "";
    // The letters of a composite transition's own parameter text, as if it
    // had a signature (images excluded), for the same hosts.
    const char *textLetters = "";
};

std::span<const EffectRow> EffectTable();
const EffectRow *FindEffect(std::string_view name);

}  // namespace kve
