// Shared pieces of the benchmarks: frames, the megapixel rate counter and the
// memcpy yardstick every effect is reported beside.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "libkve.h"

namespace kve::bench {

struct BenchFrames {
    int32_t width, height;
    std::vector<uint32_t> a, b, c, out;
    BenchFrames(int32_t w, int32_t h);
    std::vector<uint32_t *> Inputs() { return {a.data(), b.data(), c.data(), nullptr}; }
};

// Reports the frame rate as megapixels per second of output.
void SetPixelRate(benchmark::State &state, int64_t pixelsPerIteration);

// Peak bytes allocated through operator new since the last reset.
void ResetPeakHeap();
int64_t PeakHeapBytes();

// Runs one command per iteration on frames of the given size; reports the
// rate and the peak working memory a call allocates ("peak_KiB").
void RunCommand(benchmark::State &state, const std::string &command, int32_t width, int32_t height);

// One command per iteration at the size the benchmark's two arguments give.
void BM_Command(benchmark::State &state, const char *command);

// The standard sizes: the library's default frame and full HD.
#define KVE_BENCH_SIZES ->Args({352, 240})->Args({1920, 1080})

}  // namespace kve::bench
