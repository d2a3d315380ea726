// Neighbourhood kernels: each output pixel is a weighted sum of a small
// window of input pixels around it, channel by channel, alpha included.
//
//   Convolve  any kernel of up to 16 taps (w x h from the command), optionally
//             divided by the sum of its taps
//   Edge      a 3 x 3 kernel from the kernel table, by type and direction
//   Sharpen   a 3 x 3 kernel built from an amount, a diagonal factor, a
//             vertical share and a centre factor
//   Emboss    two opposed kernels from the table, their difference lifted by
//             a level, in colour or as a grey of Monochrome's luma
//
// Windows repeat the frame's edge rows and columns. Sums are taken tap by tap
// in row-major order in doubles and rounded with halves away from zero. A
// kernel whose taps are small multiples of a power of two (1, 1/2 ... 1/256)
// runs in 16-bit integer lanes instead: its double sums are exact, so the
// integer sums give the same words. Other kernels run two channels per double
// vector over rows converted once. The driver (here) also serves the medians
// and outliers.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "effects/filter/filter_ops.h"
#include "effects/point/point_ops.h"
#include "engine/diag.h"
#include "engine/drivers.h"
#include "engine/effect_table.h"
#include "engine/monitor.h"
#include "engine/scanner.h"
#include "engine/scratch.h"
#include "interface/pixel.h"

namespace kve {

namespace {

// ---- the kernel table ----------------------------------------------------------

// A rotating entry: a centre and a ring of eight taps running clockwise from
// the top-left corner; direction d turns the ring by d steps.
struct RotatingKernel {
    int32_t type;
    double centre;
    double ring[8];
};

// The last row also serves every type that has no row of its own.
constexpr RotatingKernel kRotating[] = {
    {0, -2, {1, 1, -1, -1, -1, 1, 1, 1}},
    {2, 0, {1, 0, -1, -1, -1, 0, 1, 1}},
    {3, 0, {1, 0, -1, -2, -1, 0, 1, 2}},
    {-1, 0, {5, -3, -3, -3, -3, -3, 5, 5}},
};

// Kernel positions of the ring: top-left, top, top-right, right, bottom-right,
// bottom, bottom-left, left.
constexpr int kRingPosition[8] = {0, 1, 2, 5, 8, 7, 6, 3};

struct FixedKernel {
    int32_t type;
    Kernel3x3 taps;
};

constexpr double k3 = 1.0 / 3, k6 = 1.0 / 6, k9 = 1.0 / 9;

constexpr FixedKernel kFixed[] = {
    {4, {-0.25, 0.125, -0.25, 0.125, 0.5, 0.125, -0.25, 0.125, -0.25}},
    {5, {-0.125, -0.125, -0.125, -0.125, 1, -0.125, -0.125, -0.125, -0.125}},
    {6, {0, -0.25, 0, -0.25, 1, -0.25, 0, -0.25, 0}},
    {11, {k9, k9, k9, k9, k9, k9, k9, k9, k9}},
    {12, {-k6, -k6, -k6, 0, 0, 0, k6, k6, k6}},
    {13, {k6, 0, -k6, k6, 0, -k6, k6, 0, -k6}},
    {14, {k6, k6, k6, -k3, -k3, -k3, k6, k6, k6}},
    {15, {-0.25, 0, 0.25, 0, 0, 0, 0.25, 0, -0.25}},
    {16, {k6, -k3, k6, k6, -k3, k6, k6, -k3, k6}},
    {17, {0.25, 0, -0.25, -0.5, 0, 0.5, 0.25, 0, -0.25}},
    {18, {-0.25, 0.5, -0.25, 0, 0, 0, 0.25, -0.5, 0.25}},
    {19, {0.25, -0.5, 0.25, -0.5, 1, -0.5, 0.25, -0.5, 0.25}},
    {100, {0, 0, 0, 0, 1, 0, 0, 0, 0}},
    {101, {0, 0, 0, k3, k3, k3, 0, 0, 0}},
    {102, {0, k3, 0, 0, k3, 0, 0, k3, 0}},
};

// Directions wrap onto the ring with a Euclidean remainder, so -1 is 7.
int32_t RingTurn(int32_t direction) {
    const int32_t d = direction % 8;
    return d < 0 ? d + 8 : d;
}

// ---- per-call state --------------------------------------------------------------

struct KernelState {
    double taps[16];     // the kernel, row-major (Emboss: K1)
    double opposite[9];  // Emboss: K2
    int32_t kw, kh;
    bool valid;     // Convolve: the size was accepted
    int32_t shift;  // the fixed-point row's shift, or -1 for the double row
    int32_t tags[kKernelCacheRows];
};

// The job's scratch: the state, then (for kernels on the double row and for
// Emboss) the cached rows.
struct KernelLayout {
    KernelState *state;
    double *rows;
};

KernelLayout KernelLayoutOf(ScratchPlan &plan, const ArgBlock &in, bool cachedRows) {
    KernelLayout layout;
    layout.state = plan.Take<KernelState>(1);
    layout.rows = cachedRows ? plan.Take<double>(KernelCacheDoubles(in.imageWidth[0])) : nullptr;
    return layout;
}

void SetKernel(KernelState &s, int32_t kw, int32_t kh) {
    s.kw = kw;
    s.kh = kh;
    s.valid = true;
    s.shift = KernelFixedPointShift({s.taps, kw, kh});
}

void SetKernel3x3(KernelState &s, const Kernel3x3 &taps) {
    std::copy(taps.begin(), taps.end(), s.taps);
    SetKernel(s, 3, 3);
}

// ---- the window and the reference row ---------------------------------------------

int32_t Clamp(int64_t v, int32_t n) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, 0, n - 1));
}

// Rows of the window of row y, clamped to the frame.
void WindowRows(const KernelWindow &k, const Pixel *frame, int32_t width, int32_t height, int32_t y,
                const Pixel **rows) {
    const int64_t top = int64_t{y} - k.kh / 2;
    for (int32_t i = 0; i < k.kh; ++i)
        rows[i] = RowPtr(frame, Clamp(top + i, height), width);
}

int32_t Channel(Pixel p, int shift) {
    return static_cast<int32_t>(p >> shift & 0xFF);
}

// The four channel sums of one pixel's window, tap by tap in row-major order.
Pixel KernelPixel(const KernelWindow &k, const Pixel *const *rows, int32_t width, int64_t x) {
    const int64_t left = x - k.kw / 2;
    int32_t rounded[4];
    for (int c = 0; c < 4; ++c) {
        double s = 0.0;
        for (int32_t i = 0; i < k.kh; ++i)
            for (int32_t j = 0; j < k.kw; ++j)
                s += k.taps[i * k.kw + j] * Channel(rows[i][Clamp(left + j, width)], 8 * c);
        rounded[c] = RoundHalfAway(s);
    }
    return PackPixel(rounded[0], rounded[1], rounded[2], rounded[3]);
}

// ---- in-place output ----------------------------------------------------------------

bool Overlaps(const Pixel *a, size_t aWords, const Pixel *b, size_t bWords) {
    const auto a0 = reinterpret_cast<uintptr_t>(a), b0 = reinterpret_cast<uintptr_t>(b);
    return a0 < b0 + bWords * sizeof(Pixel) && b0 < a0 + aWords * sizeof(Pixel);
}

// "<Name> temp buffer allocation failure" for the running effect.
void ReportAllocationFailure(const ArgBlock &in) {
    std::string name = "Neighbourhood";
    for (const EffectRow &row : EffectTable())
        if (row.id == in.job->effectId && !row.transition) name = row.name;
    Diag_Message("<" + name + "> temp buffer allocation failure");
}

size_t FrameWords(int32_t width, int32_t height) {
    return static_cast<size_t>(width) * static_cast<size_t>(height);
}

// Output rows computed but not yet stored: row y may be stored once every row
// whose window reaches it has been computed, kMaxReachUp rows later.
class HeldRows {
  public:
    HeldRows(Pixel *frame, int32_t width)
        : frame_(frame),
          width_(width),
          ring_(new (std::nothrow) Pixel[static_cast<size_t>(width) * (kMaxReachUp + 1)]) {}
    bool Ready() const { return ring_ != nullptr; }
    // The slot of row y, holding the row's current words, so a line op that
    // writes nothing leaves the row as it was.
    Pixel *Open(int32_t y) {
        Pixel *slot = Slot(y);
        std::memcpy(slot, RowPtr(frame_, y, width_), static_cast<size_t>(width_) * sizeof(Pixel));
        return slot;
    }
    void Store(int32_t y) {
        std::memcpy(RowPtr(frame_, y, width_), Slot(y),
                    static_cast<size_t>(width_) * sizeof(Pixel));
    }
    // Stores every row from `from` up to and including `to`.
    void StoreRange(int32_t from, int32_t to) {
        for (int32_t r = std::max(from, 0); r <= to; ++r)
            Store(r);
    }

  private:
    Pixel *Slot(int32_t y) {
        return ring_.get() + static_cast<size_t>(y % (kMaxReachUp + 1)) * width_;
    }
    Pixel *frame_;
    int32_t width_;
    std::unique_ptr<Pixel[]> ring_;
};

}  // namespace

// ---- the driver ---------------------------------------------------------------------------

void NeighbourhoodDriver(LineOp lineOp, const ImageList &images, ArgBlock &in,
                         const OutputList &outputs, ArgBlock &out) {
    const int32_t rows = out.imageHeight[0];
    const int32_t width = out.imageWidth[0];
    if (rows <= 0 || width <= 0 || !outputs[0]) return;
    ImageList frames = images;
    const size_t outWords = FrameWords(width, rows);

    // An output that is exactly the input frame holds its rows back; any other
    // overlap (an output starting inside the input) reads from a copy.
    bool holdBack = false;
    std::unique_ptr<Pixel[]> copy;
    for (int k = 0; k < kMaxImages && images[k]; ++k) {
        const size_t words = FrameWords(in.imageWidth[k], in.imageHeight[k]);
        if (!Overlaps(images[k], words, outputs[0], outWords)) continue;
        if (images[k] == outputs[0] && in.imageWidth[k] == width && in.imageHeight[k] == rows &&
            !holdBack) {
            holdBack = true;
            continue;
        }
        copy.reset(new (std::nothrow) Pixel[words]);
        if (!copy) {
            ReportAllocationFailure(in);
            return;
        }
        std::memcpy(copy.get(), images[k], words * sizeof(Pixel));
        frames[k] = copy.get();
    }
    HeldRows held(outputs[0], holdBack ? width : 0);
    if (holdBack && !held.Ready()) {
        ReportAllocationFailure(in);
        return;
    }

    std::array<Pixel *, kMaxImages> outLines{};
    for (int32_t y = 0; y < rows; ++y) {
        for (int k = 0; k < kMaxImages && outputs[k]; ++k)
            outLines[k] = RowPtr(outputs[k], y, out.imageWidth[k]);
        if (holdBack) outLines[0] = held.Open(y);
        lineOp(y == 0 ? 1 : 0, 0, y, 1, frames.data(), outLines.data(), in, out);
        if (holdBack && y >= kMaxReachUp) held.Store(y - kMaxReachUp);
        if (!ReportRow(in, rows, y)) {
            // The rows computed so far are all complete: store them, as a
            // separate output would have them.
            if (holdBack) held.StoreRange(y - kMaxReachUp + 1, y);
            return;
        }
    }
    if (holdBack) held.StoreRange(rows - kMaxReachUp, rows - 1);
}

// ---- kernels ------------------------------------------------------------------------------

Kernel3x3 SelectKernel3x3(int32_t type, int32_t direction) {
    for (const FixedKernel &f : kFixed)
        if (f.type == type) return f.taps;
    const RotatingKernel *r = &kRotating[std::size(kRotating) - 1];
    for (const RotatingKernel &candidate : kRotating)
        if (candidate.type == type) r = &candidate;
    Kernel3x3 k{};
    k[4] = r->centre;
    const int32_t d = RingTurn(direction);
    for (int32_t p = 0; p < 8; ++p)
        k[kRingPosition[p]] = r->ring[(p + d) % 8];
    return k;
}

// The smallest power of two (up to 2^8) that makes every tap whole, such
// that 255 times the sum of the scaled taps' sizes fits 15 bits.
int32_t KernelFixedPointShift(const KernelWindow &k) {
    for (int32_t shift = 0; shift <= 8; ++shift) {
        const double scale = static_cast<double>(1 << shift);
        double size = 0;
        bool whole = true;
        for (int32_t i = 0; i < k.kw * k.kh && whole; ++i) {
            const double t = k.taps[i] * scale;
            whole = std::fabs(t) <= 32767 && t == std::trunc(t);
            size += std::fabs(t);
        }
        if (whole) return size * 255 <= 32767 ? shift : -1;
    }
    return -1;
}

void KernelRowReference(const KernelWindow &k, const Pixel *frame, int32_t width, int32_t height,
                        int32_t y, Pixel *dst) {
    const Pixel *rows[16];
    WindowRows(k, frame, width, height, y, rows);
    for (int32_t x = 0; x < width; ++x)
        dst[x] = KernelPixel(k, rows, width, x);
}

size_t KernelCacheDoubles(int32_t width) {
    return static_cast<size_t>(kKernelCacheRows) *
           (static_cast<size_t>(std::max(width, 0)) + 2 * kKernelCachePad) * 4;
}

namespace {

// Row r in doubles, four a pixel, with kKernelCachePad columns repeating the
// edge pixels on both sides; converted once and kept while windows use it
// (at most 16 distinct rows at a time). Returns the address of column 0.
const double *CachedRow(KernelRowCache &cache, const Pixel *frame, int32_t width, int32_t r) {
    const int32_t slot = r % kKernelCacheRows;
    const size_t stride = (static_cast<size_t>(width) + 2 * kKernelCachePad) * 4;
    double *row = cache.rows + static_cast<size_t>(slot) * stride;
    if (cache.tags[slot] != r + 1) {
        const Pixel *src = RowPtr(frame, r, width);
        auto convert = [&](int64_t j) {
            const Pixel p = src[Clamp(j, width)];
            double *d = row + (j + kKernelCachePad) * 4;
            d[0] = AlphaOf(p);
            d[1] = RedOf(p);
            d[2] = GreenOf(p);
            d[3] = BlueOf(p);
        };
        int64_t j = -kKernelCachePad;
        for (; j < 0; ++j)
            convert(j);
#if defined(__SSE2__)
        // Two pixels at a time: bytes widened to 32-bit lanes, two lanes a
        // conversion, in the pixel's byte order as above.
        const __m128i zero = _mm_setzero_si128();
        for (; j + 2 <= width; j += 2) {
            const __m128i bytes = _mm_unpacklo_epi8(
                _mm_loadl_epi64(reinterpret_cast<const __m128i *>(src + j)), zero);
            const __m128i first = _mm_unpacklo_epi16(bytes, zero);
            const __m128i second = _mm_unpackhi_epi16(bytes, zero);
            double *d = row + (j + kKernelCachePad) * 4;
            _mm_storeu_pd(d, _mm_cvtepi32_pd(first));
            _mm_storeu_pd(d + 2, _mm_cvtepi32_pd(_mm_srli_si128(first, 8)));
            _mm_storeu_pd(d + 4, _mm_cvtepi32_pd(second));
            _mm_storeu_pd(d + 6, _mm_cvtepi32_pd(_mm_srli_si128(second, 8)));
        }
#endif
        for (; j < int64_t{width} + kKernelCachePad; ++j)
            convert(j);
        cache.tags[slot] = r + 1;
    }
    return row + kKernelCachePad * 4;
}

}  // namespace

#if defined(__SSE2__)
namespace {

// The non-zero taps of a kernel in the reference's order, each with the
// address of its column 0 in its cached window row. Zero taps are left out:
// with finite channel values their products are zeros, and adding a zero
// changes no sum (at most the sign of a zero sum, which rounds to 0 either
// way).
struct DoubleTaps {
    double weight[16];
    const double *source[16];
    int32_t used;
};

DoubleTaps DoubleTapsOf(const KernelWindow &k, const Pixel *frame, int32_t width, int32_t height,
                        int32_t y, KernelRowCache &cache) {
    const int64_t top = int64_t{y} - k.kh / 2;
    const int32_t left = k.kw / 2;
    DoubleTaps d{};
    for (int32_t i = 0; i < k.kh; ++i) {
        const double *row = CachedRow(cache, frame, width, Clamp(top + i, height)) - left * 4;
        for (int32_t j = 0; j < k.kw; ++j) {
            const double t = k.taps[i * k.kw + j];
            if (t == 0.0) continue;
            d.weight[d.used] = t;
            d.source[d.used++] = row + j * 4;
        }
    }
    return d;
}

}  // namespace

// Two channels per double vector, summed tap by tap in the reference's order
// with separate multiplies and adds, so every lane is the reference's sum.
void KernelRowDoubles(const KernelWindow &k, const Pixel *frame, int32_t width, int32_t height,
                      int32_t y, Pixel *dst, KernelRowCache &cache) {
    const DoubleTaps d = DoubleTapsOf(k, frame, width, height, y, cache);
    __m128d taps[16];
    for (int32_t t = 0; t < d.used; ++t)
        taps[t] = _mm_set1_pd(d.weight[t]);
    for (int32_t x = 0; x < width; ++x) {
        __m128d ar = _mm_setzero_pd(), gb = _mm_setzero_pd();
        for (int32_t t = 0; t < d.used; ++t) {
            const double *p = d.source[t] + static_cast<size_t>(x) * 4;
            ar = _mm_add_pd(ar, _mm_mul_pd(taps[t], _mm_loadu_pd(p)));
            gb = _mm_add_pd(gb, _mm_mul_pd(taps[t], _mm_loadu_pd(p + 2)));
        }
        dst[x] = PackRoundedLanes(ar, gb);
    }
}

namespace {

// The non-zero taps of a kernel in the reference's order, each with its
// window row and column offset (zero taps change no sum, as in DoubleTaps).
struct PixelTaps {
    double weight[16];
    const Pixel *source[16];
    int32_t offset[16];
    int32_t used;
    int32_t left, right;  // the window's reach either side of its column
};

PixelTaps PixelTapsOf(const KernelWindow &k, const Pixel *frame, int32_t width, int32_t height,
                      int32_t y) {
    const Pixel *rows[16];
    WindowRows(k, frame, width, height, y, rows);
    PixelTaps f{};
    f.left = k.kw / 2;
    f.right = k.kw - 1 - f.left;
    for (int32_t i = 0; i < k.kh; ++i)
        for (int32_t j = 0; j < k.kw; ++j) {
            const double t = k.taps[i * k.kw + j];
            if (t == 0.0) continue;
            f.weight[f.used] = t;
            f.offset[f.used] = j - f.left;
            f.source[f.used++] = rows[i];
        }
    return f;
}

// A tap scaled to the whole 16-bit number of a fixed-point shift.
int16_t FixedWeight(double tap, int32_t shift) {
    return static_cast<int16_t>(tap * (1 << shift));
}

// Non-negative after the max; adding at most 128 to 32767 stays within 16
// unsigned bits, and the logical shift reads it so.
inline __m128i FinishFixedPoint(__m128i sum, int32_t shift) {
    const __m128i half = _mm_set1_epi16(static_cast<int16_t>(shift > 0 ? 1 << (shift - 1) : 0));
    return _mm_srl_epi16(_mm_add_epi16(_mm_max_epi16(sum, _mm_setzero_si128()), half),
                         _mm_cvtsi32_si128(shift));
}

// A column whose window leaves the frame: the same sums for one pixel, its
// columns clamped.
Pixel FixedPointEdgePixel(const PixelTaps &f, int32_t shift, int32_t width, int32_t x) {
    const __m128i zero = _mm_setzero_si128();
    __m128i sum = zero;
    for (int32_t t = 0; t < f.used; ++t) {
        const Pixel p = f.source[t][Clamp(int64_t{x} + f.offset[t], width)];
        const __m128i v = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(p)), zero);
        sum =
            _mm_add_epi16(sum, _mm_mullo_epi16(v, _mm_set1_epi16(FixedWeight(f.weight[t], shift))));
    }
    return static_cast<Pixel>(
        _mm_cvtsi128_si32(_mm_packus_epi16(FinishFixedPoint(sum, shift), zero)));
}

}  // namespace

// Two pixels per 16-bit vector (eight channels). The taps scaled by 2^shift
// are whole and 255 times the sum of their sizes fits 15 bits, so the
// partial sums are exact and never wrap; the reference's double sums are the
// same numbers over 2^shift, exactly. A positive sum rounds to
// (S + 2^(shift-1)) >> shift; zero or negative ones pack to 0 either way.
// packus clamps to 255 as PackPixel does.
void KernelRowFixedPoint(const KernelWindow &k, int32_t shift, const Pixel *frame, int32_t width,
                         int32_t height, int32_t y, Pixel *dst) {
    const PixelTaps f = PixelTapsOf(k, frame, width, height, y);
    __m128i taps[16];
    for (int32_t t = 0; t < f.used; ++t)
        taps[t] = _mm_set1_epi16(FixedWeight(f.weight[t], shift));
    const __m128i zero = _mm_setzero_si128();
    int32_t x = 0;
    for (; x < std::min(f.left, width); ++x)
        dst[x] = FixedPointEdgePixel(f, shift, width, x);
    const int32_t end = width - f.right;  // first column whose window passes the right edge
    for (; x + 4 <= end; x += 4) {
        __m128i lo = zero, hi = zero;
        for (int32_t t = 0; t < f.used; ++t) {
            const __m128i p =
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(f.source[t] + (x + f.offset[t])));
            lo = _mm_add_epi16(lo, _mm_mullo_epi16(_mm_unpacklo_epi8(p, zero), taps[t]));
            hi = _mm_add_epi16(hi, _mm_mullo_epi16(_mm_unpackhi_epi8(p, zero), taps[t]));
        }
        _mm_storeu_si128(
            reinterpret_cast<__m128i *>(dst + x),
            _mm_packus_epi16(FinishFixedPoint(lo, shift), FinishFixedPoint(hi, shift)));
    }
    for (; x < width; ++x)
        dst[x] = FixedPointEdgePixel(f, shift, width, x);
}

#if defined(__x86_64__)
namespace {

KVE_TARGET_AVX2_BEGIN
namespace avx2 {
using Vec = __m256i;
constexpr int32_t kLanes = 8;
inline Vec Load(const Pixel *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}
inline void Store(Pixel *p, Vec v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v);
}
inline Vec Zero() {
    return _mm256_setzero_si256();
}
inline Vec Set16(int16_t v) {
    return _mm256_set1_epi16(v);
}
inline Vec UnpackLow(Vec v) {
    return _mm256_unpacklo_epi8(v, Zero());
}
inline Vec UnpackHigh(Vec v) {
    return _mm256_unpackhi_epi8(v, Zero());
}
inline Vec MulAdd16(Vec sum, Vec a, Vec b) {
    return _mm256_add_epi16(sum, _mm256_mullo_epi16(a, b));
}
inline Vec Finish(Vec sum, Vec half, __m128i count) {
    return _mm256_srl_epi16(_mm256_add_epi16(_mm256_max_epi16(sum, Zero()), half), count);
}
inline Vec PackUs(Vec low, Vec high) {
    return _mm256_packus_epi16(low, high);
}

// Two pixels, one per vector: their bytes are widened together.
struct DVec {
    __m256d first, second;
};
constexpr int32_t kDoublePixels = 2;
inline DVec LoadDoubles(const double *p) {
    return {_mm256_loadu_pd(p), _mm256_loadu_pd(p + 4)};
}
inline DVec SetDoubles(double v) {
    return {_mm256_set1_pd(v), _mm256_set1_pd(v)};
}
inline DVec ZeroDoubles() {
    return {_mm256_setzero_pd(), _mm256_setzero_pd()};
}
inline DVec AddProduct(DVec sum, DVec tap, DVec v) {
    return {_mm256_add_pd(sum.first, _mm256_mul_pd(tap.first, v.first)),
            _mm256_add_pd(sum.second, _mm256_mul_pd(tap.second, v.second))};
}
// RoundHalfAway of each lane as PackRoundedLanes takes it: clamped to
// -1 .. 256 (a NaN lane to -1), truncated, packed with saturation.
inline __m128i RoundedLanes(__m256d s) {
    const __m256d positive = _mm256_cmp_pd(s, _mm256_setzero_pd(), _CMP_GT_OQ);
    __m256d t =
        _mm256_add_pd(s, _mm256_blendv_pd(_mm256_set1_pd(-0.5), _mm256_set1_pd(0.5), positive));
    t = _mm256_max_pd(t, _mm256_set1_pd(-1.0));  // the second operand wins over a NaN
    t = _mm256_min_pd(t, _mm256_set1_pd(256.0));
    return _mm256_cvttpd_epi32(t);
}
inline void StoreRounded(Pixel *dst, DVec s) {
    const __m128i v = _mm_packs_epi32(RoundedLanes(s.first), RoundedLanes(s.second));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(dst), _mm_packus_epi16(v, v));
}
#include "effects/filter/kernel_lanes.inc"
}  // namespace avx2
KVE_TARGET_END

// The masked forms of the AVX-512 conversions start from zeros where the
// plain ones start from an undefined vector, which GCC takes for an
// uninitialised read.
KVE_TARGET_AVX512_BEGIN
namespace avx512 {
using Vec = __m512i;
constexpr int32_t kLanes = 16;
inline Vec Load(const Pixel *p) {
    return _mm512_loadu_si512(p);
}
inline void Store(Pixel *p, Vec v) {
    _mm512_storeu_si512(p, v);
}
inline Vec Zero() {
    return _mm512_setzero_si512();
}
inline Vec Set16(int16_t v) {
    return _mm512_set1_epi16(v);
}
inline Vec UnpackLow(Vec v) {
    return _mm512_unpacklo_epi8(v, Zero());
}
inline Vec UnpackHigh(Vec v) {
    return _mm512_unpackhi_epi8(v, Zero());
}
inline Vec MulAdd16(Vec sum, Vec a, Vec b) {
    return _mm512_add_epi16(sum, _mm512_mullo_epi16(a, b));
}
inline Vec Finish(Vec sum, Vec half, __m128i count) {
    return _mm512_maskz_srl_epi16(~__mmask32{0},
                                  _mm512_add_epi16(_mm512_max_epi16(sum, Zero()), half), count);
}
inline Vec PackUs(Vec low, Vec high) {
    return _mm512_packus_epi16(low, high);
}

using DVec = __m512d;
constexpr int32_t kDoublePixels = 2;
inline DVec LoadDoubles(const double *p) {
    return _mm512_loadu_pd(p);
}
inline DVec SetDoubles(double v) {
    return _mm512_set1_pd(v);
}
inline DVec ZeroDoubles() {
    return _mm512_setzero_pd();
}
inline DVec AddProduct(DVec sum, DVec tap, DVec v) {
    return _mm512_add_pd(sum, _mm512_mul_pd(tap, v));
}
inline void StoreRounded(Pixel *dst, DVec s) {
    const __mmask8 positive = _mm512_cmp_pd_mask(s, _mm512_setzero_pd(), _CMP_GT_OQ);
    DVec t =
        _mm512_add_pd(s, _mm512_mask_blend_pd(positive, _mm512_set1_pd(-0.5), _mm512_set1_pd(0.5)));
    t = _mm512_maskz_max_pd(0xFF, t, _mm512_set1_pd(-1.0));  // the second operand wins over a NaN
    t = _mm512_maskz_min_pd(0xFF, t, _mm512_set1_pd(256.0));
    const __m256i v = _mm256_max_epi32(_mm512_maskz_cvttpd_epi32(0xFF, t), _mm256_setzero_si256());
    _mm_storel_epi64(reinterpret_cast<__m128i *>(dst), _mm256_maskz_cvtusepi32_epi8(0xFF, v));
}
#include "effects/filter/kernel_lanes.inc"
}  // namespace avx512
KVE_TARGET_END

}  // namespace

void KernelRowFixedPointAvx2(const KernelWindow &k, int32_t shift, const Pixel *frame,
                             int32_t width, int32_t height, int32_t y, Pixel *dst) {
    avx2::FixedPointRow(PixelTapsOf(k, frame, width, height, y), shift, width, dst);
}
void KernelRowFixedPointAvx512(const KernelWindow &k, int32_t shift, const Pixel *frame,
                               int32_t width, int32_t height, int32_t y, Pixel *dst) {
    avx512::FixedPointRow(PixelTapsOf(k, frame, width, height, y), shift, width, dst);
}
void KernelRowDoublesAvx2(const KernelWindow &k, const Pixel *frame, int32_t width, int32_t height,
                          int32_t y, Pixel *dst, KernelRowCache &cache) {
    avx2::DoublesRow(DoubleTapsOf(k, frame, width, height, y, cache), width, dst);
}
void KernelRowDoublesAvx512(const KernelWindow &k, const Pixel *frame, int32_t width,
                            int32_t height, int32_t y, Pixel *dst, KernelRowCache &cache) {
    avx512::DoublesRow(DoubleTapsOf(k, frame, width, height, y, cache), width, dst);
}
#endif
#else
void KernelRowDoubles(const KernelWindow &k, const Pixel *frame, int32_t width, int32_t height,
                      int32_t y, Pixel *dst, KernelRowCache &) {
    KernelRowReference(k, frame, width, height, y, dst);
}
void KernelRowFixedPoint(const KernelWindow &k, int32_t, const Pixel *frame, int32_t width,
                         int32_t height, int32_t y, Pixel *dst) {
    KernelRowReference(k, frame, width, height, y, dst);
}
#endif

// ---- kernels of the line ops ------------------------------------------------------------

namespace {

// Builds an effect's kernel from its parameters, both when the scratch block
// is measured and on the first row, so the two agree on its layout.
using KernelBuilder = void (*)(const ArgBlock &in, KernelState &s);

// Sizes are checked in 64 bits: w * h of two int32 overflows, and a negative
// pair would pass a product test. A refused size leaves the state invalid.
void BuildConvolve(const ArgBlock &in, KernelState &s) {
    const int64_t w = in.ints[2], h = in.ints[1];
    if (w < 1 || h < 1 || w * h > 16) return;
    const int32_t n = static_cast<int32_t>(w * h);
    for (int32_t i = 0; i < n; ++i)
        s.taps[i] = in.reals[15 - i];
    if (in.ints[0] != 0) {
        double sum = 0.0;
        for (int32_t i = 0; i < n; ++i)
            sum += s.taps[i];
        if (sum != 0.0)
            for (int32_t i = 0; i < n; ++i)
                s.taps[i] /= sum;
    }
    SetKernel(s, static_cast<int32_t>(w), static_cast<int32_t>(h));
}

// The third integer has no effect.
void BuildEdge(const ArgBlock &in, KernelState &s) {
    SetKernel3x3(s, SelectKernel3x3(in.ints[2], in.ints[1]));
}

// The taps sum to 1 + 4a(1 + b)(d - 1), so a centre factor of 1 keeps flat
// areas as they are whatever the other three numbers.
void BuildSharpen(const ArgBlock &in, KernelState &s) {
    const double a = in.reals[3], b = in.reals[2], c = in.reals[1], d = in.reals[0];
    const double e = 2 * c * a;
    const double f = (2 - 2 * c) * a;
    const double g = (e + f) * b;
    const double h = -g / 2;
    SetKernel3x3(s, {h, -e, h, -f, 2 * d * (e + f + g) + 1, -f, h, -e, h});
}

template <KernelBuilder Build>
size_t KernelScratchOf(const ArgBlock &in) {
    KernelState s{};
    Build(in, s);
    ScratchPlan plan;
    KernelLayoutOf(plan, in, s.valid && s.shift < 0);
    return plan.Bytes();
}

// Builds the kernel on the first row, then filters row y with the
// fixed-point row or the double row. False when the kernel was refused.
bool KernelRow(KernelBuilder build, int first, const Pixel *frame, Pixel *dst, const ArgBlock &in,
               int32_t y) {
    ScratchPlan plan(JobScratch(in));
    KernelState &s = *plan.Take<KernelState>(1);
    if (first) build(in, s);
    if (!s.valid) return false;
    const KernelWindow k{s.taps, s.kw, s.kh};
    if (s.shift >= 0) {
        FilterRowSets().Pick().kernelFixedPoint(k, s.shift, frame, in.imageWidth[0],
                                                in.imageHeight[0], y, dst);
    } else {
        KernelRowCache cache{plan.Take<double>(KernelCacheDoubles(in.imageWidth[0])), s.tags};
        FilterRowSets().Pick().kernelDoubles(k, frame, in.imageWidth[0], in.imageHeight[0], y, dst,
                                             cache);
    }
    return true;
}

}  // namespace

size_t ConvolveScratch(const ArgBlock &in, const ArgBlock &) {
    return KernelScratchOf<BuildConvolve>(in);
}
size_t EdgeScratch(const ArgBlock &in, const ArgBlock &) {
    return KernelScratchOf<BuildEdge>(in);
}
size_t SharpenScratch(const ArgBlock &in, const ArgBlock &) {
    return KernelScratchOf<BuildSharpen>(in);
}
size_t EmbossScratch(const ArgBlock &in, const ArgBlock &) {
    ScratchPlan plan;
    KernelLayoutOf(plan, in, true);
    return plan.Bytes();
}

// ---- the line ops --------------------------------------------------------------------------

// A refused size writes nothing on any row and says so once.
KVE_LINE_OP(ConvolveLineOp) {
    if (!KernelRow(BuildConvolve, first, inLines[0], outLines[0], in, y) && first)
        Diag_Message("<Convolve> width*height out of allowed range [1..16]");
}

KVE_LINE_OP(EdgeLineOp) {
    KernelRow(BuildEdge, first, inLines[0], outLines[0], in, y);
}

KVE_LINE_OP(SharpenLineOp) {
    KernelRow(BuildSharpen, first, inLines[0], outLines[0], in, y);
}

namespace {

// One Emboss pixel from its red, green and blue sums under K1 (a) and K2 (b).
Pixel EmbossPixel(const EmbossKernels &e, const double *a, const double *b) {
    const double r = e.level;
    if (e.colour)
        return PackRGB(TruncToInt(a[0] - b[0] + 255 * r), TruncToInt(a[1] - b[1] + 255 * r),
                       TruncToInt(a[2] - b[2] + 255 * r));
    const int32_t ya =
        MonochromeLuma(PackRGB(RoundHalfAway(a[0]), RoundHalfAway(a[1]), RoundHalfAway(a[2])));
    const int32_t yb =
        MonochromeLuma(PackRGB(RoundHalfAway(b[0]), RoundHalfAway(b[1]), RoundHalfAway(b[2])));
    return static_cast<Pixel>(ClampChannel(TruncToInt(ya + r - yb))) * 0x01010101u;
}

}  // namespace

void EmbossRowReference(const EmbossKernels &e, const Pixel *frame, int32_t width, int32_t height,
                        int32_t y, Pixel *dst) {
    const KernelWindow k1{e.k1, 3, 3};
    const Pixel *rows[3];
    WindowRows(k1, frame, width, height, y, rows);
    for (int32_t x = 0; x < width; ++x) {
        double v[3][9];
        for (int32_t i = 0; i < 3; ++i)
            for (int32_t j = 0; j < 3; ++j) {
                const Pixel p = rows[i][Clamp(int64_t{x} - 1 + j, width)];
                v[0][i * 3 + j] = RedOf(p);
                v[1][i * 3 + j] = GreenOf(p);
                v[2][i * 3 + j] = BlueOf(p);
            }
        double a[3], b[3];
        for (int c = 0; c < 3; ++c) {
            a[c] = 0.0;
            b[c] = 0.0;
            for (int i = 0; i < 9; ++i) {
                a[c] += e.k1[i] * v[c][i];
                b[c] += e.k2[i] * v[c][i];
            }
        }
        dst[x] = EmbossPixel(e, a, b);
    }
}

#if defined(__SSE2__)
namespace {

// (a - b) + 255 r per channel, truncated and packed with alpha 0; lanes are
// clamped to -1 .. 256 first (NaN to -1), which changes no packed result.
inline Pixel EmbossColourLanes(__m128d ar1, __m128d gb1, __m128d ar2, __m128d gb2, double r) {
    const __m128d lift = _mm_set1_pd(255 * r);
    auto truncate = [&](__m128d a, __m128d b) {
        __m128d t = _mm_add_pd(_mm_sub_pd(a, b), lift);
        t = _mm_min_pd(_mm_max_pd(t, _mm_set1_pd(-1.0)), _mm_set1_pd(256.0));
        return _mm_cvttpd_epi32(t);
    };
    const __m128i v = _mm_unpacklo_epi64(truncate(ar1, ar2), truncate(gb1, gb2));
    const auto word =
        static_cast<Pixel>(_mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(v, v), v)));
    return word & ~0xFFu;
}

// Each kernel's colour rounded and clamped as PackRGB would, their lumas
// compared: trunc(Y_A + r - Y_B) clamped, in all four bytes.
inline Pixel EmbossGreyLanes(__m128d ar1, __m128d gb1, __m128d ar2, __m128d gb2, double r) {
    const int32_t ya = MonochromeLuma(PackRoundedLanes(ar1, gb1));
    const int32_t yb = MonochromeLuma(PackRoundedLanes(ar2, gb2));
    // Clamped before truncation (NaN to 0) by maxsd and minsd, which give
    // t > 0 ? t : 0 and t < 255 ? t : 255 exactly: written as conditionals,
    // the compiler branches on data that changes from pixel to pixel.
    __m128d t = _mm_set_sd(ya + r - yb);
    t = _mm_min_sd(_mm_max_sd(t, _mm_setzero_pd()), _mm_set_sd(255.0));
    const int32_t v = _mm_cvttsd_si32(t);
    return static_cast<Pixel>(v) * 0x01010101u;
}

}  // namespace

// Both kernels' sums two channels per vector over the cached rows, in the
// reference's tap order; the alpha lane is summed and ignored.
void EmbossRowFast(const EmbossKernels &e, const Pixel *frame, int32_t width, int32_t height,
                   int32_t y, Pixel *dst, KernelRowCache &cache) {
    const double *rows[3];
    for (int32_t i = 0; i < 3; ++i)
        rows[i] = CachedRow(cache, frame, width, Clamp(int64_t{y} - 1 + i, height)) - 4;
    // Positions where both kernels are zero are left out, as in
    // KernelRowDoubles.
    __m128d taps1[9], taps2[9];
    const double *sources[9];
    int32_t used = 0;
    for (int32_t i = 0; i < 9; ++i) {
        if (e.k1[i] == 0.0 && e.k2[i] == 0.0) continue;
        taps1[used] = _mm_set1_pd(e.k1[i]);
        taps2[used] = _mm_set1_pd(e.k2[i]);
        sources[used++] = rows[i / 3] + (i % 3) * 4;
    }
    for (int32_t x = 0; x < width; ++x) {
        __m128d ar1 = _mm_setzero_pd(), gb1 = ar1, ar2 = ar1, gb2 = ar1;
        for (int32_t t = 0; t < used; ++t) {
            const double *p = sources[t] + static_cast<size_t>(x) * 4;
            const __m128d lo = _mm_loadu_pd(p), hi = _mm_loadu_pd(p + 2);
            ar1 = _mm_add_pd(ar1, _mm_mul_pd(taps1[t], lo));
            gb1 = _mm_add_pd(gb1, _mm_mul_pd(taps1[t], hi));
            ar2 = _mm_add_pd(ar2, _mm_mul_pd(taps2[t], lo));
            gb2 = _mm_add_pd(gb2, _mm_mul_pd(taps2[t], hi));
        }
        dst[x] = e.colour ? EmbossColourLanes(ar1, gb1, ar2, gb2, e.level)
                          : EmbossGreyLanes(ar1, gb1, ar2, gb2, e.level);
    }
}
#else
void EmbossRowFast(const EmbossKernels &e, const Pixel *frame, int32_t width, int32_t height,
                   int32_t y, Pixel *dst, KernelRowCache &) {
    EmbossRowReference(e, frame, width, height, y, dst);
}
#endif

// K1 (the direction, weighted 1 - r) minus K2 (the opposite direction,
// weighted r). In colour the difference is lifted by 255 r and truncated, and
// alpha is 0; in grey each kernel's colour is rounded first, the two are
// compared by Monochrome's luma, and all four bytes take the grey.
KVE_LINE_OP(EmbossLineOp) {
    ScratchPlan plan(JobScratch(in));
    const KernelLayout layout = KernelLayoutOf(plan, in, true);
    KernelState &s = *layout.state;
    const double r = in.reals[0];
    if (first) {
        const int32_t type = in.ints[2], d = RingTurn(in.ints[1]);
        const Kernel3x3 k1 = SelectKernel3x3(type, d), k2 = SelectKernel3x3(type, (d + 4) % 8);
        const double w1 = 1 - r;
        for (int i = 0; i < 9; ++i) {
            s.taps[i] = k1[i] * w1;
            s.opposite[i] = k2[i] * r;
        }
        s.kw = s.kh = 3;
    }
    const EmbossKernels e{s.taps, s.opposite, r, in.ints[0] != 0};
    KernelRowCache cache{layout.rows, s.tags};
    FilterRowSets().Pick().emboss(e, inLines[0], in.imageWidth[0], in.imageHeight[0], y,
                                  outLines[0], cache);
}

}  // namespace kve
