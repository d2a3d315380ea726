// Placement effects and the composite transitions at full HD, beside the
// memcpy yardstick.
#include "bench_support.h"

namespace kve::bench {

void BM_Placement(benchmark::State &state, const char *command) {
    RunCommand(state, command, 1920, 1080);
}

// Whole-pixel position: row copies. Fractional in both axes: four-term blends.
BENCHMARK_CAPTURE(BM_Placement, PasteWhole, "Paste [-0.5 -0.3]");
BENCHMARK_CAPTURE(BM_Placement, PasteFractional, "Paste [-0.4537 -0.3821]");
BENCHMARK_CAPTURE(BM_Placement, PasteFractionalAcross, "Paste [-0.4537 -0.3]");
BENCHMARK_CAPTURE(BM_Placement, Translate, "Translate [0.3 -0.2]");
BENCHMARK_CAPTURE(BM_Placement, Push, "Push 0.37 5");
BENCHMARK_CAPTURE(BM_Placement, Shadow, "Shadow [0.04 0.05] [(argb) 255 20 20 20] 0.6");

}  // namespace kve::bench
