// Arithmetic and logical point operations.
//
// Two-frame effects (a from the first frame, b from the second), channel by
// channel with alpha treated like the colours:
//   Add  a + b clamped to 255      Sub  b - a clamped to 0 (SECOND minus first)
//   Mul  a * b clamped to 255 (the product is not divided by 255)
//   And, Or, Xor on the whole word
//   Max/Min  the whole word of the brighter/darker pixel by the luma
//            306 R + 601 G + 117 B; equal luma picks b
// One-frame effects: Negate inverts every bit; Monochrome sets red, green and
// blue to the luma (19595 R + 38470 G + 7471 B) >> 16 and keeps alpha.
//
// Each has a plain per-pixel reference and, on x86-64, SSE2, AVX2 and
// AVX-512 rows that give the same words 4, 8 or 16 pixels at a time; the CPU
// level picks one. Rows are read in place: every output pixel is written
// after its own inputs are read, so an output that shares storage with an
// input row gives the same result as a copied row would.
#include <array>

#include "effects/point/point_ops.h"
#include "engine/pixel_lanes.h"
#include "interface/pixel.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kve {

namespace {

// ---- per-pixel reference ---------------------------------------------------

template <class Channel>
constexpr Pixel PerChannel(Pixel a, Pixel b, Channel channel) {
    return PackPixel(channel(AlphaOf(a), AlphaOf(b)), channel(RedOf(a), RedOf(b)),
                     channel(GreenOf(a), GreenOf(b)), channel(BlueOf(a), BlueOf(b)));
}

constexpr int32_t Luma(Pixel p) {
    return 306 * RedOf(p) + 601 * GreenOf(p) + 117 * BlueOf(p);
}

constexpr auto MakeWeightTable(int32_t weight) {
    std::array<int32_t, 256> table{};
    for (int32_t i = 0; i < 256; ++i)
        table[i] = i * weight;
    return table;
}
// The three weights sum to 65536, so the sum shifted right by 16 never exceeds 255.
constexpr auto kRedWeight = MakeWeightTable(kLumaRed);
constexpr auto kGreenWeight = MakeWeightTable(kLumaGreen);
constexpr auto kBlueWeight = MakeWeightTable(kLumaBlue);

constexpr Pixel AddPixel(Pixel a, Pixel b) {
    return PerChannel(a, b, [](int32_t x, int32_t y) { return x + y; });
}
constexpr Pixel SubPixel(Pixel a, Pixel b) {
    return PerChannel(a, b, [](int32_t x, int32_t y) { return y - x; });
}
constexpr Pixel MulPixel(Pixel a, Pixel b) {
    return PerChannel(a, b, [](int32_t x, int32_t y) { return x * y; });
}
constexpr Pixel AndPixel(Pixel a, Pixel b) {
    return a & b;
}
constexpr Pixel OrPixel(Pixel a, Pixel b) {
    return a | b;
}
constexpr Pixel XorPixel(Pixel a, Pixel b) {
    return a ^ b;
}
constexpr Pixel MaxPixel(Pixel a, Pixel b) {
    return Luma(a) > Luma(b) ? a : b;
}
constexpr Pixel MinPixel(Pixel a, Pixel b) {
    return Luma(a) < Luma(b) ? a : b;
}
constexpr Pixel NegatePixel(Pixel a) {
    return ~a;
}
constexpr Pixel MonochromePixel(Pixel a) {
    const uint32_t l = static_cast<uint32_t>(
        (kRedWeight[RedOf(a)] + kGreenWeight[GreenOf(a)] + kBlueWeight[BlueOf(a)]) >> 16);
    return (a & 0xFFu) | l << 8 | l << 16 | l << 24;
}

template <Pixel (*Op)(Pixel, Pixel)>
void ReferenceRow(const Pixel *a, const Pixel *b, Pixel *out, int32_t n) {
    for (int32_t x = 0; x < n; ++x)
        out[x] = Op(a[x], b[x]);
}

template <Pixel (*Op)(Pixel)>
void ReferenceRow(const Pixel *a, Pixel *out, int32_t n) {
    for (int32_t x = 0; x < n; ++x)
        out[x] = Op(a[x]);
}

// ---- lane rows, per instruction set -----------------------------------------
//
// Each set defines the lane vocabulary of arithmetic_lanes.inc and includes
// it inside its own namespace and target region, so the AVX2 and AVX-512 rows
// are compiled into the same baseline binary and run only when the CPU level
// allows. Unpacks and packs work within 128-bit blocks at every width, so the
// bytes of MulBytes come back in place.

#if defined(__x86_64__)
namespace sse2 {
using Vec = __m128i;
constexpr int32_t kLanes = 4;
inline Vec Load(const Pixel *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}
inline void Store(Pixel *p, Vec v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
}
inline Vec Set1(int32_t v) {
    return _mm_set1_epi32(v);
}
inline Vec AddsU8(Vec a, Vec b) {
    return _mm_adds_epu8(a, b);
}
inline Vec SubsU8(Vec a, Vec b) {
    return _mm_subs_epu8(a, b);
}
inline Vec And(Vec a, Vec b) {
    return _mm_and_si128(a, b);
}
inline Vec Or(Vec a, Vec b) {
    return _mm_or_si128(a, b);
}
inline Vec Xor(Vec a, Vec b) {
    return _mm_xor_si128(a, b);
}
inline Vec Add32(Vec a, Vec b) {
    return _mm_add_epi32(a, b);
}
inline Vec ShiftLeft32(Vec v, int n) {
    return _mm_slli_epi32(v, (n));
}
inline Vec ShiftRight32(Vec v, int n) {
    return _mm_srli_epi32(v, (n));
}
// Sums of two 16-bit products per 32-bit lane.
inline Vec Madd(Vec v, int32_t weights) {
    return _mm_madd_epi16(v, _mm_set1_epi32(weights));
}
inline Vec MulBytes(Vec a, Vec b) {
    const Vec zero = _mm_setzero_si128(), bias = _mm_set1_epi16(static_cast<short>(0xFF00));
    const Vec low = _mm_mullo_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
    const Vec high = _mm_mullo_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
    const Vec lowByte = _mm_set1_epi16(0x00FF);
    return _mm_packus_epi16(_mm_and_si128(_mm_adds_epu16(low, bias), lowByte),
                            _mm_and_si128(_mm_adds_epu16(high, bias), lowByte));
}
inline Vec PickGreater(Vec la, Vec lb, Vec a, Vec b) {
    const Vec mask = _mm_cmpgt_epi32(la, lb);
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}
#include "effects/point/arithmetic_lanes.inc"
}  // namespace sse2

KVE_TARGET_AVX2_BEGIN
namespace avx2 {
using namespace lanes::avx2;
inline Vec Set1(int32_t v) {
    return _mm256_set1_epi32(v);
}
inline Vec AddsU8(Vec a, Vec b) {
    return _mm256_adds_epu8(a, b);
}
inline Vec SubsU8(Vec a, Vec b) {
    return _mm256_subs_epu8(a, b);
}
inline Vec Xor(Vec a, Vec b) {
    return _mm256_xor_si256(a, b);
}
inline Vec ShiftLeft32(Vec v, int n) {
    return _mm256_slli_epi32(v, (n));
}
inline Vec ShiftRight32(Vec v, int n) {
    return _mm256_srli_epi32(v, (n));
}
// Sums of two 16-bit products per 32-bit lane.
inline Vec Madd(Vec v, int32_t weights) {
    return _mm256_madd_epi16(v, _mm256_set1_epi32(weights));
}
inline Vec MulBytes(Vec a, Vec b) {
    const Vec zero = _mm256_setzero_si256(), bias = _mm256_set1_epi16(static_cast<short>(0xFF00));
    const Vec low =
        _mm256_mullo_epi16(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero));
    const Vec high =
        _mm256_mullo_epi16(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero));
    const Vec lowByte = _mm256_set1_epi16(0x00FF);
    return _mm256_packus_epi16(_mm256_and_si256(_mm256_adds_epu16(low, bias), lowByte),
                               _mm256_and_si256(_mm256_adds_epu16(high, bias), lowByte));
}
inline Vec PickGreater(Vec la, Vec lb, Vec a, Vec b) {
    return _mm256_blendv_epi8(b, a, _mm256_cmpgt_epi32(la, lb));
}
#include "effects/point/arithmetic_lanes.inc"
}  // namespace avx2
KVE_TARGET_END

KVE_TARGET_AVX512_BEGIN
namespace avx512 {
using namespace lanes::avx512;
// The unmasked 512-bit shifts start from an undefined register that this
// compiler warns about; the zero-masked forms with every lane set are the
// same instruction.
constexpr __mmask16 kAllLanes = 0xFFFF;
inline Vec Set1(int32_t v) {
    return _mm512_set1_epi32(v);
}
inline Vec AddsU8(Vec a, Vec b) {
    return _mm512_adds_epu8(a, b);
}
inline Vec SubsU8(Vec a, Vec b) {
    return _mm512_subs_epu8(a, b);
}
inline Vec Xor(Vec a, Vec b) {
    return _mm512_xor_si512(a, b);
}
inline Vec ShiftLeft32(Vec v, int n) {
    return _mm512_maskz_slli_epi32(kAllLanes, v, static_cast<unsigned>(n));
}
inline Vec ShiftRight32(Vec v, int n) {
    return _mm512_maskz_srli_epi32(kAllLanes, v, static_cast<unsigned>(n));
}
// Sums of two 16-bit products per 32-bit lane.
inline Vec Madd(Vec v, int32_t weights) {
    return _mm512_madd_epi16(v, _mm512_set1_epi32(weights));
}
inline Vec MulBytes(Vec a, Vec b) {
    const Vec zero = _mm512_setzero_si512(), bias = _mm512_set1_epi16(static_cast<short>(0xFF00));
    const Vec low =
        _mm512_mullo_epi16(_mm512_unpacklo_epi8(a, zero), _mm512_unpacklo_epi8(b, zero));
    const Vec high =
        _mm512_mullo_epi16(_mm512_unpackhi_epi8(a, zero), _mm512_unpackhi_epi8(b, zero));
    const Vec lowByte = _mm512_set1_epi16(0x00FF);
    return _mm512_packus_epi16(_mm512_and_si512(_mm512_adds_epu16(low, bias), lowByte),
                               _mm512_and_si512(_mm512_adds_epu16(high, bias), lowByte));
}
inline Vec PickGreater(Vec la, Vec lb, Vec a, Vec b) {
    return _mm512_mask_blend_epi32(_mm512_cmpgt_epi32_mask(la, lb), b, a);
}
#include "effects/point/arithmetic_lanes.inc"
}  // namespace avx512
KVE_TARGET_END

#endif

// Every level's row of one op; the reference stands in where a set is not
// compiled.
#if defined(__x86_64__)
#define KVE_POINT_LEVELS(Op, Block)                                                   \
    {                                                                                 \
        {                                                                             \
            ReferenceRow<Op>, sse2::Row<Op, sse2::Block>, avx2::Row<Op, avx2::Block>, \
                avx512::Row<Op, avx512::Block>                                        \
        }                                                                             \
    }
#else
#define KVE_POINT_LEVELS(Op, Block)                                                \
    {                                                                              \
        { ReferenceRow<Op>, ReferenceRow<Op>, ReferenceRow<Op>, ReferenceRow<Op> } \
    }
#endif

constexpr TwoFrameKernel kTwoFrame[] = {
    {"Add", ReferenceRow<AddPixel>, KVE_POINT_LEVELS(AddPixel, AddBlock)},
    {"Sub", ReferenceRow<SubPixel>, KVE_POINT_LEVELS(SubPixel, SubBlock)},
    {"Mul", ReferenceRow<MulPixel>, KVE_POINT_LEVELS(MulPixel, MulBlock)},
    {"And", ReferenceRow<AndPixel>, KVE_POINT_LEVELS(AndPixel, AndBlock)},
    {"Or", ReferenceRow<OrPixel>, KVE_POINT_LEVELS(OrPixel, OrBlock)},
    {"Xor", ReferenceRow<XorPixel>, KVE_POINT_LEVELS(XorPixel, XorBlock)},
    {"Max", ReferenceRow<MaxPixel>, KVE_POINT_LEVELS(MaxPixel, MaxBlock)},
    {"Min", ReferenceRow<MinPixel>, KVE_POINT_LEVELS(MinPixel, MinBlock)},
};
constexpr OneFrameKernel kOneFrame[] = {
    {"Negate", ReferenceRow<NegatePixel>, KVE_POINT_LEVELS(NegatePixel, NegateBlock)},
    {"Monochrome", ReferenceRow<MonochromePixel>,
     KVE_POINT_LEVELS(MonochromePixel, MonochromeBlock)},
};
enum TwoFrameIndex { kAdd, kSub, kMul, kAnd, kOr, kXor, kMax, kMin };
enum OneFrameIndex { kNegate, kMonochrome };

}  // namespace

std::span<const TwoFrameKernel> TwoFrameKernels() {
    return kTwoFrame;
}
std::span<const OneFrameKernel> OneFrameKernels() {
    return kOneFrame;
}

// Two-frame rows: the first frame is image slot 0, the second slot 1. The
// row is picked for the active CPU level on every call, which costs one load
// per row.
#define KVE_TWO_FRAME_LINE_OP(Name, Index)                                                    \
    KVE_LINE_OP(Name) {                                                                       \
        kTwoFrame[Index].rows.Pick()(inLines[0], inLines[1], outLines[0], out.imageWidth[0]); \
    }
#define KVE_ONE_FRAME_LINE_OP(Name, Index)                                        \
    KVE_LINE_OP(Name) {                                                           \
        kOneFrame[Index].rows.Pick()(inLines[0], outLines[0], out.imageWidth[0]); \
    }

KVE_TWO_FRAME_LINE_OP(AddLineOp, kAdd)
KVE_TWO_FRAME_LINE_OP(SubLineOp, kSub)
KVE_TWO_FRAME_LINE_OP(MulLineOp, kMul)
KVE_TWO_FRAME_LINE_OP(AndLineOp, kAnd)
KVE_TWO_FRAME_LINE_OP(OrLineOp, kOr)
KVE_TWO_FRAME_LINE_OP(XorLineOp, kXor)
KVE_TWO_FRAME_LINE_OP(MaxLineOp, kMax)
KVE_TWO_FRAME_LINE_OP(MinLineOp, kMin)
KVE_ONE_FRAME_LINE_OP(NegateLineOp, kNegate)
KVE_ONE_FRAME_LINE_OP(MonochromeLineOp, kMonochrome)

}  // namespace kve
