// Keys: effects that make a key mask from a frame or use one.
//
//   LumaKey    0 where the brightest of red, green and blue lies within
//              level +- tolerance (on a 0..255 scale), all ones elsewhere
//   ChromaKey  0 where the colour lies within a distance of the key colour,
//              all ones elsewhere
//   Extract    a solid colour, scaled by a strength, wherever the input word
//              is not 0, and 0 elsewhere
//
// A key mask holds only the words 0 (keyed out) and 0xFFFFFFFF (kept). Each
// effect builds its small table on the first row, in the job's scratch block.
// Each row has a plain reference and an AVX2 row (eight pixels at a time, the
// same words) that the CPU level picks.
#include <algorithm>
#include <cmath>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "effects/colour/colour_ops.h"
#include "engine/scanner.h"
#include "engine/scratch.h"
#include "interface/pixel.h"

namespace kve {

namespace {

constexpr Pixel kKeyedOut = 0u;
constexpr Pixel kKept = 0xFFFFFFFFu;

ExtractState *ExtractLayout(ScratchPlan &plan) {
    return plan.Take<ExtractState>(1);
}

// ---- rows ---------------------------------------------------------------------

void LumaKeyReference(const LumaKeyState &state, const Pixel *src, Pixel *dst, int32_t n) {
    for (int32_t x = 0; x < n; ++x) {
        const Pixel p = src[x];
        dst[x] = state.mask[std::max({RedOf(p), GreenOf(p), BlueOf(p)})];
    }
}

// The channel differences are whole numbers, so the squared distance is exact
// in int32 and compares with the threshold exactly as a double sum.
void ChromaKeyReference(const ChromaKeyState &state, const Pixel *src, Pixel *dst, int32_t n) {
    const int32_t kr = static_cast<int32_t>(state.red), kg = static_cast<int32_t>(state.green),
                  kb = static_cast<int32_t>(state.blue);
    const double threshold = state.threshold;
    for (int32_t x = 0; x < n; ++x) {
        const Pixel p = src[x];
        const int32_t dr = kr - RedOf(p), dg = kg - GreenOf(p), db = kb - BlueOf(p);
        const int32_t d2 = dr * dr + dg * dg + db * db;
        dst[x] = d2 > threshold ? kKept : kKeyedOut;
    }
}

void ExtractReference(const ExtractState &state, const Pixel *src, Pixel *dst, int32_t n) {
    const Pixel fill = state.fill;
    for (int32_t x = 0; x < n; ++x)
        dst[x] = src[x] != 0 ? fill : 0;
}

#if defined(__x86_64__)
KVE_TARGET_AVX2_BEGIN
namespace avx2 {

inline __m256i Load(const Pixel *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}
inline void Store(Pixel *p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v);
}
inline __m256i Channel(__m256i p, int shift) {
    return _mm256_and_si256(_mm256_srli_epi32(p, shift), _mm256_set1_epi32(0xFF));
}

// The mask table is 0 exactly on the band [lo, hi], so the row compares the
// brightest channel with the band's ends instead of looking it up.
void LumaKey(const LumaKeyState &state, const Pixel *src, Pixel *dst, int32_t n) {
    const __m256i below = _mm256_set1_epi32(state.lo - 1), above = _mm256_set1_epi32(state.hi + 1);
    int32_t x = 0;
    for (; x + 8 <= n; x += 8) {
        const __m256i p = Load(src + x);
        const __m256i v =
            _mm256_max_epi32(Channel(p, 8), _mm256_max_epi32(Channel(p, 16), Channel(p, 24)));
        const __m256i inBand =
            _mm256_and_si256(_mm256_cmpgt_epi32(v, below), _mm256_cmpgt_epi32(above, v));
        Store(dst + x, _mm256_xor_si256(inBand, _mm256_set1_epi32(-1)));
    }
    LumaKeyReference(state, src + x, dst + x, n - x);
}

// d2 > threshold for a whole d2 is d2 > limit, the threshold's integer floor
// (kept within int32 range); madd sums the squares of 16-bit differences.
void ChromaKey(const ChromaKeyState &state, const Pixel *src, Pixel *dst, int32_t n) {
    const __m256i keyRedBlue =
        _mm256_set1_epi32(static_cast<int32_t>(state.blue) << 16 | static_cast<int32_t>(state.red));
    const __m256i keyGreen = _mm256_set1_epi32(static_cast<int32_t>(state.green));
    const __m256i limit = _mm256_set1_epi32(state.limit);
    const __m256i pairs = _mm256_set1_epi32(0x00FF00FF);
    int32_t x = 0;
    for (; x + 8 <= n; x += 8) {
        const __m256i p = Load(src + x);
        const __m256i redBlue =
            _mm256_sub_epi16(keyRedBlue, _mm256_and_si256(_mm256_srli_epi32(p, 8), pairs));
        const __m256i green = _mm256_sub_epi16(keyGreen, Channel(p, 16));  // high half 0
        const __m256i d2 =
            _mm256_add_epi32(_mm256_madd_epi16(redBlue, redBlue), _mm256_madd_epi16(green, green));
        Store(dst + x, _mm256_cmpgt_epi32(d2, limit));
    }
    ChromaKeyReference(state, src + x, dst + x, n - x);
}

void Extract(const ExtractState &state, const Pixel *src, Pixel *dst, int32_t n) {
    const __m256i fill = _mm256_set1_epi32(static_cast<int32_t>(state.fill));
    int32_t x = 0;
    for (; x + 8 <= n; x += 8) {
        const __m256i zero = _mm256_cmpeq_epi32(Load(src + x), _mm256_setzero_si256());
        Store(dst + x, _mm256_andnot_si256(zero, fill));
    }
    ExtractReference(state, src + x, dst + x, n - x);
}

}  // namespace avx2
KVE_TARGET_END

constexpr KeyKernels kKeys = {
    {LumaKeyReference, {{LumaKeyReference, LumaKeyReference, avx2::LumaKey, avx2::LumaKey}}},
    {ChromaKeyReference,
     {{ChromaKeyReference, ChromaKeyReference, avx2::ChromaKey, avx2::ChromaKey}}},
    {ExtractReference, {{ExtractReference, ExtractReference, avx2::Extract, avx2::Extract}}},
};
#else
constexpr KeyKernels kKeys = {
    {LumaKeyReference, {{LumaKeyReference, LumaKeyReference, LumaKeyReference, LumaKeyReference}}},
    {ChromaKeyReference,
     {{ChromaKeyReference, ChromaKeyReference, ChromaKeyReference, ChromaKeyReference}}},
    {ExtractReference, {{ExtractReference, ExtractReference, ExtractReference, ExtractReference}}},
};
#endif

}  // namespace

KeyKernels KeyRowKernels() {
    return kKeys;
}

void BuildLumaKey(double level, double tolerance, LumaKeyState &state) {
    const double t = tolerance < 0 ? -tolerance : tolerance;
    const int32_t lo = TruncToInt((level - t) * 255 + 0.5);
    const int32_t hi = TruncToInt((level + t) * 255 + 0.5);
    for (int32_t v = 0; v < 256; ++v)
        state.mask[v] = lo <= v && v <= hi ? kKeyedOut : kKept;
    // Channels are 0..255, so ends beyond -1 and 256 key the same.
    state.lo = std::clamp(lo, -1, 256);
    state.hi = std::clamp(hi, -1, 256);
}

void BuildChromaKey(Pixel key, double tolerance, ChromaKeyState &state) {
    state.red = RedOf(key);
    state.green = GreenOf(key);
    state.blue = BlueOf(key);
    const double t = tolerance * 256;
    state.threshold = t * t * 3;
    // A squared distance is at most 3 * 255^2; NaN keys everything out, as
    // no comparison with it holds.
    const double th = state.threshold;
    state.limit =
        !(th == th) || th >= 1e6 ? 1000000 : (th < 0 ? -1 : static_cast<int32_t>(std::floor(th)));
}

size_t LumaKeyScratch(const ArgBlock &, const ArgBlock &) {
    ScratchPlan plan;
    plan.Take<LumaKeyState>(1);
    return plan.Bytes();
}

// Level and tolerance are on a 0..1 scale; the band ends are rounded to
// 0..255 (halves up) and include both ends. A negative tolerance acts like its
// magnitude. Alpha is not read.
KVE_LINE_OP(LumaKeyLineOp) {
    ScratchPlan plan(JobScratch(in));
    LumaKeyState &state = *plan.Take<LumaKeyState>(1);
    if (first) BuildLumaKey(in.reals[1], in.reals[0], state);
    kKeys.lumaKey.rows.Pick()(state, inLines[0], outLines[0], out.imageWidth[0]);
}

size_t ChromaKeyScratch(const ArgBlock &, const ArgBlock &) {
    ScratchPlan plan;
    plan.Take<ChromaKeyState>(1);
    return plan.Bytes();
}

// Keys out colours whose squared distance from the key colour is at most
// 3 * (256 * tolerance)^2, the distance exactly at the threshold included.
// Alpha is read from neither the key nor the pixel.
KVE_LINE_OP(ChromaKeyLineOp) {
    ScratchPlan plan(JobScratch(in));
    ChromaKeyState &state = *plan.Take<ChromaKeyState>(1);
    if (first) BuildChromaKey(in.colors[0], in.reals[0], state);
    kKeys.chromaKey.rows.Pick()(state, inLines[0], outLines[0], out.imageWidth[0]);
}

size_t ExtractScratch(const ArgBlock &, const ArgBlock &) {
    ScratchPlan plan;
    ExtractLayout(plan);
    return plan.Bytes();
}

// Every non-zero word becomes the fill, so any non-zero mask word keys in,
// not only 0xFFFFFFFF.
KVE_LINE_OP(ExtractLineOp) {
    ScratchPlan plan(JobScratch(in));
    ExtractState &state = *ExtractLayout(plan);
    if (first) {
        // Each channel is scaled in its own place in the word and truncated
        // toward zero; PackPixel saturates strengths outside 0..1.
        const double s = in.reals[0];
        const Pixel c = in.colors[0];
        state.fill = PackPixel(TruncToInt(s * AlphaOf(c)), TruncToInt(s * RedOf(c)),
                               TruncToInt(s * GreenOf(c)), TruncToInt(s * BlueOf(c)));
        state.width = in.imageWidth[0];
    }
    kKeys.extract.rows.Pick()(state, inLines[0], outLines[0], state.width);
}

}  // namespace kve
