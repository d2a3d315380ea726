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
// integer sums give the same words. Other kernels run in double vectors over
// rows converted once. The fast rows are in kernel_rows.cpp; the driver (here)
// also serves the medians and outliers.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

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
                s += k.taps[i * k.kw + j] * Channel(rows[i][ClampIndex(left + j, width)], 8 * c);
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
    KernelWindowRows(k, frame, width, height, y, rows);
    for (int32_t x = 0; x < width; ++x)
        dst[x] = KernelPixel(k, rows, width, x);
}

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
    KernelWindowRows(k1, frame, width, height, y, rows);
    for (int32_t x = 0; x < width; ++x) {
        double v[3][9];
        for (int32_t i = 0; i < 3; ++i)
            for (int32_t j = 0; j < 3; ++j) {
                const Pixel p = rows[i][ClampIndex(int64_t{x} - 1 + j, width)];
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
