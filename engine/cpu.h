// The instruction sets the library's fast rows may use, and the one place
// that decides which of them run.
//
// Every family with optimised rows keeps one table of row functions per
// level, filled at compile time from its plain rows upwards (a level with no
// row of its own inherits the one below), and picks its table with
// ActiveCpuLevel(). The level is read from the CPU once, lowered by the
// environment variable KVE_CPU ("scalar", "sse2", "avx2" or "avx512") so a
// user can reproduce any path, and never raised above what the CPU has.
#pragma once

#include <cstdint>
#include <string_view>

namespace kve {

enum class CpuLevel : uint8_t { kScalar, kSse2, kAvx2, kAvx512 };
inline constexpr int kCpuLevels = 4;

// What this CPU can run: AVX-512 means F, BW, DQ, VL and VBMI together (the
// byte permutes look up whole 256-entry byte tables in registers); a CPU
// with AVX-512 but not all of these runs the AVX2 rows.
CpuLevel DetectedCpuLevel();
// The level the rows run at: the detected one, capped by KVE_CPU.
CpuLevel ActiveCpuLevel();
// Caps the active level for the rest of the process (tests reproducing a
// path); a cap above the CPU's level gives the CPU's level.
void SetCpuLevelCap(CpuLevel cap);

std::string_view CpuLevelName(CpuLevel level);
// The level a KVE_CPU text names; `fallback` for anything else.
CpuLevel CpuLevelFromName(std::string_view name, CpuLevel fallback);

inline constexpr int LevelIndex(CpuLevel level) {
    return static_cast<int>(level);
}

// A family's rows, one set per level (a level without rows of its own holds
// the set of the level below); Pick returns the set of the active level.
template <class Rows>
struct CpuRows {
    Rows byLevel[kCpuLevels];

    const Rows &For(CpuLevel level) const { return byLevel[LevelIndex(level)]; }
    const Rows &Pick() const { return For(ActiveCpuLevel()); }
};

// A family whose fastest row is its SSE2 one: every level from SSE2 up runs
// it, the scalar level the reference.
template <class Row>
constexpr CpuRows<Row> Sse2Rows(Row reference, Row sse2) {
    return {{reference, sse2, sse2, sse2}};
}

}  // namespace kve

// Regions of code compiled for a wider instruction set than the baseline
// build, in any compiler the project builds with: every function defined
// between BEGIN and END (templates and lambdas included) may use it. Such code
// runs only through the rows of a level the CPU has.
// clang-format off
#if defined(__clang__)
#define KVE_TARGET_AVX2_BEGIN \
    _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define KVE_TARGET_AVX512_BEGIN \
    _Pragma("clang attribute push(__attribute__((target(\"avx512f,avx512bw,avx512dq,avx512vl,avx512vbmi\"))), apply_to = function)")
#define KVE_TARGET_END _Pragma("clang attribute pop")
#else
#define KVE_TARGET_AVX2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define KVE_TARGET_AVX512_BEGIN \
    _Pragma("GCC push_options") \
    _Pragma("GCC target(\"avx512f,avx512bw,avx512dq,avx512vl,avx512vbmi\")")
#define KVE_TARGET_END _Pragma("GCC pop_options")
#endif
// clang-format on
