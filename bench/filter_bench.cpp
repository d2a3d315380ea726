// Neighbourhood filters, blurs, medians and outliers, beside the memcpy
// yardstick. Kernels of small whole taps take the integer rows; the others
// sum in doubles. The box blur of 3.36 pixels at 1920 wide is a 7 x 7 mean.
#include "bench_support.h"

namespace kve::bench {

BENCHMARK_CAPTURE(BM_Command, Median3x3, "Median3x3") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, MedianX5, "MedianX5") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, Outlier3x3, "Outlier3x3 0.05 0") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, OutlierX5, "OutlierX5 0.05 0") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, EdgeInteger3x3, "Edge 3 0 0") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, EdgeFraction3x3, "Edge 13 0 0") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, SharpenInteger, "Sharpen 1 0 0.5 1") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, SharpenReal, "Sharpen 1 0.5 0.5 1") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, Emboss, "Emboss 0.5 3 1 0") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, ConvolveInteger4x4,
                  "Convolve 4 4 0 1 2 2 1 2 -4 -4 2 2 -4 -4 2 1 2 2 1")
KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, ConvolveMean4x4,
                  "Convolve 4 4 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1")
KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, BlurBox7x7, "BlurFilter 0.0035 0.0035 0 1") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, BlurBell, "BlurFilter 0.01 0.01 2 1") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, BlurMotion, "BlurMotionFilter 0.01 30 0 1") KVE_BENCH_SIZES;

}  // namespace kve::bench
