// The matrix warps at the default size and at full HD, one thread: nearest,
// bilinear (the affine sampler's bilinear mode), the affine kernel bank on a
// shrink, and EWA. Peers measured on the same machine at full HD: an affine
// warp with nearest sampling 3.3 ms, with bilinear 5.1 ms, a perspective
// warp with bilinear 8.9 ms.
#include "bench_support.h"

namespace kve::bench {

#define KVE_WARP_BENCH(name, command) \
    BENCHMARK_CAPTURE(BM_Command, name, command) KVE_BENCH_SIZES->Unit(benchmark::kMillisecond)

// A turn and a slight shrink: an affine map.
KVE_WARP_BENCH(SrtNearest, "SRT 0.9 0.9 10 0.05 0 0 0 0");
KVE_WARP_BENCH(SrtBilinear, "SRT 0.9 0.9 10 0.05 0 0 0 2");
KVE_WARP_BENCH(SrtKernelShrink, "SRT 0.4 0.4 10 0 0 0 0 2");
// A perspective map.
KVE_WARP_BENCH(TiltNearest, "Tilt 1 1 20 10 0 0 0 0 0");
KVE_WARP_BENCH(TiltBilinear, "Tilt 1 1 20 10 0 0 0 0 2");
KVE_WARP_BENCH(TiltEwa, "Tilt 1 1 20 10 0 0 0 0 1");
KVE_WARP_BENCH(X4CornerEwaShrink, "X4Corner -1.5 -0.8 1.2 -1.1 1.6 0.9 -1.3 0.8 0 0 1");

}  // namespace kve::bench

#ifdef KVE_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace kve::bench {

// The peers on one thread at full HD, over the same frames: an affine and a
// perspective warp of a four-channel 8-bit picture.
void BM_PeerWarp(benchmark::State &state, bool perspective, int interpolation) {
    cv::setNumThreads(1);
    BenchFrames frames(1920, 1080);
    cv::Mat src(1080, 1920, CV_8UC4, frames.a.data()), dst(1080, 1920, CV_8UC4, frames.out.data());
    const cv::Point2f centre(960, 540);
    cv::Mat affine = cv::getRotationMatrix2D(centre, 10, 0.9);
    cv::Mat projective = cv::Mat::eye(3, 3, CV_64F);
    projective.at<double>(2, 0) = 0.0002;
    projective.at<double>(2, 1) = 0.0001;
    for (auto _ : state) {
        if (perspective)
            cv::warpPerspective(src, dst, projective, dst.size(), interpolation);
        else
            cv::warpAffine(src, dst, affine, dst.size(), interpolation);
        benchmark::ClobberMemory();
    }
    SetPixelRate(state, int64_t{1920} * 1080);
}
BENCHMARK_CAPTURE(BM_PeerWarp, AffineNearest, false, cv::INTER_NEAREST)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PeerWarp, AffineBilinear, false, cv::INTER_LINEAR)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PeerWarp, PerspectiveBilinear, true, cv::INTER_LINEAR)
    ->Unit(benchmark::kMillisecond);

}  // namespace kve::bench
#endif
