// Noise: random grain from the library's random source.
//
//   Add_Noise  brightens: a draw u per pixel (mode 0, grey grain) or per
//              channel (any other mode) adds trunc(u * P * P * 255) where
//              |u * P| exceeds the threshold
//   Mul_Noise  scales each channel by (u * k + 1), a fresh u per channel
//
// Both reseed the random source on row 0 from their seed parameter, so the
// same parameters give the same grain on every call. Alpha is kept.
#include <algorithm>
#include <cmath>

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
struct AddNoiseTable {
    uint8_t increment[32768];
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
    }
    const bool perChannel = in.ints[0] != 0;
    uint32_t state = randState;
    const Pixel *src = inLines[0];
    Pixel *dst = outLines[0];
    for (int32_t x = 0; x < in.imageWidth[0]; ++x) {
        const Pixel p = src[x];
        int32_t r = RedOf(p), g = GreenOf(p), b = BlueOf(p);
        if (perChannel) {
            // All three draws happen for every pixel, in this order.
            const ThreeDraws u = NextThreeFrom(state);
            r += increment[u.first];
            g += increment[u.second];
            b += increment[u.third];
        } else {
            const int32_t add = increment[NextFrom(state)];
            r += add;
            g += add;
            b += add;
        }
        dst[x] = PackPixel(AlphaOf(p), r, g, b);
    }
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
    const Pixel *src = inLines[0];
    Pixel *dst = outLines[0];
    for (int32_t x = 0; x < in.imageWidth[0]; ++x) {
        const Pixel p = src[x];
        // One draw per channel, red first.
        const ThreeDraws u = NextThreeFrom(state);
        const int32_t r = TruncChannel(factor[u.first] * RedOf(p));
        const int32_t g = TruncChannel(factor[u.second] * GreenOf(p));
        const int32_t b = TruncChannel(factor[u.third] * BlueOf(p));
        dst[x] = PackPixel(AlphaOf(p), r, g, b);
    }
    randState = state;
}

}  // namespace kve
