// The closed-form warps at full HD, one thread, at each quality: nearest (0),
// EWA (1) and the affine sampler (2, bilinear for these mild maps). Beside
// each, the mapping function alone over the whole frame, without and with
// Jacobians (nearest and bilinear map one point per pixel, EWA three), so a
// warp's time splits into mapping and sampling. The peer measured on the
// same machine: a bilinear remap with precomputed float maps, 6.7 ms at full
// HD, which leaves out computing the map.
#include <vector>

#include "bench_support.h"
#include "effects/warp/nonlinear_warps.h"

namespace kve::bench {

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;

// A kind's warp state for a full-HD call, as set-up on the first row makes
// it. `reals` are the command's reals in text order (softness last); tiling
// 1, quality 0. The frames (source and luminance map) must outlive it.
struct MapSetUp {
    BenchFrames frames{kWidth, kHeight};
    ScanCache source{}, luminance{};
    WarpState state{};

    MapSetUp(const WarpKindRow &kind, const std::vector<double> &reals, int32_t mirror) {
        ArgBlock in{}, out{};
        for (size_t k = 0; k < reals.size(); ++k)
            in.reals[reals.size() - 1 - k] = reals[k];
        in.ints[0] = 0;
        in.ints[1] = 1;
        in.ints[2] = mirror;
        in.imageWidth = {kWidth, kWidth, 0, 0};
        in.imageHeight = {kHeight, kHeight, 0, 0};
        out.imageWidth[0] = kWidth;
        out.imageHeight[0] = kHeight;
        source = {frames.a.data(), kWidth, kHeight};
        luminance = {frames.b.data(), kWidth, kHeight};
        const ScanCaches caches{&source, &luminance, nullptr, nullptr, nullptr};
        WarpSetup(state, kind, in, out, caches);
    }
};

// One whole frame through a kind's mapping function, row by row as the
// samplers call it.
void BM_Map(benchmark::State &state, const WarpKindRow *kind, std::vector<double> reals,
            int32_t mirror, bool withJacobian) {
    MapSetUp setUp(*kind, reals, mirror);
    WarpState &s = setUp.state;
    std::vector<Vec2> points(3 * static_cast<size_t>(kWidth));
    for (auto _ : state) {
        for (int32_t y = 0; y < kHeight; ++y) {
            FillRowPoints(points.data(), y, kWidth);
            s.map(s, points.data(), points.data(), kWidth, withJacobian);
        }
        benchmark::DoNotOptimize(points.data());
        benchmark::ClobberMemory();
    }
    SetPixelRate(state, int64_t{kWidth} * kHeight);
}

}  // namespace

// The command at qualities 0, 1 and 2, and its mapping alone.
#define KVE_NONLINEAR_BENCH(name, command, kind, mirror, ...)                                     \
    BENCHMARK_CAPTURE(BM_Command, name##Nearest, command " 0")                                    \
        ->Args({kWidth, kHeight})                                                                 \
        ->Unit(benchmark::kMillisecond);                                                          \
    BENCHMARK_CAPTURE(BM_Command, name##Ewa, command " 1")                                        \
        ->Args({kWidth, kHeight})                                                                 \
        ->Unit(benchmark::kMillisecond);                                                          \
    BENCHMARK_CAPTURE(BM_Command, name##Affine, command " 2")                                     \
        ->Args({kWidth, kHeight})                                                                 \
        ->Unit(benchmark::kMillisecond);                                                          \
    BENCHMARK_CAPTURE(BM_Map, name##MapOnly, &kind, std::vector<double>{__VA_ARGS__}, mirror,     \
                      false)                                                                      \
        ->Unit(benchmark::kMillisecond);                                                          \
    BENCHMARK_CAPTURE(BM_Map, name##MapJacobian, &kind, std::vector<double>{__VA_ARGS__}, mirror, \
                      true)                                                                       \
        ->Unit(benchmark::kMillisecond)

// The gallery's examples (tiling 1 throughout).
KVE_NONLINEAR_BENCH(Bubble, "Bubble 0 0 0.6 0.4 1 0 1", kBubbleWarp, 0, 0, 0, 0.6, 0.4, 1, 0);
KVE_NONLINEAR_BENCH(Droplet, "Droplet 0 0 0.025 5 0 0.45 0.35 0.3 0 1", kDropletWarp, 0, 0, 0,
                    0.025, 5, 0, 0.45, 0.35, 0.3, 0);
KVE_NONLINEAR_BENCH(Kscope, "Kscope 0 0 0 30 0.65 8 1 0 1", kKscopeWarp, 1, 0, 0, 0, 30, 0.65, 8,
                    0);
KVE_NONLINEAR_BENCH(Lumamap, "Lumamap 0.06 -0.06 1 1 0 1", kLumamapWarp, 0, 0.06, -0.06, 1, 1, 0);
KVE_NONLINEAR_BENCH(Mirage, "Mirage 0.03 4 0 0 1", kMirageWarp, 0, 0.03, 4, 0, 0);
KVE_NONLINEAR_BENCH(Pinch, "Pinch 0 0 1.3 45 0 1", kPinchWarp, 0, 0, 0, 1.3, 45, 0);
KVE_NONLINEAR_BENCH(Ripple, "Ripple 30 0 0.08 0.3 0.3 0 1", kRippleWarp, 0, 30, 0, 0.08, 0.3, 0.3,
                    0);
KVE_NONLINEAR_BENCH(Turbulence, "Turbulence 0.04 4 4 0 0 1", kTurbulenceWarp, 0, 0.04, 4, 4, 0, 0);
KVE_NONLINEAR_BENCH(Vortex, "Vortex 0 0 180 0.6 0 1", kVortexWarp, 0, 0, 0, 180, 0.6, 0);
KVE_NONLINEAR_BENCH(Waves, "Waves 0 0 0.012 6 0 0 1", kWavesWarp, 0, 0, 0, 0.012, 6, 0, 0);

}  // namespace kve::bench

#ifdef KVE_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace kve::bench {

namespace {

// The peer: a bilinear remap with mirrored edges over the same frame, its
// float maps filled beforehand (untimed) from the Waves example's mapping.
void BM_PeerRemap(benchmark::State &state) {
    cv::setNumThreads(1);
    MapSetUp setUp(kWavesWarp, {0, 0, 0.012, 6, 0, 0}, 0);
    WarpState &s = setUp.state;
    cv::Mat mapX(kHeight, kWidth, CV_32FC1), mapY(kHeight, kWidth, CV_32FC1);
    std::vector<Vec2> points(static_cast<size_t>(kWidth));
    for (int32_t y = 0; y < kHeight; ++y) {
        FillRowPoints(points.data(), y, kWidth);
        s.map(s, points.data(), points.data(), kWidth, false);
        for (int32_t x = 0; x < kWidth; ++x) {
            mapX.at<float>(y, x) = static_cast<float>(points[static_cast<size_t>(x)].x);
            mapY.at<float>(y, x) = static_cast<float>(points[static_cast<size_t>(x)].y);
        }
    }
    cv::Mat src(kHeight, kWidth, CV_8UC4, setUp.frames.a.data());
    cv::Mat dst(kHeight, kWidth, CV_8UC4, setUp.frames.out.data());
    for (auto _ : state) {
        cv::remap(src, dst, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_REFLECT);
        benchmark::ClobberMemory();
    }
    SetPixelRate(state, int64_t{kWidth} * kHeight);
}
BENCHMARK(BM_PeerRemap)->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace kve::bench
#endif
