// Wipe at full HD, half-way, with a soft edge of 5% of the width, beside the
// memcpy yardstick: a bar, an iris, a star, a clock and a zig-zag; the round
// shapes (a circle and an eye); and block wipes of 16 x 16 blocks in a snake,
// a spiral and the random order, hard (band below one grid) and soft (a band
// of 1.3 grids, so most blocks are mixed through the border colour).
#include <string>

#include "bench_support.h"

namespace kve::bench {

void BM_Wipe(benchmark::State &state, int number) {
    const std::string command =
        "Wipe " + std::to_string(number) + " 0.5 0.05 [0 0] 1 1 0 [8 8] 0 [(argb) 255 255 255 255]";
    RunCommand(state, command, 1920, 1080);
}

void BM_BlockWipe(benchmark::State &state, int number, bool soft) {
    const std::string command =
        "Wipe " + std::to_string(number) +
        (soft ? " 0.5 0.5 [0 0] 1 1 0 [16 16] 0.8" : " 0.5 0.05 [0 0] 1 1 0 [16 16] 0") +
        " [(argb) 255 255 255 255]";
    RunCommand(state, command, 1920, 1080);
}

BENCHMARK_CAPTURE(BM_Wipe, Bar1, 1);
BENCHMARK_CAPTURE(BM_Wipe, Iris101, 101);
BENCHMARK_CAPTURE(BM_Wipe, Star128, 128);
BENCHMARK_CAPTURE(BM_Wipe, Clock201, 201);
BENCHMARK_CAPTURE(BM_Wipe, ZigZag71, 71);
BENCHMARK_CAPTURE(BM_Wipe, ZigZag72, 72);
BENCHMARK_CAPTURE(BM_Wipe, ZigZag73, 73);
BENCHMARK_CAPTURE(BM_Wipe, ZigZag74, 74);
BENCHMARK_CAPTURE(BM_Wipe, Circle119, 119);
BENCHMARK_CAPTURE(BM_Wipe, Eye122, 122);
BENCHMARK_CAPTURE(BM_BlockWipe, Snake301, 301, false);
BENCHMARK_CAPTURE(BM_BlockWipe, Spiral310, 310, false);
BENCHMARK_CAPTURE(BM_BlockWipe, Random410, 410, false);
BENCHMARK_CAPTURE(BM_BlockWipe, Snake301Soft, 301, true);
BENCHMARK_CAPTURE(BM_BlockWipe, Random410Soft, 410, true);

}  // namespace kve::bench
