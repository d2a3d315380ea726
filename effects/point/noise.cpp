// Noise: random grain from the library's random source.
//
//   Add_Noise  brightens: a draw u per pixel (mode 0, grey grain) or per
//              channel (any other mode) adds trunc(u * P * P * 255) where
//              |u * P| exceeds the threshold
//   Mul_Noise  scales each channel by (u * k + 1), a fresh u per channel
//
// Both reseed the random source on row 0 from their seed parameter, so the
// same parameters give the same grain on every call. Alpha is kept.
//
// The AVX2 rows draw eight pixels' numbers at once: each lane jumps the
// generator ahead to its own place in the sequence, so every pixel gets
// exactly the number the one-step-at-a-time reference gives it.
#include <algorithm>
#include <cmath>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "effects/point/point_ops.h"
#include "effects/point/random.h"
#include "engine/scanner.h"
#include "engine/scratch.h"
#include "interface/pixel.h"

namespace kve {

namespace {

thread_local uint32_t randState = 1;

// Three successive draws, for the effects that take one per channel. The
// three states come straight from the first one (state * a^k + c * (a^(k-1)
// + ... + 1), modulo 2^32, exactly the states of three single steps), so they
// do not wait on each other.
constexpr uint32_t kMul = 214013u, kAdd = 2531011u;
constexpr uint32_t kMul2 = kMul * kMul, kAdd2 = kAdd * kMul + kAdd;
constexpr uint32_t kMul3 = kMul2 * kMul, kAdd3 = kAdd2 * kMul + kAdd;
struct ThreeDraws {
    int32_t first, second, third;
};
inline ThreeDraws NextThreeFrom(uint32_t &state) {
    const uint32_t s1 = state * kMul + kAdd, s2 = state * kMul2 + kAdd2, s3 = state * kMul3 + kAdd3;
    state = s3;
    return {static_cast<int32_t>(s1 >> 16 & 32767u), static_cast<int32_t>(s2 >> 16 & 32767u),
            static_cast<int32_t>(s3 >> 16 & 32767u)};
}

// The generator steps on a local copy of the state inside a row and stores
// it back after, which keeps the thread-local access out of the pixel loop.
inline int32_t NextFrom(uint32_t &state) {
    state = state * kMul + kAdd;
    return static_cast<int32_t>(state >> 16 & 32767u);
}

// A draw of 0..32767 as a unit value in [0.00001, 1].
inline double UnitOf(int32_t draw) {
    const double u = draw * 0.00003051850947599719;
    if (u <= 0.00001) return 0.00001;
    if (u > 1) return 1;
    return u;
}

inline double UnitFrom(uint32_t &state) {
    return UnitOf(NextFrom(state));
}

// Seed rule: the low 16 bits of trunc(seed * 30000). Taken modulo 65536 in
// floating point, so every finite seed keeps exactly its low bits (a
// negative product in two's complement: -15000 gives 50536) instead of
// overflowing an integer conversion; infinities give 0.
uint32_t SeedOf(double seed) {
    const double product = std::trunc(seed * 30000);
    if (!std::isfinite(product)) return 0;
    double low = std::fmod(product, 65536.0);
    if (low < 0) low += 65536.0;
    return static_cast<uint32_t>(low);
}

// Add_Noise's increment for one draw. u * P * P is never negative, so noise
// only brightens; an increment of 255 or more saturates any channel, so it is
// capped there before the addition to keep the sum in range.
inline int32_t NoiseIncrement(double u, double amplitude, double threshold) {
    const double d = u * amplitude;
    if (!(std::fabs(d) > threshold)) return 0;
    return std::min(TruncToInt(d * amplitude * 255), 255);
}

// Add_Noise's increment depends only on the draw (one of 32768) and the
// parameters, so each call tabulates it once; a pixel then costs a generator
// step and a lookup per draw.
// Three spare bytes after the last entry let a four-byte gather read the
// increment of draw 32767.
struct AddNoiseTable {
    uint8_t increment[32768 + 3];
};

// A channel value truncated toward zero and clamped to 0..255, as PackPixel
// would clamp the truncated value; NaN gives 0.
inline int32_t TruncChannel(double v) {
    if (!(v > 0)) return 0;
    return v >= 255 ? 255 : static_cast<int32_t>(v);
}

// Likewise Mul_Noise's factor u * k + 1, one per possible draw.
struct MulNoiseTable {
    double factor[32768];
};

// ---- rows ---------------------------------------------------------------------

// Reference rows: one generator step per draw, in the effects' order.
void AddNoiseGreyReference(const uint8_t *increment, uint32_t &state, const Pixel *src, Pixel *dst,
                           int32_t n) {
    for (int32_t x = 0; x < n; ++x) {
        const Pixel p = src[x];
        const int32_t add = increment[NextFrom(state)];
        dst[x] = PackPixel(AlphaOf(p), RedOf(p) + add, GreenOf(p) + add, BlueOf(p) + add);
    }
}

void AddNoiseColourReference(const uint8_t *increment, uint32_t &state, const Pixel *src,
                             Pixel *dst, int32_t n) {
    for (int32_t x = 0; x < n; ++x) {
        const Pixel p = src[x];
        // All three draws happen for every pixel, in this order.
        const ThreeDraws u = NextThreeFrom(state);
        dst[x] = PackPixel(AlphaOf(p), RedOf(p) + increment[u.first],
                           GreenOf(p) + increment[u.second], BlueOf(p) + increment[u.third]);
    }
}

void MulNoiseReference(const double *factor, uint32_t &state, const Pixel *src, Pixel *dst,
                       int32_t n) {
    for (int32_t x = 0; x < n; ++x) {
        const Pixel p = src[x];
        // One draw per channel, red first.
        const ThreeDraws u = NextThreeFrom(state);
        const int32_t r = TruncChannel(factor[u.first] * RedOf(p));
        const int32_t g = TruncChannel(factor[u.second] * GreenOf(p));
        const int32_t b = TruncChannel(factor[u.third] * BlueOf(p));
        dst[x] = PackPixel(AlphaOf(p), r, g, b);
    }
}

// The generator k steps at once: state * a^k + c * (a^(k-1) + ... + 1),
// modulo 2^32, is exactly the state after k single steps.
struct Jump {
    uint32_t mul, add;
};
constexpr Jump JumpOf(int k) {
    Jump j{1, 0};
    for (int i = 0; i < k; ++i)
        j = {j.mul * kMul, j.add * kMul + kAdd};
    return j;
}

#if defined(__x86_64__)
KVE_TARGET_AVX2_BEGIN
namespace avx2 {

// Eight lanes of states, lane i `stride` * i + `offset` steps past `state`.
struct LaneJumps {
    __m256i mul, add;
};
inline LaneJumps LaneJumpsOf(int stride, int offset) {
    alignas(32) uint32_t mul[8], add[8];
    for (int i = 0; i < 8; ++i) {
        const Jump j = JumpOf(stride * i + offset);
        mul[i] = j.mul;
        add[i] = j.add;
    }
    return {_mm256_load_si256(reinterpret_cast<const __m256i *>(mul)),
            _mm256_load_si256(reinterpret_cast<const __m256i *>(add))};
}
inline __m256i StatesFrom(uint32_t state, const LaneJumps &j) {
    return _mm256_add_epi32(
        _mm256_mullo_epi32(_mm256_set1_epi32(static_cast<int32_t>(state)), j.mul), j.add);
}
inline __m256i DrawsOf(__m256i states) {
    return _mm256_and_si256(_mm256_srli_epi32(states, 16), _mm256_set1_epi32(32767));
}
// The increment of each draw, one byte in the low end of each lane.
inline __m256i Increments(const uint8_t *increment, __m256i draws) {
    return _mm256_and_si256(
        _mm256_i32gather_epi32(reinterpret_cast<const int *>(increment), draws, 1),
        _mm256_set1_epi32(0xFF));
}
inline __m256i LoadPixels(const Pixel *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}
inline void StorePixels(Pixel *p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v);
}

// A colour plus an increment of at most 255 saturates at 255 as PackPixel
// clamps it; alpha gets 0 added.
void AddNoiseGrey(const uint8_t *increment, uint32_t &state, const Pixel *src, Pixel *dst,
                  int32_t n) {
    const LaneJumps lanes = LaneJumpsOf(1, 1);
    const Jump eight = JumpOf(8);
    int32_t x = 0;
    for (; x + 8 <= n; x += 8) {
        const __m256i add =
            _mm256_mullo_epi32(Increments(increment, DrawsOf(StatesFrom(state, lanes))),
                               _mm256_set1_epi32(0x01010100));
        StorePixels(dst + x, _mm256_adds_epu8(LoadPixels(src + x), add));
        state = state * eight.mul + eight.add;
    }
    AddNoiseGreyReference(increment, state, src + x, dst + x, n - x);
}

void AddNoiseColour(const uint8_t *increment, uint32_t &state, const Pixel *src, Pixel *dst,
                    int32_t n) {
    const LaneJumps red = LaneJumpsOf(3, 1), green = LaneJumpsOf(3, 2), blue = LaneJumpsOf(3, 3);
    const Jump step = JumpOf(24);
    int32_t x = 0;
    for (; x + 8 <= n; x += 8) {
        const __m256i r = Increments(increment, DrawsOf(StatesFrom(state, red)));
        const __m256i g = Increments(increment, DrawsOf(StatesFrom(state, green)));
        const __m256i b = Increments(increment, DrawsOf(StatesFrom(state, blue)));
        const __m256i add =
            _mm256_or_si256(_mm256_slli_epi32(r, 8),
                            _mm256_or_si256(_mm256_slli_epi32(g, 16), _mm256_slli_epi32(b, 24)));
        StorePixels(dst + x, _mm256_adds_epu8(LoadPixels(src + x), add));
        state = state * step.mul + step.add;
    }
    AddNoiseColourReference(increment, state, src + x, dst + x, n - x);
}

// The masked gather with every lane set: the unmasked form starts from an
// undefined register this compiler warns about.
inline __m256d Gather(const double *table, __m128i index) {
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi32(-1));
    return _mm256_mask_i32gather_pd(_mm256_setzero_pd(), table, index, all, 8);
}

// factor * channel for four pixels, truncated and clamped as TruncChannel:
// max(v, 0) gives 0 for NaN as well (the second operand wins), and the
// products inside (0, 255) truncate toward zero.
inline __m128i MulChannel(const double *factor, __m128i draws, __m128i channel) {
    const __m256d v = _mm256_mul_pd(Gather(factor, draws), _mm256_cvtepi32_pd(channel));
    const __m256d clamped =
        _mm256_min_pd(_mm256_max_pd(v, _mm256_setzero_pd()), _mm256_set1_pd(255.0));
    return _mm256_cvttpd_epi32(clamped);
}

void MulNoise(const double *factor, uint32_t &state, const Pixel *src, Pixel *dst, int32_t n) {
    const LaneJumps red = LaneJumpsOf(3, 1), green = LaneJumpsOf(3, 2), blue = LaneJumpsOf(3, 3);
    const Jump step = JumpOf(24);
    const __m128i low = _mm_set1_epi32(0xFF);
    int32_t x = 0;
    for (; x + 8 <= n; x += 8) {
        const __m256i draws[3] = {DrawsOf(StatesFrom(state, red)),
                                  DrawsOf(StatesFrom(state, green)),
                                  DrawsOf(StatesFrom(state, blue))};
        for (int half = 0; half < 2; ++half) {
            const __m128i p =
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + x + 4 * half));
            __m128i word = _mm_and_si128(p, low);
            for (int c = 0; c < 3; ++c) {
                const __m128i d = half == 0 ? _mm256_castsi256_si128(draws[c])
                                            : _mm256_extracti128_si256(draws[c], 1);
                const int shift = 8 * (c + 1);
                const __m128i channel = _mm_and_si128(_mm_srli_epi32(p, shift), low);
                word = _mm_or_si128(word, _mm_slli_epi32(MulChannel(factor, d, channel), shift));
            }
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + x + 4 * half), word);
        }
        state = state * step.mul + step.add;
    }
    MulNoiseReference(factor, state, src + x, dst + x, n - x);
}

}  // namespace avx2
KVE_TARGET_END
#endif

// The rows per CPU level: AVX2 lanes from the AVX2 level up, the reference
// below it.
#if defined(__x86_64__)
constexpr NoiseKernels kNoise = {
    {AddNoiseGreyReference,
     {{AddNoiseGreyReference, AddNoiseGreyReference, avx2::AddNoiseGrey, avx2::AddNoiseGrey}}},
    {AddNoiseColourReference,
     {{AddNoiseColourReference, AddNoiseColourReference, avx2::AddNoiseColour,
       avx2::AddNoiseColour}}},
    {MulNoiseReference, {{MulNoiseReference, MulNoiseReference, avx2::MulNoise, avx2::MulNoise}}},
};
#else
constexpr NoiseKernels kNoise = {
    {AddNoiseGreyReference,
     {{AddNoiseGreyReference, AddNoiseGreyReference, AddNoiseGreyReference,
       AddNoiseGreyReference}}},
    {AddNoiseColourReference,
     {{AddNoiseColourReference, AddNoiseColourReference, AddNoiseColourReference,
       AddNoiseColourReference}}},
    {MulNoiseReference,
     {{MulNoiseReference, MulNoiseReference, MulNoiseReference, MulNoiseReference}}},
};
#endif

}  // namespace

void Rand_Seed(uint32_t seed) {
    randState = seed;
}
int32_t Rand_Next() {
    return NextFrom(randState);
}
double Rand_Unit() {
    return UnitFrom(randState);
}

NoiseKernels NoiseRowKernels() {
    return kNoise;
}

size_t AddNoiseScratch(const ArgBlock &, const ArgBlock &) {
    ScratchPlan plan;
    plan.Take<AddNoiseTable>(1);
    return plan.Bytes();
}

KVE_LINE_OP(AddNoiseLineOp) {
    if (y == 0) randState = SeedOf(in.reals[2]);
    ScratchPlan plan(JobScratch(in));
    uint8_t *increment = plan.Take<AddNoiseTable>(1)->increment;
    if (first) {
        const double amplitude = in.reals[1], threshold = in.reals[0];
        for (int32_t draw = 0; draw < 32768; ++draw)
            increment[draw] =
                static_cast<uint8_t>(NoiseIncrement(UnitOf(draw), amplitude, threshold));
        std::fill(increment + 32768, increment + 32768 + 3, uint8_t{0});
    }
    const AddNoiseKernel &rows = in.ints[0] != 0 ? kNoise.addColour : kNoise.addGrey;
    uint32_t state = randState;
    rows.rows.Pick()(increment, state, inLines[0], outLines[0], in.imageWidth[0]);
    randState = state;
}

// k > 0 brightens, k < 0 darkens (u = 1 with k = -1 takes a channel to 0),
// k = 0 leaves the frame as it was.
size_t MulNoiseScratch(const ArgBlock &, const ArgBlock &) {
    ScratchPlan plan;
    plan.Take<MulNoiseTable>(1);
    return plan.Bytes();
}

KVE_LINE_OP(MulNoiseLineOp) {
    if (y == 0) randState = SeedOf(in.reals[1]);
    ScratchPlan plan(JobScratch(in));
    double *factor = plan.Take<MulNoiseTable>(1)->factor;
    if (first) {
        const double k = in.reals[0];
        for (int32_t draw = 0; draw < 32768; ++draw)
            factor[draw] = UnitOf(draw) * k + 1;
    }
    uint32_t state = randState;
    kNoise.mul.rows.Pick()(factor, state, inLines[0], outLines[0], in.imageWidth[0]);
    randState = state;
}

}  // namespace kve
