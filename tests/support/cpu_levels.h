// The CPU levels a test of optimised rows runs through.
#pragma once

#include <vector>

#include "engine/cpu.h"

namespace kve::test {

// Every level this machine can run, scalar first. Prints the levels it leaves
// out, so a run on an older CPU says which rows it could not check.
std::vector<CpuLevel> LevelsToTest();

// Lowers the active level for its lifetime (whole-frame runs through one path).
class CpuLevelCap {
  public:
    explicit CpuLevelCap(CpuLevel cap);
    ~CpuLevelCap();
    CpuLevelCap(const CpuLevelCap &) = delete;
    CpuLevelCap &operator=(const CpuLevelCap &) = delete;

  private:
    CpuLevel saved_;
};

}  // namespace kve::test
