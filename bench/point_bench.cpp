// Point operations through command texts, beside the memcpy yardstick.
#include "bench_support.h"

namespace kve::bench {

void BM_PointOp(benchmark::State &state, const char *command) {
    RunCommand(state, command, static_cast<int32_t>(state.range(0)),
               static_cast<int32_t>(state.range(1)));
}

BENCHMARK_CAPTURE(BM_PointOp, Add, "Add") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_PointOp, Sub, "Sub") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_PointOp, Mul, "Mul") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_PointOp, And, "And") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_PointOp, Or, "Or") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_PointOp, Xor, "Xor") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_PointOp, Max, "Max") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_PointOp, Min, "Min") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_PointOp, Negate, "Negate") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_PointOp, Monochrome, "Monochrome") KVE_BENCH_SIZES;

}  // namespace kve::bench
