// The CPU level: read once from the processor and the environment.
#include "engine/cpu.h"

#include <atomic>
#include <cstdlib>

namespace kve {

namespace {

CpuLevel ReadCpu() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512vbmi"))
        return CpuLevel::kAvx512;
    if (__builtin_cpu_supports("avx2")) return CpuLevel::kAvx2;
    if (__builtin_cpu_supports("sse2")) return CpuLevel::kSse2;
#endif
    return CpuLevel::kScalar;
}

CpuLevel Lower(CpuLevel a, CpuLevel b) {
    return LevelIndex(a) < LevelIndex(b) ? a : b;
}

// The environment is read once, before the first row asks; a relaxed atomic
// because hosts run effects on several threads and a test may lower the cap.
std::atomic<CpuLevel> &Active() {
    static std::atomic<CpuLevel> level = [] {
        const char *cap = std::getenv("KVE_CPU");
        const CpuLevel detected = DetectedCpuLevel();
        return cap ? Lower(CpuLevelFromName(cap, detected), detected) : detected;
    }();
    return level;
}

}  // namespace

CpuLevel DetectedCpuLevel() {
    static const CpuLevel detected = ReadCpu();
    return detected;
}

CpuLevel ActiveCpuLevel() {
    return Active().load(std::memory_order_relaxed);
}

void SetCpuLevelCap(CpuLevel cap) {
    Active().store(Lower(cap, DetectedCpuLevel()), std::memory_order_relaxed);
}

std::string_view CpuLevelName(CpuLevel level) {
    switch (level) {
        case CpuLevel::kScalar:
            return "scalar";
        case CpuLevel::kSse2:
            return "sse2";
        case CpuLevel::kAvx2:
            return "avx2";
        case CpuLevel::kAvx512:
            return "avx512";
    }
    return "scalar";
}

CpuLevel CpuLevelFromName(std::string_view name, CpuLevel fallback) {
    for (int i = 0; i < kCpuLevels; ++i)
        if (name == CpuLevelName(static_cast<CpuLevel>(i))) return static_cast<CpuLevel>(i);
    return fallback;
}

}  // namespace kve
