#include "support/cpu_levels.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace kve::test {

std::vector<CpuLevel> LevelsToTest() {
    std::vector<CpuLevel> levels;
    std::string skipped;
    for (int i = 0; i < kCpuLevels; ++i) {
        const CpuLevel level = static_cast<CpuLevel>(i);
        if (LevelIndex(level) <= LevelIndex(DetectedCpuLevel())) {
            levels.push_back(level);
        } else {
            skipped += ' ';
            skipped += CpuLevelName(level);
        }
    }
    if (!skipped.empty()) {
        const auto *test = testing::UnitTest::GetInstance()->current_test_info();
        std::printf("[ SKIPPED  ] %s.%s: levels not on this CPU:%s\n",
                    test ? test->test_suite_name() : "", test ? test->name() : "", skipped.c_str());
    }
    return levels;
}

CpuLevelCap::CpuLevelCap(CpuLevel cap) : saved_(ActiveCpuLevel()) {
    SetCpuLevelCap(cap);
}
CpuLevelCap::~CpuLevelCap() {
    SetCpuLevelCap(saved_);
}

}  // namespace kve::test
