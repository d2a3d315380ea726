// Point operations through command texts, beside the memcpy yardstick.
#include "bench_support.h"

namespace kve::bench {

BENCHMARK_CAPTURE(BM_Command, Add, "Add") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, Sub, "Sub") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, Mul, "Mul") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, And, "And") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, Or, "Or") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, Xor, "Xor") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, Max, "Max") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, Min, "Min") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, Negate, "Negate") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, Monochrome, "Monochrome") KVE_BENCH_SIZES;

}  // namespace kve::bench
