// The CPU level: names, the cap from KVE_CPU, and the test cap.
#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/cpu.h"
#include "support/cpu_levels.h"

namespace kve::test {
namespace {

// Run by ctest with KVE_CPU=sse2 (engine.cpu_level_from_environment): the
// level starts at the variable's cap.
TEST(CpuLevel, TheEnvironmentCapsTheStartingLevel) {
    const char *cap = std::getenv("KVE_CPU");
    if (!cap) GTEST_SKIP() << "KVE_CPU is not set";
    const CpuLevel named = CpuLevelFromName(cap, CpuLevel::kAvx512);
    if (LevelIndex(named) > LevelIndex(DetectedCpuLevel())) GTEST_SKIP() << "above this CPU";
    EXPECT_EQ(ActiveCpuLevel(), named);
}

TEST(CpuLevel, NamesRoundTripAndUnknownNamesFallBack) {
    for (int i = 0; i < kCpuLevels; ++i) {
        const CpuLevel level = static_cast<CpuLevel>(i);
        EXPECT_EQ(CpuLevelFromName(CpuLevelName(level), CpuLevel::kScalar), level);
    }
    EXPECT_EQ(CpuLevelFromName("AVX2", CpuLevel::kSse2), CpuLevel::kSse2);
    EXPECT_EQ(CpuLevelFromName("", CpuLevel::kAvx512), CpuLevel::kAvx512);
}

TEST(CpuLevel, CapLowersButNeverRaisesAboveTheCpu) {
    const CpuLevel detected = DetectedCpuLevel();
    {
        const CpuLevelCap cap(CpuLevel::kScalar);
        EXPECT_EQ(ActiveCpuLevel(), CpuLevel::kScalar);
        SetCpuLevelCap(CpuLevel::kAvx512);
        EXPECT_EQ(ActiveCpuLevel(), detected);
    }
    for (const CpuLevel level : LevelsToTest()) {
        const CpuLevelCap cap(level);
        EXPECT_EQ(ActiveCpuLevel(), level);
    }
}

}  // namespace
}  // namespace kve::test
