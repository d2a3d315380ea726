// Noise and mirrors through command texts, beside the memcpy yardstick.
#include "bench_support.h"

namespace kve::bench {

BENCHMARK_CAPTURE(BM_Command, AddNoiseGrey, "Add_Noise 0.5 0.6 0.1 0") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, AddNoiseColour, "Add_Noise 0.5 0.6 0.1 1") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, MulNoise, "Mul_Noise 0.5 -0.4") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, MirrorH, "MirrorH") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, MirrorV, "MirrorV") KVE_BENCH_SIZES;

}  // namespace kve::bench
