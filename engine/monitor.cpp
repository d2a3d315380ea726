#include "engine/monitor.h"

#include <atomic>

namespace kve {

namespace {
std::atomic<MonitorHandler> processHandler{nullptr};
}

MonitorHandler SetProcessMonitor(MonitorHandler handler) {
    return processHandler.exchange(handler);
}

int Monitor_Report(MonitorHook *hook, int32_t effectId, int32_t totalRows, int32_t currentRow) {
    MonitorInfo info{effectId, totalRows, currentRow};
    if (hook && hook->callback) return hook->callback(&info, hook->userData);
    MonitorHandler handler = processHandler.load(std::memory_order_relaxed);
    if (handler) return handler(&info, nullptr);
    return 1;
}

bool ReportRow(const ArgBlock &in, int32_t totalRows, int32_t currentRow) {
    EffectJob &job = *in.job;
    if (Monitor_Report(job.monitor, job.effectId, totalRows, currentRow) != 0) return true;
    job.result = -3;
    return false;
}

}  // namespace kve
