// Neighbourhood filters, blurs, medians and outliers, beside the memcpy
// yardstick. Kernels of small whole taps take the integer rows; the others
// sum in doubles. The box blur of 3.36 pixels at 1920 wide is a 7 x 7 mean.
// With OpenCV installed the nearest peer operations run in the same process.
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
BENCHMARK_CAPTURE(BM_Command, ConvolveMean4x4, "Convolve 4 4 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1")
KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, BlurBox7x7, "BlurFilter 0.0035 0.0035 0 1") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, BlurBell, "BlurFilter 0.01 0.01 2 1") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, BlurMotion, "BlurMotionFilter 0.01 30 0 1") KVE_BENCH_SIZES;

}  // namespace kve::bench

#if defined(KVE_BENCH_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace kve::bench {

// The nearest peer operations on the same four-channel bytes, one thread.
void BM_Peer(benchmark::State &state, void (*op)(const cv::Mat &, cv::Mat &)) {
    cv::setNumThreads(1);
    BenchFrames frames(1920, 1080);
    const cv::Mat src(1080, 1920, CV_8UC4, frames.a.data());
    cv::Mat dst(1080, 1920, CV_8UC4, frames.out.data());
    for (auto _ : state) {
        op(src, dst);
        benchmark::ClobberMemory();
    }
    SetPixelRate(state, int64_t{1920} * 1080);
}

void PeerMedian3x3(const cv::Mat &src, cv::Mat &dst) {
    cv::medianBlur(src, dst, 3);
}
void PeerFilter3x3(const cv::Mat &src, cv::Mat &dst) {
    static const cv::Mat k = (cv::Mat_<float>(3, 3) << 1, 0, -1, 2, 0, -2, 1, 0, -1);
    cv::filter2D(src, dst, -1, k);
}
void PeerFilter4x4(const cv::Mat &src, cv::Mat &dst) {
    static const cv::Mat k =
        (cv::Mat_<float>(4, 4) << 1, 2, 2, 1, 2, -4, -4, 2, 2, -4, -4, 2, 1, 2, 2, 1);
    cv::filter2D(src, dst, -1, k);
}
void PeerBlur7x7(const cv::Mat &src, cv::Mat &dst) {
    cv::blur(src, dst, cv::Size(7, 7));
}

BENCHMARK_CAPTURE(BM_Peer, OpenCVMedianBlur3x3, PeerMedian3x3);
BENCHMARK_CAPTURE(BM_Peer, OpenCVFilter2D3x3, PeerFilter3x3);
BENCHMARK_CAPTURE(BM_Peer, OpenCVFilter2D4x4, PeerFilter4x4);
BENCHMARK_CAPTURE(BM_Peer, OpenCVBlur7x7, PeerBlur7x7);

}  // namespace kve::bench
#endif
