#include "bench_support.h"

#include <cstring>

namespace kve::bench {

BenchFrames::BenchFrames(int32_t w, int32_t h)
    : width(w),
      height(h),
      a(size_t(w) * h),
      b(size_t(w) * h),
      c(size_t(w) * h),
      out(size_t(w) * h) {
    uint32_t state = 12345;
    for (size_t i = 0; i < a.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        a[i] = state;
        b[i] = state * 2654435761u;
        c[i] = (i % 7) ? 0xFFFFFFFFu : 0u;
    }
}

void SetPixelRate(benchmark::State &state, int64_t pixelsPerIteration) {
    state.counters["MP/s"] = benchmark::Counter(
        static_cast<double>(pixelsPerIteration) * static_cast<double>(state.iterations()) / 1e6,
        benchmark::Counter::kIsRate);
}

void RunCommand(benchmark::State &state, const std::string &command, int32_t width,
                int32_t height) {
    BenchFrames frames(width, height);
    auto inputs = frames.Inputs();
    ResetPeakHeap();
    for (auto _ : state) {
        int rc = KVE_EffectBySize(command.c_str(), inputs.data(), width, height, frames.out.data(),
                                  0, 0, nullptr);
        benchmark::DoNotOptimize(rc);
        benchmark::ClobberMemory();
    }
    SetPixelRate(state, int64_t{width} * height);
    state.counters["peak_KiB"] = static_cast<double>(PeakHeapBytes()) / 1024.0;
}

void BM_Command(benchmark::State &state, const char *command) {
    RunCommand(state, command, static_cast<int32_t>(state.range(0)),
               static_cast<int32_t>(state.range(1)));
}

// The bandwidth yardstick: copying one frame.
void BM_Memcpy(benchmark::State &state) {
    const int32_t w = static_cast<int32_t>(state.range(0)),
                  h = static_cast<int32_t>(state.range(1));
    BenchFrames frames(w, h);
    for (auto _ : state) {
        std::memcpy(frames.out.data(), frames.a.data(), frames.a.size() * 4);
        benchmark::ClobberMemory();
    }
    SetPixelRate(state, int64_t{w} * h);
}
BENCHMARK(BM_Memcpy) KVE_BENCH_SIZES;

}  // namespace kve::bench

BENCHMARK_MAIN();
