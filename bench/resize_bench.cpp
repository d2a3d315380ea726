// Resize and ZoomPan from full HD: halving and doubling in each mode, and
// zooms that keep the frame size.
#include <string>

#include "bench_support.h"

namespace kve::bench {

namespace {

// One Resize per iteration from a 1920 x 1080 frame to w x h.
void BM_Resize(benchmark::State &state, int q) {
    const int32_t w = static_cast<int32_t>(state.range(0)),
                  h = static_cast<int32_t>(state.range(1));
    BenchFrames frames(1920, 1080);
    std::vector<uint32_t> out(size_t(w) * h);
    auto inputs = frames.Inputs();
    const std::string command =
        "Resize [" + std::to_string(w) + " " + std::to_string(h) + "] 1 1 0 0 " + std::to_string(q);
    ResetPeakHeap();
    for (auto _ : state) {
        int rc =
            KVE_EffectBySize(command.c_str(), inputs.data(), 1920, 1080, out.data(), w, h, nullptr);
        benchmark::DoNotOptimize(rc);
        benchmark::ClobberMemory();
    }
    SetPixelRate(state, int64_t{w} * h);
    state.counters["peak_KiB"] = static_cast<double>(PeakHeapBytes()) / 1024.0;
}

}  // namespace

// Halving (960 x 540) and doubling (3840 x 2160).
BENCHMARK_CAPTURE(BM_Resize, Nearest, 0)->Args({960, 540})->Args({3840, 2160});
BENCHMARK_CAPTURE(BM_Resize, Linear, 1)->Args({960, 540})->Args({3840, 2160});
BENCHMARK_CAPTURE(BM_Resize, Triangle, 2)->Args({960, 540})->Args({3840, 2160});
BENCHMARK_CAPTURE(BM_Resize, Lanczos3, 6)->Args({960, 540})->Args({3840, 2160});
BENCHMARK_CAPTURE(BM_Resize, Mitchell, 7)->Args({960, 540});

BENCHMARK_CAPTURE(BM_Command, ZoomPanNearest, "ZoomPan 1.8 1.8 0.3 -0.2 0") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, ZoomPanLinear, "ZoomPan 1.8 1.8 0.3 -0.2 1") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, ZoomPanLanczos3, "ZoomPan 0.7 0.7 0.1 0.1 6") KVE_BENCH_SIZES;

}  // namespace kve::bench
