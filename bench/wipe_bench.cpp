// Wipe at full HD, half-way, with a soft edge of 5% of the width, beside the
// memcpy yardstick: a bar, an iris, a star, a clock and a zig-zag.
#include <string>

#include "bench_support.h"

namespace kve::bench {

void BM_Wipe(benchmark::State &state, int number) {
    const std::string command =
        "Wipe " + std::to_string(number) + " 0.5 0.05 [0 0] 1 1 0 [8 8] 0 [(argb) 255 255 255 255]";
    RunCommand(state, command, 1920, 1080);
}

BENCHMARK_CAPTURE(BM_Wipe, Bar1, 1);
BENCHMARK_CAPTURE(BM_Wipe, Iris101, 101);
BENCHMARK_CAPTURE(BM_Wipe, Star128, 128);
BENCHMARK_CAPTURE(BM_Wipe, Clock201, 201);
BENCHMARK_CAPTURE(BM_Wipe, ZigZag73, 73);

}  // namespace kve::bench
