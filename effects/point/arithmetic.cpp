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
// Each has a plain per-pixel reference and, on x86-64, an SSE2 row that gives
// the same words four pixels at a time. Rows are read in place: every output
// pixel is written after its own inputs are read, so an output that shares
// storage with an input row gives the same result as a copied row would.
#include <array>

#include "effects/point/point_ops.h"
#include "interface/pixel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
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

// ---- SSE2 rows -------------------------------------------------------------

#if defined(__SSE2__)

inline __m128i Load(const Pixel *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}
inline void Store(Pixel *p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
}

// Runs `block` on four pixels at a time and the reference op on the tail.
template <Pixel (*Op)(Pixel, Pixel), class Block>
void FastRow(const Pixel *a, const Pixel *b, Pixel *out, int32_t n, Block block) {
    int32_t x = 0;
    for (; x + 4 <= n; x += 4)
        Store(out + x, block(Load(a + x), Load(b + x)));
    for (; x < n; ++x)
        out[x] = Op(a[x], b[x]);
}

template <Pixel (*Op)(Pixel), class Block>
void FastRow(const Pixel *a, Pixel *out, int32_t n, Block block) {
    int32_t x = 0;
    for (; x + 4 <= n; x += 4)
        Store(out + x, block(Load(a + x)));
    for (; x < n; ++x)
        out[x] = Op(a[x]);
}

// Per byte a * b, saturated to 255: 16-bit products plus 0xFF00 saturate at
// 0xFFFF exactly when the product exceeds 255, so the low byte is the answer.
inline __m128i MulBytes(__m128i a, __m128i b) {
    const __m128i zero = _mm_setzero_si128(), bias = _mm_set1_epi16(static_cast<short>(0xFF00));
    const __m128i low = _mm_mullo_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
    const __m128i high = _mm_mullo_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
    const __m128i lowByte = _mm_set1_epi16(0x00FF);
    return _mm_packus_epi16(_mm_and_si128(_mm_adds_epu16(low, bias), lowByte),
                            _mm_and_si128(_mm_adds_epu16(high, bias), lowByte));
}

// 32-bit lanes of 16-bit pairs: [alpha, green] and [red, blue].
inline __m128i AlphaGreen(__m128i p) {
    return _mm_and_si128(p, _mm_set1_epi32(0x00FF00FF));
}
inline __m128i RedBlue(__m128i p) {
    return _mm_and_si128(_mm_srli_epi32(p, 8), _mm_set1_epi32(0x00FF00FF));
}

inline __m128i LumaBlock(__m128i p) {
    const __m128i redBlue = _mm_madd_epi16(RedBlue(p), _mm_set1_epi32(117 << 16 | 306));
    const __m128i green = _mm_madd_epi16(AlphaGreen(p), _mm_set1_epi32(601 << 16));
    return _mm_add_epi32(redBlue, green);
}

inline __m128i Select(__m128i mask, __m128i ifSet, __m128i ifClear) {
    return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
}

void AddFast(const Pixel *a, const Pixel *b, Pixel *out, int32_t n) {
    FastRow<AddPixel>(a, b, out, n, [](__m128i x, __m128i y) { return _mm_adds_epu8(x, y); });
}
void SubFast(const Pixel *a, const Pixel *b, Pixel *out, int32_t n) {
    FastRow<SubPixel>(a, b, out, n, [](__m128i x, __m128i y) { return _mm_subs_epu8(y, x); });
}
void MulFast(const Pixel *a, const Pixel *b, Pixel *out, int32_t n) {
    FastRow<MulPixel>(a, b, out, n, MulBytes);
}
void AndFast(const Pixel *a, const Pixel *b, Pixel *out, int32_t n) {
    FastRow<AndPixel>(a, b, out, n, [](__m128i x, __m128i y) { return _mm_and_si128(x, y); });
}
void OrFast(const Pixel *a, const Pixel *b, Pixel *out, int32_t n) {
    FastRow<OrPixel>(a, b, out, n, [](__m128i x, __m128i y) { return _mm_or_si128(x, y); });
}
void XorFast(const Pixel *a, const Pixel *b, Pixel *out, int32_t n) {
    FastRow<XorPixel>(a, b, out, n, [](__m128i x, __m128i y) { return _mm_xor_si128(x, y); });
}
void MaxFast(const Pixel *a, const Pixel *b, Pixel *out, int32_t n) {
    FastRow<MaxPixel>(a, b, out, n, [](__m128i x, __m128i y) {
        return Select(_mm_cmpgt_epi32(LumaBlock(x), LumaBlock(y)), x, y);
    });
}
void MinFast(const Pixel *a, const Pixel *b, Pixel *out, int32_t n) {
    FastRow<MinPixel>(a, b, out, n, [](__m128i x, __m128i y) {
        return Select(_mm_cmpgt_epi32(LumaBlock(y), LumaBlock(x)), x, y);
    });
}
void NegateFast(const Pixel *a, Pixel *out, int32_t n) {
    FastRow<NegatePixel>(a, out, n, [](__m128i x) { return _mm_xor_si128(x, _mm_set1_epi32(-1)); });
}
// The green weight 38470 does not fit a signed 16-bit factor, so green is
// multiplied by 19235 and doubled; the sums are exact in 32 bits.
void MonochromeFast(const Pixel *a, Pixel *out, int32_t n) {
    FastRow<MonochromePixel>(a, out, n, [](__m128i x) {
        const __m128i redBlue = _mm_madd_epi16(RedBlue(x), _mm_set1_epi32(7471 << 16 | 19595));
        const __m128i green =
            _mm_slli_epi32(_mm_madd_epi16(AlphaGreen(x), _mm_set1_epi32(19235 << 16)), 1);
        const __m128i l = _mm_srli_epi32(_mm_add_epi32(redBlue, green), 16);
        const __m128i grey = _mm_or_si128(
            _mm_slli_epi32(l, 8), _mm_or_si128(_mm_slli_epi32(l, 16), _mm_slli_epi32(l, 24)));
        return _mm_or_si128(_mm_and_si128(x, _mm_set1_epi32(0xFF)), grey);
    });
}

#else

constexpr TwoFrameRow AddFast = ReferenceRow<AddPixel>;
constexpr TwoFrameRow SubFast = ReferenceRow<SubPixel>;
constexpr TwoFrameRow MulFast = ReferenceRow<MulPixel>;
constexpr TwoFrameRow AndFast = ReferenceRow<AndPixel>;
constexpr TwoFrameRow OrFast = ReferenceRow<OrPixel>;
constexpr TwoFrameRow XorFast = ReferenceRow<XorPixel>;
constexpr TwoFrameRow MaxFast = ReferenceRow<MaxPixel>;
constexpr TwoFrameRow MinFast = ReferenceRow<MinPixel>;
constexpr OneFrameRow NegateFast = ReferenceRow<NegatePixel>;
constexpr OneFrameRow MonochromeFast = ReferenceRow<MonochromePixel>;

#endif

constexpr TwoFrameKernel kTwoFrame[] = {
    {"Add", ReferenceRow<AddPixel>, AddFast}, {"Sub", ReferenceRow<SubPixel>, SubFast},
    {"Mul", ReferenceRow<MulPixel>, MulFast}, {"And", ReferenceRow<AndPixel>, AndFast},
    {"Or", ReferenceRow<OrPixel>, OrFast},    {"Xor", ReferenceRow<XorPixel>, XorFast},
    {"Max", ReferenceRow<MaxPixel>, MaxFast}, {"Min", ReferenceRow<MinPixel>, MinFast},
};
constexpr OneFrameKernel kOneFrame[] = {
    {"Negate", ReferenceRow<NegatePixel>, NegateFast},
    {"Monochrome", ReferenceRow<MonochromePixel>, MonochromeFast},
};

}  // namespace

std::span<const TwoFrameKernel> TwoFrameKernels() {
    return kTwoFrame;
}
std::span<const OneFrameKernel> OneFrameKernels() {
    return kOneFrame;
}

// Two-frame rows: the first frame is image slot 0, the second slot 1.
#define KVE_TWO_FRAME_LINE_OP(Name, Row)                             \
    KVE_LINE_OP(Name) {                                              \
        Row(inLines[0], inLines[1], outLines[0], out.imageWidth[0]); \
    }
#define KVE_ONE_FRAME_LINE_OP(Name, Row)                 \
    KVE_LINE_OP(Name) {                                  \
        Row(inLines[0], outLines[0], out.imageWidth[0]); \
    }

KVE_TWO_FRAME_LINE_OP(AddLineOp, AddFast)
KVE_TWO_FRAME_LINE_OP(SubLineOp, SubFast)
KVE_TWO_FRAME_LINE_OP(MulLineOp, MulFast)
KVE_TWO_FRAME_LINE_OP(AndLineOp, AndFast)
KVE_TWO_FRAME_LINE_OP(OrLineOp, OrFast)
KVE_TWO_FRAME_LINE_OP(XorLineOp, XorFast)
KVE_TWO_FRAME_LINE_OP(MaxLineOp, MaxFast)
KVE_TWO_FRAME_LINE_OP(MinLineOp, MinFast)
KVE_ONE_FRAME_LINE_OP(NegateLineOp, NegateFast)
KVE_ONE_FRAME_LINE_OP(MonochromeLineOp, MonochromeFast)

}  // namespace kve
