// Mixes: effects that scale one frame or mix frames pixel by pixel.
//
//   Fade       every byte, alpha included, scaled by a level, rounded and
//              saturated
//   Dissolve   every byte of A * mix + B * (1 - mix), each product truncated
//   Composite  lays a foreground F (input 0) over a background G (input 2)
//              through the alpha byte of a key frame K (input 1): key alphas
//              up to `lower` show G, from `upper` on show F, and in between
//              red, green and blue mix linearly
//
// Tables are built on the first row in the job's scratch block; the row
// copies are sized from the frame. Composite's row has a plain reference and
// an SSE2 variant giving the same words.
#include <algorithm>
#include <cmath>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "effects/colour/colour_ops.h"
#include "engine/scanner.h"
#include "engine/scratch.h"
#include "interface/pixel.h"

namespace kve {

namespace {

// Clamps a level to 0..1; NaN counts as 0 (the comparison fails for it).
double ClampUnit(double v) {
    return !(v > 0.0) ? 0.0 : (v > 1.0 ? 1.0 : v);
}

// ---- Fade ------------------------------------------------------------------

struct FadeTable {
    alignas(64) uint8_t byte[256];
};

// ---- Dissolve --------------------------------------------------------------

struct DissolveLayout {
    DissolveTables *tables;
    Pixel *rowB;  // copy of B's row
};

DissolveLayout DissolveLayoutOf(ScratchPlan &plan, const ArgBlock &in) {
    const size_t width = static_cast<size_t>(std::min(in.imageWidth[0], in.imageWidth[1]));
    DissolveLayout layout;
    layout.tables = plan.Take<DissolveTables>(1);
    layout.rowB = plan.Take<Pixel>(width);
    return layout;
}

// ---- Composite -------------------------------------------------------------

struct CompositeLayout {
    CompositeTables *tables;
    Pixel *background;  // copy of G's row
    Pixel *key;         // copy of K's row
};

CompositeLayout CompositeLayoutOf(ScratchPlan &plan, const ArgBlock &in) {
    const size_t width = static_cast<size_t>(in.imageWidth[1]);
    CompositeLayout layout;
    layout.tables = plan.Take<CompositeTables>(1);
    layout.background = plan.Take<Pixel>(width);
    layout.key = plan.Take<Pixel>(width);
    return layout;
}

// Reference row: weight 0 gives G's pixel with alpha 0, weight 1 F's pixel
// with alpha 255; anything between mixes the colours in double precision and
// takes its alpha from the table.
void CompositeReference(const CompositeTables &t, const Pixel *fg, const Pixel *bg,
                        const Pixel *key, Pixel *dst, int32_t n) {
    for (int32_t x = 0; x < n; ++x) {
        const int32_t a = AlphaOf(key[x]);
        const double o = t.weight[a];
        if (o == 0.0) {
            dst[x] = bg[x] & ~0xFFu;
        } else if (o == 1.0) {
            dst[x] = fg[x] | 0xFFu;
        } else {
            const double r = t.rest[a];
            const Pixel f = fg[x], g = bg[x];
            dst[x] = PackPixel(t.alpha[a], static_cast<int32_t>(r * RedOf(g) + o * RedOf(f)),
                               static_cast<int32_t>(r * GreenOf(g) + o * GreenOf(f)),
                               static_cast<int32_t>(r * BlueOf(g) + o * BlueOf(f)));
        }
    }
}

#if defined(__SSE2__)
// Two pixels at a time, one per double lane: the same products and sums as
// the reference, lane by lane (no fused operations), truncated by cvttpd. A
// mixed channel stays within 0..255 because the two weights sum to 1, so no
// clamp is needed; the plain copies are chosen afterwards by lane masks.
void CompositeFast(const CompositeTables &t, const Pixel *fg, const Pixel *bg, const Pixel *key,
                   Pixel *dst, int32_t n) {
    const __m128i low = _mm_set1_epi32(0xFF);
    const __m128d zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0);
    int32_t x = 0;
    for (; x + 2 <= n; x += 2) {
        const int32_t a0 = AlphaOf(key[x]), a1 = AlphaOf(key[x + 1]);
        const __m128d o = _mm_set_pd(t.weight[a1], t.weight[a0]);
        const __m128d r = _mm_set_pd(t.rest[a1], t.rest[a0]);
        const __m128i f = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(fg + x));
        const __m128i g = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(bg + x));
        auto channel = [&](int shift) {
            const __m128d gc = _mm_cvtepi32_pd(_mm_and_si128(_mm_srli_epi32(g, shift), low));
            const __m128d fc = _mm_cvtepi32_pd(_mm_and_si128(_mm_srli_epi32(f, shift), low));
            const __m128i v = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(r, gc), _mm_mul_pd(o, fc)));
            return _mm_slli_epi32(v, shift);
        };
        const __m128i alpha = _mm_set_epi32(0, 0, t.alpha[a1], t.alpha[a0]);
        const __m128i mixed =
            _mm_or_si128(_mm_or_si128(alpha, channel(8)), _mm_or_si128(channel(16), channel(24)));
        // 64-bit lane masks narrowed to the two low 32-bit lanes.
        const __m128i isZero =
            _mm_shuffle_epi32(_mm_castpd_si128(_mm_cmpeq_pd(o, zero)), _MM_SHUFFLE(3, 3, 2, 0));
        const __m128i isOne =
            _mm_shuffle_epi32(_mm_castpd_si128(_mm_cmpeq_pd(o, one)), _MM_SHUFFLE(3, 3, 2, 0));
        const __m128i background = _mm_andnot_si128(low, g);
        const __m128i foreground = _mm_or_si128(f, low);
        __m128i out =
            _mm_or_si128(_mm_and_si128(isZero, background), _mm_andnot_si128(isZero, mixed));
        out = _mm_or_si128(_mm_and_si128(isOne, foreground), _mm_andnot_si128(isOne, out));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + x), out);
    }
    CompositeReference(t, fg + x, bg + x, key + x, dst + x, n - x);
}
#else
constexpr CompositeRow CompositeFast = CompositeReference;
#endif

#if defined(__x86_64__)
KVE_TARGET_AVX2_BEGIN
namespace avx2 {

// CompositeFast four pixels at a time: the same products and sums lane by
// lane in double precision (no fused operations), the weights gathered by
// key alpha, the plain copies chosen by lane masks narrowed to 32 bits.
inline __m256d Gather(const double *table, __m128i index) {
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi32(-1));
    return _mm256_mask_i32gather_pd(_mm256_setzero_pd(), table, index, all, 8);
}
inline __m128i Narrow(__m256d mask) {
    return _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(
        _mm256_castpd_si256(mask), _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6)));
}

void Composite(const CompositeTables &t, const Pixel *fg, const Pixel *bg, const Pixel *key,
               Pixel *dst, int32_t n) {
    const __m128i low = _mm_set1_epi32(0xFF);
    const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0);
    int32_t x = 0;
    for (; x + 4 <= n; x += 4) {
        const __m128i alphaIndex =
            _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(key + x)), low);
        const __m256d o = Gather(t.weight, alphaIndex);
        const __m256d r = Gather(t.rest, alphaIndex);
        const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i *>(fg + x));
        const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bg + x));
        auto channel = [&](int shift) {
            const __m256d gc = _mm256_cvtepi32_pd(_mm_and_si128(_mm_srli_epi32(g, shift), low));
            const __m256d fc = _mm256_cvtepi32_pd(_mm_and_si128(_mm_srli_epi32(f, shift), low));
            const __m128i v =
                _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(r, gc), _mm256_mul_pd(o, fc)));
            return _mm_slli_epi32(v, shift);
        };
        const __m128i alpha = _mm_mask_i32gather_epi32(_mm_setzero_si128(), t.alpha, alphaIndex,
                                                       _mm_set1_epi32(-1), 4);
        const __m128i mixed =
            _mm_or_si128(_mm_or_si128(alpha, channel(8)), _mm_or_si128(channel(16), channel(24)));
        const __m128i isZero = Narrow(_mm256_cmp_pd(o, zero, _CMP_EQ_OQ));
        const __m128i isOne = Narrow(_mm256_cmp_pd(o, one, _CMP_EQ_OQ));
        __m128i out = _mm_blendv_epi8(mixed, _mm_andnot_si128(low, g), isZero);
        out = _mm_blendv_epi8(out, _mm_or_si128(f, low), isOne);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + x), out);
    }
    CompositeFast(t, fg + x, bg + x, key + x, dst + x, n - x);
}

}  // namespace avx2
KVE_TARGET_END

constexpr CpuRows<CompositeRow> kCompositeRows = {
    {CompositeReference, CompositeFast, avx2::Composite, avx2::Composite}};
#else
constexpr CpuRows<CompositeRow> kCompositeRows =
    Sse2Rows<CompositeRow>(CompositeReference, CompositeFast);
#endif

// ---- Fade and Dissolve rows ------------------------------------------------------------

void FadeReference(const uint8_t *table, const Pixel *src, Pixel *dst, int32_t n) {
    for (int32_t x = 0; x < n; ++x) {
        const Pixel p = src[x];
        dst[x] = static_cast<Pixel>(table[p & 0xFF]) |
                 static_cast<Pixel>(table[p >> 8 & 0xFF]) << 8 |
                 static_cast<Pixel>(table[p >> 16 & 0xFF]) << 16 |
                 static_cast<Pixel>(table[p >> 24]) << 24;
    }
}

void DissolveReference(const DissolveTables &t, const Pixel *a, const Pixel *b, Pixel *dst,
                       int32_t n) {
    for (int32_t x = 0; x < n; ++x) {
        Pixel word = 0;
        for (int shift = 0; shift < 32; shift += 8)
            word |= static_cast<Pixel>(t.a[a[x] >> shift & 0xFF] + t.b[b[x] >> shift & 0xFF])
                    << shift;
        dst[x] = word;
    }
}

// A whole M with (v * M) >> 24 = table[v] for every byte v, give or take one
// on at most kMaxBumps bytes. The table is trunc(v * factor) of a rounded
// product, which a product that lands within a rounding of a whole number can
// put one above the exact scale's value; those few bytes are listed with
// their correction. Candidates: the smallest M meeting every byte's lower
// bound, and factor * 2^24 rounded either way.
FixedScale FixedScaleOf(const int32_t *table, double factor) {
    uint64_t lowest = 0;
    for (uint64_t v = 1; v < 256; ++v)
        lowest = std::max<uint64_t>(lowest, (static_cast<uint64_t>(table[v]) << 24) / v +
                                                ((static_cast<uint64_t>(table[v]) << 24) % v != 0));
    const double scaled = factor * 16777216.0;
    const uint64_t candidates[] = {lowest, static_cast<uint64_t>(std::floor(scaled)),
                                   static_cast<uint64_t>(std::ceil(scaled))};
    FixedScale best;
    int bestBumps = FixedScale::kMaxBumps + 1;
    for (const uint64_t m : candidates) {
        if (m > (uint64_t{1} << 24)) continue;
        FixedScale s{static_cast<int32_t>(m >> 16), static_cast<int32_t>(m & 0xFFFF), true};
        int bumps = 0;
        for (uint64_t v = 0; v < 256 && bumps <= FixedScale::kMaxBumps; ++v) {
            const int64_t diff = table[v] - static_cast<int64_t>(v * m >> 24);
            if (diff == 0) continue;
            if ((diff != 1 && diff != -1) || bumps == FixedScale::kMaxBumps) {
                bumps = FixedScale::kMaxBumps + 1;
                break;
            }
            s.bumpByte[bumps] = static_cast<int16_t>(v);
            s.bump[bumps] = static_cast<int16_t>(diff);
            ++bumps;
        }
        if (bumps < bestBumps) {
            s.bumps = bumps;
            best = s;
            bestBumps = bumps;
        }
    }
    return best;
}

#if defined(__x86_64__)
KVE_TARGET_AVX2_BEGIN
namespace avx2 {

// (v * M) >> 24 in 16-bit lanes: with M = high * 2^16 + low it equals
// (v * high + ((v * low) >> 16)) >> 8, and v * high + 254 stays below 2^16.
// Then the listed bytes get their correction (a compare mask is -1).
struct LaneScale {
    __m256i high, low;
    __m256i bumpByte[FixedScale::kMaxBumps], bump[FixedScale::kMaxBumps];
    int bumps;
    explicit LaneScale(const FixedScale &s)
        : high(_mm256_set1_epi16(static_cast<short>(s.high))),
          low(_mm256_set1_epi16(static_cast<short>(s.low))),
          bumps(s.bumps) {
        for (int i = 0; i < FixedScale::kMaxBumps; ++i) {
            bumpByte[i] = _mm256_set1_epi16(s.bumpByte[i]);
            bump[i] = _mm256_set1_epi16(s.bump[i]);
        }
    }
    __m256i Of(__m256i v) const {
        __m256i r = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_mullo_epi16(v, high), _mm256_mulhi_epu16(v, low)), 8);
        for (int i = 0; i < bumps; ++i)
            r = _mm256_add_epi16(r, _mm256_and_si256(_mm256_cmpeq_epi16(v, bumpByte[i]), bump[i]));
        return r;
    }
};

// Both scaled bytes sum to at most the larger input byte, so the pack never
// saturates.
void Dissolve(const DissolveTables &t, const Pixel *a, const Pixel *b, Pixel *dst, int32_t n) {
    if (!t.scaleA.exact || !t.scaleB.exact) return DissolveReference(t, a, b, dst, n);
    const LaneScale scaleA(t.scaleA), scaleB(t.scaleB);
    const __m256i zero = _mm256_setzero_si256();
    int32_t x = 0;
    for (; x + 8 <= n; x += 8) {
        const __m256i pa = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(a + x));
        const __m256i pb = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b + x));
        const __m256i low = _mm256_add_epi16(scaleA.Of(_mm256_unpacklo_epi8(pa, zero)),
                                             scaleB.Of(_mm256_unpacklo_epi8(pb, zero)));
        const __m256i high = _mm256_add_epi16(scaleA.Of(_mm256_unpackhi_epi8(pa, zero)),
                                              scaleB.Of(_mm256_unpackhi_epi8(pb, zero)));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + x), _mm256_packus_epi16(low, high));
    }
    DissolveReference(t, a + x, b + x, dst + x, n - x);
}

}  // namespace avx2
KVE_TARGET_END

KVE_TARGET_AVX512_BEGIN
namespace avx512 {

// A 256-entry byte table held in four registers.
struct ByteTable {
    __m512i q0, q1, q2, q3;
    explicit ByteTable(const uint8_t *t)
        : q0(_mm512_loadu_si512(t)),
          q1(_mm512_loadu_si512(t + 64)),
          q2(_mm512_loadu_si512(t + 128)),
          q3(_mm512_loadu_si512(t + 192)) {}
    // Each byte replaced by its entry: the low seven bits pick within a half,
    // the top bit picks the half.
    __m512i Of(__m512i v) const {
        const __m512i low = _mm512_permutex2var_epi8(q0, v, q1);
        const __m512i high = _mm512_permutex2var_epi8(q2, v, q3);
        return _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high);
    }
};

void Dissolve(const DissolveTables &t, const Pixel *a, const Pixel *b, Pixel *dst, int32_t n) {
    const ByteTable tableA(t.byteA), tableB(t.byteB);
    int32_t x = 0;
    for (; x + 16 <= n; x += 16)
        _mm512_storeu_si512(dst + x, _mm512_add_epi8(tableA.Of(_mm512_loadu_si512(a + x)),
                                                     tableB.Of(_mm512_loadu_si512(b + x))));
    DissolveReference(t, a + x, b + x, dst + x, n - x);
}

void Fade(const uint8_t *table, const Pixel *src, Pixel *dst, int32_t n) {
    const ByteTable bytes(table);
    int32_t x = 0;
    for (; x + 16 <= n; x += 16)
        _mm512_storeu_si512(dst + x, bytes.Of(_mm512_loadu_si512(src + x)));
    FadeReference(table, src + x, dst + x, n - x);
}

}  // namespace avx512
KVE_TARGET_END

constexpr DissolveKernel kDissolve = {
    DissolveReference, {{DissolveReference, DissolveReference, avx2::Dissolve, avx512::Dissolve}}};
constexpr FadeKernel kFade = {FadeReference,
                              {{FadeReference, FadeReference, FadeReference, avx512::Fade}}};
#else
constexpr DissolveKernel kDissolve = {
    DissolveReference,
    {{DissolveReference, DissolveReference, DissolveReference, DissolveReference}}};
constexpr FadeKernel kFade = {FadeReference,
                              {{FadeReference, FadeReference, FadeReference, FadeReference}}};
#endif

}  // namespace

// Levels are taken in 1/256 steps: lo = trunc(lower * 256), hi = trunc(upper
// * 256), so an upper of 1.0 gives hi = 256 and a key alpha of 255 still mixes
// (weight 255/256) rather than showing the pure foreground.
//
// With lo >= hi there is no ramp; the key is then hard at the upper level:
// alphas below hi show the background, alphas from hi on the foreground. That
// is the ramp's own limit as lower approaches upper from below.
void BuildCompositeTables(double upper, double lower, CompositeTables &t) {
    const int32_t hi = TruncToInt(ClampUnit(upper) * 256);
    const int32_t lo = TruncToInt(ClampUnit(lower) * 256);
    for (int32_t i = 0; i < 256; ++i) {
        double w;
        if (lo < hi)
            w = i <= lo ? 0.0 : (i >= hi ? 1.0 : static_cast<double>(i - lo) / (hi - lo));
        else
            w = i >= hi ? 1.0 : 0.0;
        t.weight[i] = w;
        t.rest[i] = 1.0 - w;
        t.alpha[i] = std::min(TruncToInt(i * w), 255);
    }
}

void BuildDissolveTables(double mix, DissolveTables &t) {
    const double m = ClampUnit(mix);
    for (int32_t v = 0; v < 256; ++v) {
        t.a[v] = static_cast<int32_t>(v * m);
        t.b[v] = static_cast<int32_t>(v * (1 - m));
    }
    for (int32_t v = 0; v < 256; ++v) {
        t.byteA[v] = static_cast<uint8_t>(t.a[v]);
        t.byteB[v] = static_cast<uint8_t>(t.b[v]);
    }
    t.scaleA = FixedScaleOf(t.a, m);
    t.scaleB = FixedScaleOf(t.b, 1 - m);
}

DissolveKernel DissolveKernels() {
    return kDissolve;
}
FadeKernel FadeKernels() {
    return kFade;
}

CompositeKernel CompositeKernels() {
    return {CompositeReference, kCompositeRows};
}

size_t FadeScratch(const ArgBlock &, const ArgBlock &) {
    ScratchPlan plan;
    plan.Take<FadeTable>(1);
    return plan.Bytes();
}

// Rounds halves up (0.5 of 255 gives 128, of 1 gives 1) and saturates, so a
// level above 1 brightens to white and a negative level gives 0.
KVE_LINE_OP(FadeLineOp) {
    ScratchPlan plan(JobScratch(in));
    FadeTable &t = *plan.Take<FadeTable>(1);
    if (first) {
        const double level = in.reals[0];
        for (int32_t v = 0; v < 256; ++v)
            t.byte[v] = static_cast<uint8_t>(ClampChannel(TruncToInt(v * level + 0.5)));
    }
    kFade.rows.Pick()(t.byte, inLines[0], outLines[0], out.imageWidth[0]);
}

size_t DissolveScratch(const ArgBlock &in, const ArgBlock &) {
    ScratchPlan plan;
    DissolveLayoutOf(plan, in);
    return plan.Bytes();
}

// A is input 0, B input 1. The two products are truncated separately before
// they are added, so a mix of 0.25 on 200 and 100 gives 50 + 75; their sum
// never exceeds 255.
KVE_LINE_OP(DissolveLineOp) {
    ScratchPlan plan(JobScratch(in));
    const DissolveLayout layout = DissolveLayoutOf(plan, in);
    DissolveTables &t = *layout.tables;
    if (first) {
        BuildDissolveTables(in.reals[0], t);
        t.width = std::min(in.imageWidth[0], in.imageWidth[1]);
    }
    const int32_t n = t.width;
    std::copy_n(inLines[1], n, layout.rowB);
    kDissolve.rows.Pick()(t, inLines[0], layout.rowB, outLines[0], n);
}

size_t CompositeScratch(const ArgBlock &in, const ArgBlock &) {
    ScratchPlan plan;
    CompositeLayoutOf(plan, in);
    return plan.Bytes();
}

// G's and K's rows are copied before the mix, so the output may be either of
// them.
KVE_LINE_OP(CompositeLineOp) {
    ScratchPlan plan(JobScratch(in));
    const CompositeLayout layout = CompositeLayoutOf(plan, in);
    const CompositeTables &t = *layout.tables;
    if (first) BuildCompositeTables(in.reals[1], in.reals[0], *layout.tables);

    const int32_t copied = in.imageWidth[1];
    std::copy_n(inLines[2], copied, layout.background);
    std::copy_n(inLines[1], copied, layout.key);
    kCompositeRows.Pick()(t, inLines[0], layout.background, layout.key, outLines[0],
                          std::min(out.imageWidth[0], copied));
}

}  // namespace kve
