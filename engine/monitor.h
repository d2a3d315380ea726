// Progress reports after every output row, and the host's way to stop an effect.
#pragma once

#include <cstdint>

#include "engine/job.h"

namespace kve {

// Calls the per-call hook when it has a callback, else the process-wide
// handler, else nothing. Returns 0 when the host asks to stop.
int Monitor_Report(MonitorHook *hook, int32_t effectId, int32_t totalRows, int32_t currentRow);

// Reports row `currentRow` of `totalRows` for the job behind `in`; when the
// host asks to stop, marks the job stopped (-3) and returns false.
bool ReportRow(const ArgBlock &in, int32_t totalRows, int32_t currentRow);

MonitorHandler SetProcessMonitor(MonitorHandler handler);

}  // namespace kve
