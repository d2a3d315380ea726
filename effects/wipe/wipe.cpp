// Wipe: a numbered pattern moves across the frame and divides it between the
// first frame A and the second frame B (progress 0 shows B, progress 1 shows A).
//
// Per row a generator describes the pattern as a span list and keys; this
// file composes the row from that description: hard runs are copied whole
// from A or B (alpha included), soft pixels are mixed by their keys and take
// the key as their alpha, and with a border the middle of each soft band
// passes through the border colour.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include "effects/wipe/blocks.h"
#include "effects/wipe/circles.h"
#include "effects/wipe/patterns.h"
#include "effects/wipe/wipe.h"
#include "engine/diag.h"
#include "engine/scanner.h"
#include "interface/pixel.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kve {

double Ease(double t) {
    if (t < 0) return 0;
    if (t < 0.5) return 2 * t * t;
    if (t <= 1) return 1 - 2 * (1 - t) * (1 - t);
    return 1;
}

BorderWeightSet BorderWeights(float key, double border, double softness) {
    if (softness < 0.000001) {
        if (key > 0.999999) return {1, 0, 0};
        if (key < 0.0000001) return {0, 1, 0};
        return {0, 0, 1};
    }
    if (key < 0.0000001) return {0, 1, 0};
    // f undoes the easing: the key's linear position across the band.
    double f;
    if (key <= 0.5) {
        f = std::sqrt(static_cast<double>(key / 2));
    } else {
        const double h = (1 - key) / 2;
        if (h < 0.0000001) return {1, 0, 0};
        f = 1 - std::sqrt(h);
    }
    const double g = f * (border + softness);
    const double wA = Ease((g - border) / softness), wB = Ease(1 - g / softness);
    return {wA, wB, 1 - wA - wB};
}

namespace {

// Mixed pixels are computed in single precision, as the key is a float: the
// colours truncate toward zero and the alpha is the key rounded to 0..255.
// The sources' own alpha does not enter a mixed pixel.
inline Pixel MixPixel(Pixel a, Pixel b, float k) {
    const float j = 1 - k;
    const int32_t red = static_cast<int32_t>(k * RedOf(a) + j * RedOf(b));
    const int32_t green = static_cast<int32_t>(k * GreenOf(a) + j * GreenOf(b));
    const int32_t blue = static_cast<int32_t>(k * BlueOf(a) + j * BlueOf(b));
    return PackPixel(static_cast<int32_t>(255 * k + 0.5), red, green, blue);
}

inline Pixel MixBorderPixel(Pixel a, Pixel b, Pixel c, float k, const WipeMix &mix) {
    const BorderWeightSet w = BorderWeights(k, mix.border, mix.softness);
    auto channel = [&](int32_t ca, int32_t cb, int32_t cc) {
        return static_cast<int32_t>(w.a * ca + w.b * cb + w.c * cc);
    };
    return PackPixel(static_cast<int32_t>(255 * k + 0.5), channel(RedOf(a), RedOf(b), RedOf(c)),
                     channel(GreenOf(a), GreenOf(b), GreenOf(c)),
                     channel(BlueOf(a), BlueOf(b), BlueOf(c)));
}

// The soft mix of `count` pixels with border 0: the per-pixel reference.
void MixRowReference(const float *keys, const Pixel *a, const Pixel *b, Pixel *out, int32_t count) {
    for (int32_t x = 0; x < count; ++x)
        out[x] = MixPixel(a[x], b[x], keys[x]);
}

#if defined(__SSE2__)

// Four pixels at a time with the same single-precision operations in the same
// order, so the words are identical: per channel k*A + (1-k)*B truncated. The
// alpha is 255*k (single) + 0.5 (double) truncated; that double sum is exact
// whenever it can reach the next integer, so it is the integer part of 255*k
// plus one where the fraction is at least one half, which is found exactly in
// single precision. The sums stay inside 0..255, so the saturating packs only
// put the bytes in place.
void MixRowFast(const float *keys, const Pixel *a, const Pixel *b, Pixel *out, int32_t count) {
    const __m128 one = _mm_set1_ps(1.0f), full = _mm_set1_ps(255.0f), half = _mm_set1_ps(0.5f);
    const __m128i byte = _mm_set1_epi32(0xFF);
    int32_t x = 0;
    for (; x + 4 <= count; x += 4) {
        const __m128 k = _mm_loadu_ps(keys + x);
        const __m128 j = _mm_sub_ps(one, k);
        const __m128i pa = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + x));
        const __m128i pb = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + x));
        auto mix = [&](__m128i ia, __m128i ib) {
            const __m128 ca = _mm_cvtepi32_ps(ia), cb = _mm_cvtepi32_ps(ib);
            return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(k, ca), _mm_mul_ps(j, cb)));
        };
        auto channel = [&](int shift) {
            return mix(_mm_and_si128(_mm_srli_epi32(pa, shift), byte),
                       _mm_and_si128(_mm_srli_epi32(pb, shift), byte));
        };
        const __m128 alpha = _mm_mul_ps(full, k);
        const __m128i whole = _mm_cvttps_epi32(alpha);
        const __m128 fraction = _mm_sub_ps(alpha, _mm_cvtepi32_ps(whole));
        // The comparison's mask is -1 where the fraction rounds up.
        const __m128i alphas = _mm_sub_epi32(whole, _mm_castps_si128(_mm_cmpge_ps(fraction, half)));
        // Bytes alpha, red, green, blue of each pixel, lowest first.
        const __m128i alphaRed = _mm_packs_epi32(alphas, channel(8));
        const __m128i greenBlue =
            _mm_packs_epi32(channel(16), mix(_mm_srli_epi32(pa, 24), _mm_srli_epi32(pb, 24)));
        const __m128i words = _mm_packus_epi16(alphaRed, greenBlue);
        // words holds four alpha bytes, then four red, four green, four blue.
        const __m128i ar = _mm_unpacklo_epi8(words, _mm_srli_si128(words, 4));
        const __m128i gb = _mm_unpacklo_epi8(_mm_srli_si128(words, 8), _mm_srli_si128(words, 12));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x), _mm_unpacklo_epi16(ar, gb));
    }
    MixRowReference(keys + x, a + x, b + x, out + x, count - x);
}

#else

constexpr WipeMixRow MixRowFast = MixRowReference;

#endif

#if defined(__x86_64__)
KVE_TARGET_AVX512_BEGIN

// Sixteen pixels at a time with MixRowFast's operations lane for lane; the
// channels go back into place by shifts (each is inside 0..255) and the last
// pixels of the row by masked loads and stores, so nothing past `count` is
// touched.
void MixRowAvx512(const float *keys, const Pixel *a, const Pixel *b, Pixel *out, int32_t count) {
    const __m512 one = _mm512_set1_ps(1.0f), full = _mm512_set1_ps(255.0f),
                 half = _mm512_set1_ps(0.5f);
    const __m512i byte = _mm512_set1_epi32(0xFF), unit = _mm512_set1_epi32(1);
    // The zero-masked forms with every lane set are the plain instructions
    // (the unmasked ones leave the compiler warning about an undefined source).
    constexpr __mmask16 kAll = 0xFFFF;
    for (int32_t x = 0; x < count; x += 16) {
        const __mmask16 lanes =
            count - x >= 16 ? kAll : static_cast<__mmask16>((1u << (count - x)) - 1);
        const __m512 k = _mm512_maskz_loadu_ps(lanes, keys + x);
        const __m512 j = _mm512_sub_ps(one, k);
        const __m512i pa = _mm512_maskz_loadu_epi32(lanes, a + x);
        const __m512i pb = _mm512_maskz_loadu_epi32(lanes, b + x);
        auto mix = [&](__m512i ia, __m512i ib) {
            const __m512 ca = _mm512_maskz_cvtepi32_ps(kAll, ia),
                         cb = _mm512_maskz_cvtepi32_ps(kAll, ib);
            return _mm512_maskz_cvttps_epi32(
                kAll, _mm512_add_ps(_mm512_mul_ps(k, ca), _mm512_mul_ps(j, cb)));
        };
        auto channel = [&](unsigned shift) {
            return mix(_mm512_and_si512(_mm512_maskz_srli_epi32(kAll, pa, shift), byte),
                       _mm512_and_si512(_mm512_maskz_srli_epi32(kAll, pb, shift), byte));
        };
        const __m512 alpha = _mm512_mul_ps(full, k);
        const __m512i whole = _mm512_maskz_cvttps_epi32(kAll, alpha);
        const __m512 fraction = _mm512_sub_ps(alpha, _mm512_maskz_cvtepi32_ps(kAll, whole));
        const __mmask16 up = _mm512_cmp_ps_mask(fraction, half, _CMP_GE_OQ);
        const __m512i alphas = _mm512_mask_add_epi32(whole, up, whole, unit);
        const __m512i blue =
            mix(_mm512_maskz_srli_epi32(kAll, pa, 24), _mm512_maskz_srli_epi32(kAll, pb, 24));
        const __m512i words =
            _mm512_or_si512(_mm512_or_si512(alphas, _mm512_maskz_slli_epi32(kAll, channel(8), 8)),
                            _mm512_or_si512(_mm512_maskz_slli_epi32(kAll, channel(16), 16),
                                            _mm512_maskz_slli_epi32(kAll, blue, 24)));
        _mm512_mask_storeu_epi32(out + x, lanes, words);
    }
}

KVE_TARGET_END

// The four-wide row from SSE2 up, sixteen wide with AVX-512: an eight-wide
// AVX2 form measured slower on full-HD wipes (its 256-bit float work and
// packing cost more than they save).
constexpr CpuRows<WipeMixRow> kMixRows = {{MixRowReference, MixRowFast, MixRowFast, MixRowAvx512}};
#else
constexpr CpuRows<WipeMixRow> kMixRows = Sse2Rows<WipeMixRow>(MixRowReference, MixRowFast);
#endif

void MixSpan(const float *keys, const Pixel *a, const Pixel *b, Pixel *out, int32_t from,
             int32_t to, const WipeMix &mix) {
    if (to < from) return;
    if (mix.border > 0) {
        for (int32_t x = from; x <= to; ++x)
            out[x] = MixBorderPixel(a[x], b[x], mix.borderColour, keys[x], mix);
    } else {
        kMixRows.Pick()(keys + from, a + from, b + from, out + from, to - from + 1);
    }
}

// Pixels [from, to) copied whole from A when the deciding key selects it, else from B.
void HardRun(const Pixel *a, const Pixel *b, Pixel *out, int32_t from, int32_t to, float key) {
    if (to <= from) return;
    const Pixel *source = key >= 0.5f ? a : b;
    if (source + from != out + from)
        std::memmove(out + from, source + from, static_cast<size_t>(to - from) * sizeof(Pixel));
}

// Whether two rows share any storage (pointers into unrelated frames are
// compared through std::less, which orders all pointers).
bool Overlaps(const Pixel *p, const Pixel *q, int32_t width) {
    std::less<const Pixel *> before;
    return before(p, q + width) && before(q, p + width);
}

// Numbers drawn by the circle generator; the block wipes (above 300) write
// their rows themselves.
constexpr WipeGenerator kCircleWipe = CircleWipe;
constexpr LineOp kBlockWipe = BlockWipe;

bool IsCircleNumber(int32_t n) {
    return (n >= 119 && n <= 125) || n == 130 || n == 131;
}

WipeGenerator GeneratorFor(int32_t number) {
    return IsCircleNumber(number) ? kCircleWipe : WipeGenerate;
}

void ReportUnknownNumber(int first) {
    if (first) Diag_Message("<Wipe> unknown SMPTE number");
}

}  // namespace

WipeMixKernels WipeMixRows() {
    return {MixRowReference, kMixRows};
}

void ComposeWipeRow(const int32_t *spans, const float *keys, const Pixel *a, const Pixel *b,
                    Pixel *out, int32_t width, const WipeMix &mix) {
    if (spans[0] >= width) {
        HardRun(a, b, out, 0, width, keys[0]);
        return;
    }
    // Every index is kept inside the row and moving right, whatever the list says.
    int32_t done = std::max(spans[0], 0);
    HardRun(a, b, out, 0, done, keys[done]);
    for (int k = 0; k < kMaxSoftSpans; ++k) {
        const int32_t start = std::max(spans[2 * k], done);
        const int32_t end = std::min(spans[2 * k + 1], width - 1);
        if (start >= width) return;
        MixSpan(keys, a, b, out, start, end, mix);
        done = std::max(done, end + 1);
        if (end + 1 >= width || k == kMaxSoftSpans - 1) return;
        // The run after a span is decided by the key at the span's end.
        const int32_t next = std::clamp(spans[2 * k + 2], done, width);
        HardRun(a, b, out, done, next, keys[std::max(end, 0)]);
        done = next;
        if (done >= width) return;
    }
}

WipeScratch LayoutWipeScratch(ScratchPlan &plan, int32_t width) {
    const size_t w = static_cast<size_t>(std::max(width, 1));
    WipeScratch s;
    s.edges = plan.Take<WipeEdgeState>(1);
    s.circles = plan.Take<WipeCircleState>(1);
    s.spans = plan.Take<int32_t>(kSpanEntries);
    // The circle generator writes one key past a span that ends on the last pixel.
    s.keys = plan.Take<float>(w + 1);
    s.rowA = plan.Take<Pixel>(w);
    return s;
}

size_t WipeScratchBytes(const ArgBlock &in, const ArgBlock &out) {
    ScratchPlan plan;
    if (in.ints[0] > 300)
        LayoutBlockWipeScratch(plan, in, out);
    else
        LayoutWipeScratch(plan, out.imageWidth[0]);
    return plan.Bytes();
}

// One output row of the Wipe effect.
KVE_LINE_OP(WipeLineOp) {
    const int32_t W = out.imageWidth[0], H = out.imageHeight[0];
    const int32_t number = in.ints[0];
    const double progress = in.reals[5];
    double softness = in.reals[4];
    const double xScale = in.reals[3], yScale = in.reals[2], rotation = in.reals[1];
    double border = in.reals[0];
    // The centre's displacement from the frame centre, rounded half away from zero.
    const int32_t xOffset = RoundHalfAway(in.points[0] - W * 0.5);
    const int32_t yOffset = RoundHalfAway(in.points[1] - H * 0.5);

    if (number > 300) return kBlockWipe(first, x0, y, rowCount, inLines, outLines, in, out);
    softness = std::max(softness, 1.0 / W);
    border = std::max(border, 0.0);

    ScratchPlan plan(JobScratch(in));
    const WipeScratch scratch = LayoutWipeScratch(plan, W);
    // The output row may share storage with A's row; then A is read from a copy.
    const Pixel *a = inLines[0];
    Pixel *output = outLines[0];
    if (a != output && Overlaps(a, output, W)) {
        std::memcpy(scratch.rowA, a, static_cast<size_t>(W) * sizeof(Pixel));
        a = scratch.rowA;
    }

    const WipeGenerator generate = GeneratorFor(number);
    WipeRowArgs row;
    row.first = first;
    row.number = number;
    row.width = W;
    row.height = H;
    row.y = y;
    row.progress = progress;
    row.edgeWidth = border + softness;
    row.xOffset = xOffset;
    row.yOffset = yOffset;
    row.rotation = rotation;
    row.xScale = xScale;
    row.yScale = yScale;
    if (generate(row, scratch) != 0) return ReportUnknownNumber(first);

    const WipeMix mix{border, softness, in.colors[0]};
    ComposeWipeRow(scratch.spans, scratch.keys, a, inLines[1], output, W, mix);
}

}  // namespace kve
