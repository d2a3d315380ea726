// Noise and mirrors through command texts, beside the memcpy yardstick.
#include "bench_support.h"

namespace kve::bench {

void BM_NoiseMirror(benchmark::State &state, const char *command) {
    RunCommand(state, command, static_cast<int32_t>(state.range(0)),
               static_cast<int32_t>(state.range(1)));
}

BENCHMARK_CAPTURE(BM_NoiseMirror, AddNoiseGrey, "Add_Noise 0.5 0.6 0.1 0") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_NoiseMirror, AddNoiseColour, "Add_Noise 0.5 0.6 0.1 1") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_NoiseMirror, MulNoise, "Mul_Noise 0.5 -0.4") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_NoiseMirror, MirrorH, "MirrorH") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_NoiseMirror, MirrorV, "MirrorV") KVE_BENCH_SIZES;

}  // namespace kve::bench
