// The CPU level: names, the cap from KVE_CPU, and the test cap.
#include <gtest/gtest.h>

#include "engine/cpu.h"
#include "support/cpu_levels.h"

namespace kve::test {
namespace {

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
