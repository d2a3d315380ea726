// Counts the bytes allocated through operator new in the benchmark binary, so
// benchmarks can report the peak working memory an effect takes per call
// (scratch blocks, the transitions' frames). Each block carries its size in a
// 16-byte header; over-aligned allocations keep the standard library's own
// matching pair and are not counted (the library makes none).
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

#include "bench_support.h"

namespace {

std::atomic<int64_t> currentBytes{0}, peakBytes{0}, baselineBytes{0};
constexpr size_t kHeader = 16;

void *CountedAlloc(size_t n) noexcept {
    auto *block = static_cast<unsigned char *>(std::malloc(n + kHeader));
    if (!block) return nullptr;
    *reinterpret_cast<size_t *>(block) = n;
    const int64_t now = currentBytes.fetch_add(static_cast<int64_t>(n)) + static_cast<int64_t>(n);
    int64_t peak = peakBytes.load();
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
    }
    return block + kHeader;
}

void CountedFree(void *p) noexcept {
    if (!p) return;
    auto *block = static_cast<unsigned char *>(p) - kHeader;
    currentBytes.fetch_sub(static_cast<int64_t>(*reinterpret_cast<size_t *>(block)));
    std::free(block);
}

}  // namespace

void *operator new(size_t n) {
    if (void *p = CountedAlloc(n)) return p;
    throw std::bad_alloc();
}
void *operator new[](size_t n) {
    return operator new(n);
}
void *operator new(size_t n, const std::nothrow_t &) noexcept {
    return CountedAlloc(n);
}
void *operator new[](size_t n, const std::nothrow_t &) noexcept {
    return CountedAlloc(n);
}
void operator delete(void *p) noexcept {
    CountedFree(p);
}
void operator delete[](void *p) noexcept {
    CountedFree(p);
}
void operator delete(void *p, size_t) noexcept {
    CountedFree(p);
}
void operator delete[](void *p, size_t) noexcept {
    CountedFree(p);
}
void operator delete(void *p, const std::nothrow_t &) noexcept {
    CountedFree(p);
}
void operator delete[](void *p, const std::nothrow_t &) noexcept {
    CountedFree(p);
}

namespace kve::bench {

void ResetPeakHeap() {
    baselineBytes = currentBytes.load();
    peakBytes = baselineBytes.load();
}

int64_t PeakHeapBytes() {
    return peakBytes.load() - baselineBytes.load();
}

}  // namespace kve::bench
