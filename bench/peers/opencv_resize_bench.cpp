// The peer figures for Resize: OpenCV's resize on the same four-channel
// full-HD frame, on one thread, built only when OpenCV is installed.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "../bench_support.h"

namespace kve::bench {

namespace {

void BM_PeerResize(benchmark::State &state, int interpolation) {
    cv::setNumThreads(1);
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    BenchFrames frames(1920, 1080);
    const cv::Mat src(1080, 1920, CV_8UC4, frames.a.data());
    cv::Mat dst(h, w, CV_8UC4);
    for (auto _ : state) {
        cv::resize(src, dst, dst.size(), 0, 0, interpolation);
        benchmark::ClobberMemory();
    }
    SetPixelRate(state, int64_t{w} * h);
}

}  // namespace

BENCHMARK_CAPTURE(BM_PeerResize, Nearest, cv::INTER_NEAREST)->Args({960, 540});
BENCHMARK_CAPTURE(BM_PeerResize, Area, cv::INTER_AREA)->Args({960, 540});
BENCHMARK_CAPTURE(BM_PeerResize, Linear, cv::INTER_LINEAR)->Args({3840, 2160});
BENCHMARK_CAPTURE(BM_PeerResize, Lanczos4, cv::INTER_LANCZOS4)->Args({960, 540});

}  // namespace kve::bench
