// The engine every primitive effect goes through: parse the parameters
// against the signature, prepare, convert, and run the driver.
#pragma once

#include <string_view>

#include "engine/effect_table.h"
#include "engine/job.h"

namespace kve {

// Runs `row`'s effect for `job`. A refused parameter abandons the effect
// before anything is drawn and leaves the job's result at 0.
void Effect_Run(EffectJob &job, const EffectRow &row);

// Runs one row of the table on a parameter text: output sizes of 0 default
// to the input size, and no exception leaves.
int RunEffectRow(const EffectRow &row, std::string_view params, uint32_t *const *inputs,
                 int32_t width, int32_t height, Pixel *output, int32_t outWidth, int32_t outHeight,
                 MonitorHook *monitor);

// The dispatcher behind KVE_EffectBySize, for callers inside the library.
int Dispatch(const char *text, uint32_t *const *inputs, int32_t width, int32_t height,
             Pixel *output, int32_t outWidth, int32_t outHeight, MonitorHook *monitor);

// What a command would do, found without drawing: the same parsing, prepare
// step and conversions as a run, stopping before the driver. Refused
// parameters are reported to the diagnostic hooks as a run would report them.
// For tools that must size an output frame (Crop, Resize and sized fills write
// other sizes than their input) or refuse a command before allocating.
struct EffectCheck {
    enum Status { kReady, kUnknownName, kAbandoned } status;
    int32_t outWidth, outHeight;  // the size a run writes, when kReady
};
EffectCheck CheckEffect(const char *text, uint32_t *const *inputs, int32_t width, int32_t height,
                        int32_t outWidth, int32_t outHeight);

}  // namespace kve
