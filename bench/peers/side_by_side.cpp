// Each effect beside its nearest OpenCV operation, in one process on the same
// full-HD frames, one thread, the two timed in turn so both see the same
// machine. Prints each pair's median times, their ratio (ours / peer) and the
// geometric mean of the ratios. The soft wipes are paired with a frame copy,
// the yardstick they are measured against, and have a geometric mean of
// their own.
//
//   kve_peers [repeats] [part of a name]   (default 31 timings of each side,
//                                          every pair)
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "libkve.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

// ---- the warps' geometry, built the way the library builds it ------------------
// A 3 x 3 matrix in the library's row-vector convention: a point [x y 1] maps
// to [x y 1] x M, divided by its third component.
using Matrix = std::array<double, 9>;

Matrix Multiply(const Matrix &a, const Matrix &b) {
    Matrix r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                r[3 * i + j] += a[3 * i + k] * b[3 * k + j];
    return r;
}

// Output pixels to unit coordinates (x -1 .. 1, y up, one unit half the
// width), and back to source pixels.
const Matrix kToUnit{2.0 / kWidth, 0, 0, 0, -2.0 / kWidth, 0, -1, double{kHeight} / kWidth, 1};
const Matrix kToPixel{kWidth / 2.0, 0, 0, 0, -kWidth / 2.0, 0, kWidth / 2.0, kHeight / 2.0, 1};

// Output pixel to source pixel for a warp whose unit-coordinate matrix is E,
// as the peer takes it (column vectors, the inverse map): the transpose.
cv::Mat PeerMatrix(const Matrix &E, int rows) {
    const Matrix m = Multiply(Multiply(kToUnit, E), kToPixel);
    cv::Mat M(rows, 3, CV_64F);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < 3; ++c)
            M.at<double>(r, c) = m[static_cast<size_t>(3 * c + r)];
    return M;
}

// "SRT s s turn 0 0": unscale after turning back by `turn` degrees.
cv::Mat SrtPeer(double scale, double turn) {
    const double r = -turn * M_PI / 180, c = std::cos(r), s = std::sin(r);
    const Matrix rotate{c, s, 0, -s, c, 0, 0, 0, 1};
    const Matrix unscale{1 / scale, 0, 0, 0, 1 / scale, 0, 0, 0, 1};
    return PeerMatrix(Multiply(rotate, unscale), 2);
}

// "Tilt 1 1 a b 0 0": the perspective row (tan a, tan b).
cv::Mat TiltPeer(double a, double b) {
    const Matrix tilt{1, 0, std::tan(a * M_PI / 180), 0, 1, std::tan(b * M_PI / 180), 0, 0, 1};
    return PeerMatrix(tilt, 3);
}

// "Waves 0 0 amplitude frequency 0": every output pixel's source position,
// by the library's formula, as the peer's map (built once, outside the timing).
cv::Mat WavesMap(double amplitude, double frequency) {
    cv::Mat map(kHeight, kWidth, CV_32FC2);
    for (int v = 0; v < kHeight; ++v)
        for (int u = 0; u < kWidth; ++u) {
            double x = u * kToUnit[0] + kToUnit[6], y = v * kToUnit[4] + kToUnit[7];
            const double d = std::sqrt(x * x + y * y);
            if (d > 0) {
                const double s = amplitude * std::sin(d * 2 * M_PI * frequency);
                x += s * x / d;
                y += s * y / d;
            }
            map.at<cv::Vec2f>(v, u) = {static_cast<float>(x * kToPixel[0] + kToPixel[6]),
                                       static_cast<float>(y * kToPixel[4] + kToPixel[7])};
        }
    return map;
}

struct Frames {
    std::vector<uint32_t> a, b, key, out;
    cv::Mat matA, matB, matKey, matOut, grey, lut, weightsF, weightsB, noise, scratch;
    cv::Mat turn = SrtPeer(0.9, 10), tilt = TiltPeer(10, 5), waves = WavesMap(0.01, 4);
    Frames() : a(size_t{kWidth} * kHeight), b(a.size()), key(a.size()), out(a.size()) {
        uint32_t state = 12345;
        for (size_t i = 0; i < a.size(); ++i) {
            state = state * 1664525u + 1013904223u;
            a[i] = state;
            b[i] = state * 2654435761u;
            key[i] = state >> 7 ^ state << 13;
        }
        matA = cv::Mat(kHeight, kWidth, CV_8UC4, a.data());
        matB = cv::Mat(kHeight, kWidth, CV_8UC4, b.data());
        matKey = cv::Mat(kHeight, kWidth, CV_8UC4, key.data());
        matOut = cv::Mat(kHeight, kWidth, CV_8UC4, out.data());
        grey.create(kHeight, kWidth, CV_8UC1);
        lut.create(1, 256, CV_8UC1);
        for (int v = 0; v < 256; ++v)
            lut.at<uint8_t>(v) =
                static_cast<uint8_t>(std::min(255, static_cast<int>(v * 0.5 + 0.5)));
        // Composite's peer blends by per-pixel weights, made once from the key.
        weightsF.create(kHeight, kWidth, CV_32FC1);
        weightsB.create(kHeight, kWidth, CV_32FC1);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const float w = static_cast<float>(key[size_t{kWidth} * y + x] & 0xFF) / 255.0f;
                weightsF.at<float>(y, x) = w;
                weightsB.at<float>(y, x) = 1 - w;
            }
        noise.create(kHeight, kWidth, CV_8UC4);
        scratch.create(kHeight, kWidth, CV_8UC4);
    }
};

struct Pair {
    const char *name;     // the effect
    std::string command;  // its command text
    int inputs;           // 1: a; 2: a, b; 3: a, key, b
    const char *peer;     // what the peer does
    std::function<void(Frames &)> run;
};

std::vector<Pair> Pairs() {
    const std::string wipeTail = " 0.5 0.05 [0 0] 1 1 0 [8 8] 0 [(argb) 255 255 255 255]";
    auto copy = [](Frames &f) { std::memcpy(f.out.data(), f.a.data(), f.a.size() * 4); };
    return {
        {"Add", "Add", 2, "add", [](Frames &f) { cv::add(f.matA, f.matB, f.matOut); }},
        {"Sub", "Sub", 2, "subtract", [](Frames &f) { cv::subtract(f.matB, f.matA, f.matOut); }},
        {"Mul", "Mul", 2, "multiply", [](Frames &f) { cv::multiply(f.matA, f.matB, f.matOut); }},
        {"And", "And", 2, "bitwise_and",
         [](Frames &f) { cv::bitwise_and(f.matA, f.matB, f.matOut); }},
        {"Or", "Or", 2, "bitwise_or", [](Frames &f) { cv::bitwise_or(f.matA, f.matB, f.matOut); }},
        {"Xor", "Xor", 2, "bitwise_xor",
         [](Frames &f) { cv::bitwise_xor(f.matA, f.matB, f.matOut); }},
        {"Max", "Max", 2, "max (per channel)",
         [](Frames &f) { cv::max(f.matA, f.matB, f.matOut); }},
        {"Min", "Min", 2, "min (per channel)",
         [](Frames &f) { cv::min(f.matA, f.matB, f.matOut); }},
        {"Negate", "Negate", 1, "bitwise_not",
         [](Frames &f) { cv::bitwise_not(f.matA, f.matOut); }},
        {"Monochrome", "Monochrome", 1, "cvtColor RGBA2GRAY",
         [](Frames &f) { cv::cvtColor(f.matA, f.grey, cv::COLOR_RGBA2GRAY); }},
        {"MirrorH", "MirrorH", 1, "flip (y axis)",
         [](Frames &f) { cv::flip(f.matA, f.matOut, 1); }},
        {"MirrorV", "MirrorV", 1, "flip (x axis)",
         [](Frames &f) { cv::flip(f.matA, f.matOut, 0); }},
        {"Fade", "Fade 0.5", 1, "LUT", [](Frames &f) { cv::LUT(f.matA, f.lut, f.matOut); }},
        {"Dissolve", "Dissolve 0.25", 2, "addWeighted",
         [](Frames &f) { cv::addWeighted(f.matA, 0.25, f.matB, 0.75, 0, f.matOut); }},
        {"Composite", "Composite 0.75 0.25", 3, "blendLinear",
         [](Frames &f) { cv::blendLinear(f.matA, f.matB, f.weightsF, f.weightsB, f.matOut); }},
        {"LumaKey", "LumaKey 0.5 0.1", 1, "inRange",
         [](Frames &f) {
             cv::inRange(f.matA, cv::Scalar(0, 102, 102, 102), cv::Scalar(255, 153, 153, 153),
                         f.grey);
         }},
        {"ChromaKey", "ChromaKey [(argb) 255 0 255 0] 0.3", 1, "inRange",
         [](Frames &f) {
             cv::inRange(f.matA, cv::Scalar(0, 0, 178, 0), cv::Scalar(255, 77, 255, 77), f.grey);
         }},
        {"Add_Noise", "Add_Noise 0.5 0.6 0.1 1", 1, "randu + add",
         [](Frames &f) {
             cv::randu(f.noise, cv::Scalar::all(0), cv::Scalar::all(92));
             cv::add(f.matA, f.noise, f.matOut);
         }},
        {"Mul_Noise", "Mul_Noise 0.5 -0.4", 1, "randu + multiply",
         [](Frames &f) {
             cv::randu(f.noise, cv::Scalar::all(153), cv::Scalar::all(255));
             cv::multiply(f.matA, f.noise, f.matOut, 1.0 / 255);
         }},
        {"Median3x3", "Median3x3", 1, "medianBlur 3",
         [](Frames &f) { cv::medianBlur(f.matA, f.matOut, 3); }},
        {"Convolve 4x4", "Convolve 4 4 0 1 2 2 1 2 -4 -4 2 2 -4 -4 2 1 2 2 1", 1, "filter2D 4x4",
         [](Frames &f) {
             static const cv::Mat k =
                 (cv::Mat_<float>(4, 4) << 1, 2, 2, 1, 2, -4, -4, 2, 2, -4, -4, 2, 1, 2, 2, 1);
             cv::filter2D(f.matA, f.matOut, -1, k);
         }},
        {"Edge 3x3 whole", "Edge 3 0 0", 1, "filter2D 3x3",
         [](Frames &f) {
             static const cv::Mat k = (cv::Mat_<float>(3, 3) << 1, 0, -1, 2, 0, -2, 1, 0, -1);
             cv::filter2D(f.matA, f.matOut, -1, k);
         }},
        {"Edge 3x3 sixths", "Edge 13 0 0", 1, "filter2D 3x3",
         [](Frames &f) {
             const float s = 1.0f / 6;
             static const cv::Mat k = (cv::Mat_<float>(3, 3) << s, 0, -s, s, 0, -s, s, 0, -s);
             cv::filter2D(f.matA, f.matOut, -1, k);
         }},
        {"BlurFilter box", "BlurFilter 0.0035 0.0035 0 1", 1, "blur 7x7",
         [](Frames &f) { cv::blur(f.matA, f.matOut, cv::Size(7, 7)); }},
        {"Resize half", "Resize [960 540] 1 1 0 0 1", 1, "resize LINEAR",
         [](Frames &f) {
             cv::resize(f.matA, f.scratch(cv::Rect(0, 0, 960, 540)), cv::Size(960, 540), 0, 0,
                        cv::INTER_LINEAR);
         }},
        // A turn by 10 degrees with a shrink to 0.9, a perspective tilt and
        // concentric waves; the same geometry on both sides, outside black.
        {"SRT nearest", "SRT 0.9 0.9 10 0 0 0 0 0", 1, "warpAffine NEAREST",
         [](Frames &f) {
             cv::warpAffine(f.matA, f.matOut, f.turn, f.matOut.size(),
                            cv::INTER_NEAREST | cv::WARP_INVERSE_MAP);
         }},
        {"SRT bilinear", "SRT 0.9 0.9 10 0 0 0 0 2", 1, "warpAffine LINEAR",
         [](Frames &f) {
             cv::warpAffine(f.matA, f.matOut, f.turn, f.matOut.size(),
                            cv::INTER_LINEAR | cv::WARP_INVERSE_MAP);
         }},
        {"Tilt bilinear", "Tilt 1 1 10 5 0 0 0 0 2", 1, "warpPerspective LINEAR",
         [](Frames &f) {
             cv::warpPerspective(f.matA, f.matOut, f.tilt, f.matOut.size(),
                                 cv::INTER_LINEAR | cv::WARP_INVERSE_MAP);
         }},
        {"Waves bilinear", "Waves 0 0 0.01 4 0 0 0 2", 1, "remap LINEAR",
         [](Frames &f) { cv::remap(f.matA, f.matOut, f.waves, cv::noArray(), cv::INTER_LINEAR); }},
        {"Wipe 1 (bar)", "Wipe 1" + wipeTail, 2, "frame copy", copy},
        {"Wipe 101 (iris)", "Wipe 101" + wipeTail, 2, "frame copy", copy},
        {"Wipe 128 (star)", "Wipe 128" + wipeTail, 2, "frame copy", copy},
        {"Wipe 201 (clock)", "Wipe 201" + wipeTail, 2, "frame copy", copy},
        {"Wipe 73 (zig-zag)", "Wipe 73" + wipeTail, 2, "frame copy", copy},
        {"Wipe 119 (circle)", "Wipe 119" + wipeTail, 2, "frame copy", copy},
        {"Wipe 122 (eye)", "Wipe 122" + wipeTail, 2, "frame copy", copy},
        {"Wipe 301 (blocks)", "Wipe 301 0.5 0.5 [0 0] 1 1 0 [16 16] 0.8 [(argb) 255 255 255 255]",
         2, "frame copy", copy},
    };
}

double Seconds(const std::function<void()> &f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 31;
    const std::string only = argc > 2 ? argv[2] : "";
    cv::setNumThreads(1);
    Frames f;
    const char *cap = std::getenv("KVE_CPU");
    std::printf("rows at %s, %d timings of each side\n",
                cap ? cap : "the CPU's best level (KVE_CPU unset)", repeats);
    std::printf("%-20s %-22s %10s %10s %7s\n", "effect", "peer", "ours ms", "peer ms", "ratio");
    // Two geometric means: over the peer operations, and over the wipes as
    // multiples of a frame copy, which answer different questions.
    double logSum[2] = {0, 0};
    int count[2] = {0, 0};
    for (const Pair &p : Pairs()) {
        if (std::string(p.name).find(only) == std::string::npos) continue;
        uint32_t *inputs[4] = {f.a.data(), f.b.data(), nullptr, nullptr};
        if (p.inputs == 3) inputs[1] = f.key.data(), inputs[2] = f.b.data();
        auto ours = [&] {
            KVE_EffectBySize(p.command.c_str(), inputs, kWidth, kHeight, f.out.data(), 0, 0,
                             nullptr);
        };
        auto peer = [&] { p.run(f); };
        ours();  // warm both: first-call tables, page faults
        peer();
        std::vector<double> oursTimes, peerTimes;
        for (int i = 0; i < repeats; ++i) {
            oursTimes.push_back(Seconds(ours));
            peerTimes.push_back(Seconds(peer));
        }
        const double o = Median(oursTimes) * 1e3, q = Median(peerTimes) * 1e3;
        std::printf("%-20s %-22s %10.3f %10.3f %7.2f\n", p.name, p.peer, o, q, o / q);
        const int kind = std::strcmp(p.peer, "frame copy") == 0 ? 1 : 0;
        logSum[kind] += std::log(o / q);
        ++count[kind];
    }
    const char *names[2] = {"geometric mean, peers", "geometric mean, wipes"};
    for (int kind = 0; kind < 2; ++kind)
        if (count[kind] > 0)
            std::printf("%-43s %10s %10s %7.2f\n", names[kind], "", "",
                        std::exp(logSum[kind] / count[kind]));
    return 0;
}
