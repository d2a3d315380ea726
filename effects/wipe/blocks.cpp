// Block wipes (Wipe numbers 301-353, 409 and 410): the frame is cut into a
// grid of blocks and the blocks switch from B to A one after another, in a
// visiting order chosen by the number: row and column snakes, diagonal
// zig-zags, spirals, two or four of these at once, raster orders, or a
// pseudo-random order from a shift register.
//
// On the first row of a call the order is walked once and every block gets a
// level: 0 still shows B, 255 shows A, levels between are inside the block's
// own transition when border + softness reaches a whole number of grids.
// Every row then copies B, copies A over the finished blocks and mixes the
// blocks in transition linearly through the border colour.
//
// The block map, the visited flags and the walk all belong to the call; the
// random orders' kept seed and the shift register's mask belong to the
// calling thread, so block wipes run on any number of threads at once and a
// progress callback may start another one from inside a row.
#include "effects/wipe/blocks.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "effects/point/random.h"
#include "effects/wipe/wipe.h"
#include "engine/diag.h"
#include "interface/pixel.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace kve {

namespace {

// ---- the orders as data --------------------------------------------------------

enum class Walk : uint8_t {
    kScan,          // lines of blocks one after another
    kZigZag,        // anti-diagonals, alternating direction
    kSpiral,        // inward along the border of a region, with mirrored copies
    kPairedSnake,   // a snake over half the grid and its mirror image
    kDiagonalPair,  // diagonal snakes from the middle toward two opposite corners
    kRandom,        // shift-register order
};

enum class Region : uint8_t { kWhole, kLeftHalf, kTopHalf, kQuadrant };
enum class Corner : uint8_t { kTopLeft, kTopRight, kBottomRight, kBottomLeft };
enum class Heading : uint8_t { kRight, kDown, kLeft, kUp };
enum class Turn : uint8_t { kClockwise, kCounterClockwise };

struct BlockOrder {
    int32_t number;
    Walk walk;
    int firstPlace;  // the place number of the order's first step
    // Scans and snakes: along columns instead of rows; lines taken from the
    // last one; the first line runs backward; every other line turns back.
    bool columns = false, lastLineFirst = false, firstBackward = false, snake = false;
    // Zig-zags: the grid flipped; paired snakes and spirals: the mirror
    // copies revealed in the same step (across the columns, across the rows).
    bool mirrorColumns = false, mirrorRows = false;
    // Both mirrors as three more copies (four blocks a step) rather than one
    // copy across the centre.
    bool fourWay = false;
    // Spirals.
    Region region = Region::kWhole;
    Corner start = Corner::kTopLeft;
    Heading heading = Heading::kRight;
    Turn turn = Turn::kClockwise;
    // 329 pairs the blocks across, 328 along, the grid's centre.
    bool crossed = false;
    // 410 draws a fresh seed; 409 reuses this thread's.
    bool freshSeed = false;
};

constexpr Walk kScan = Walk::kScan, kZigZag = Walk::kZigZag, kSpiral = Walk::kSpiral,
               kPaired = Walk::kPairedSnake, kDiagonal = Walk::kDiagonalPair,
               kRandom = Walk::kRandom;
using enum Region;
using enum Corner;
using enum Heading;
using enum Turn;

// clang-format off
constexpr BlockOrder kOrders[] = {
    {.number = 301, .walk = kScan, .firstPlace = 1, .snake = true},
    {.number = 302, .walk = kScan, .firstPlace = 1, .columns = true, .snake = true},
    {.number = 303, .walk = kZigZag, .firstPlace = 1},
    {.number = 304, .walk = kZigZag, .firstPlace = 1, .mirrorColumns = true},
    {.number = 305, .walk = kZigZag, .firstPlace = 1, .mirrorColumns = true, .mirrorRows = true},
    {.number = 306, .walk = kZigZag, .firstPlace = 1, .mirrorRows = true},
    {.number = 310, .walk = kSpiral, .firstPlace = 1, .start = kTopLeft, .heading = kRight, .turn = kClockwise},
    {.number = 311, .walk = kSpiral, .firstPlace = 1, .start = kTopRight, .heading = kDown, .turn = kClockwise},
    {.number = 312, .walk = kSpiral, .firstPlace = 1, .start = kBottomRight, .heading = kLeft, .turn = kClockwise},
    {.number = 313, .walk = kSpiral, .firstPlace = 1, .start = kBottomLeft, .heading = kUp, .turn = kClockwise},
    {.number = 314, .walk = kSpiral, .firstPlace = 1, .start = kTopLeft, .heading = kDown, .turn = kCounterClockwise},
    {.number = 315, .walk = kSpiral, .firstPlace = 1, .start = kTopRight, .heading = kLeft, .turn = kCounterClockwise},
    {.number = 316, .walk = kSpiral, .firstPlace = 1, .start = kBottomRight, .heading = kUp, .turn = kCounterClockwise},
    {.number = 317, .walk = kSpiral, .firstPlace = 1, .start = kBottomLeft, .heading = kRight, .turn = kCounterClockwise},
    {.number = 320, .walk = kPaired, .firstPlace = 1, .columns = true, .snake = true, .mirrorColumns = true},
    {.number = 321, .walk = kPaired, .firstPlace = 1, .columns = true, .firstBackward = true, .snake = true, .mirrorColumns = true},
    {.number = 322, .walk = kPaired, .firstPlace = 1, .columns = true, .snake = true, .mirrorColumns = true, .mirrorRows = true},
    {.number = 323, .walk = kPaired, .firstPlace = 1, .columns = true, .firstBackward = true, .snake = true, .mirrorColumns = true, .mirrorRows = true},
    {.number = 324, .walk = kPaired, .firstPlace = 0, .snake = true, .mirrorRows = true},
    {.number = 325, .walk = kPaired, .firstPlace = 0, .firstBackward = true, .snake = true, .mirrorRows = true},
    {.number = 326, .walk = kPaired, .firstPlace = 0, .snake = true, .mirrorColumns = true, .mirrorRows = true},
    {.number = 327, .walk = kPaired, .firstPlace = 0, .firstBackward = true, .snake = true, .mirrorColumns = true, .mirrorRows = true},
    {.number = 328, .walk = kDiagonal, .firstPlace = 0},
    {.number = 329, .walk = kDiagonal, .firstPlace = 0, .crossed = true},
    {.number = 340, .walk = kSpiral, .firstPlace = 1, .mirrorColumns = true, .region = kLeftHalf, .start = kTopLeft, .heading = kDown, .turn = kCounterClockwise},
    {.number = 341, .walk = kSpiral, .firstPlace = 1, .mirrorColumns = true, .region = kLeftHalf, .start = kBottomLeft, .heading = kUp, .turn = kClockwise},
    {.number = 342, .walk = kSpiral, .firstPlace = 1, .mirrorRows = true, .region = kTopHalf, .start = kTopLeft, .heading = kRight, .turn = kClockwise},
    {.number = 343, .walk = kSpiral, .firstPlace = 1, .mirrorRows = true, .region = kTopHalf, .start = kTopRight, .heading = kLeft, .turn = kCounterClockwise},
    {.number = 344, .walk = kSpiral, .firstPlace = 1, .mirrorColumns = true, .mirrorRows = true, .fourWay = true, .region = kQuadrant, .start = kTopLeft, .heading = kDown, .turn = kCounterClockwise},
    {.number = 345, .walk = kSpiral, .firstPlace = 1, .mirrorColumns = true, .mirrorRows = true, .fourWay = true, .region = kQuadrant, .start = kTopLeft, .heading = kRight, .turn = kClockwise},
    {.number = 350, .walk = kScan, .firstPlace = 1, .columns = true},
    {.number = 351, .walk = kScan, .firstPlace = 1, .columns = true, .lastLineFirst = true},
    {.number = 352, .walk = kScan, .firstPlace = 1},
    {.number = 353, .walk = kScan, .firstPlace = 1, .firstBackward = true},
    {.number = 409, .walk = kRandom, .firstPlace = 0},
    {.number = 410, .walk = kRandom, .firstPlace = 0, .freshSeed = true},
};
// clang-format on

const BlockOrder *FindOrder(int32_t number) {
    for (const BlockOrder &order : kOrders)
        if (order.number == number) return &order;
    return nullptr;
}

// ---- walking ---------------------------------------------------------------------

// What a walk hands its steps to, with the grid for the mirror copies.
struct Walker {
    int32_t cols, rows;
    BlockVisitor visit;
    void *context;

    BlockCell Mirror(BlockCell b, bool acrossColumns, bool acrossRows) const {
        return {acrossRows ? rows - 1 - b.r : b.r, acrossColumns ? cols - 1 - b.c : b.c};
    }
    bool One(BlockCell b) const {
        BlockStep step;
        step.cell[0] = b;
        step.count = 1;
        return visit(context, step);
    }
    // The block and its mirror copies: one copy across the columns, the rows
    // or the centre, or three copies with `fourWay` (in the order the steps
    // name them).
    bool WithMirrors(BlockCell b, bool acrossColumns, bool acrossRows, bool fourWay) const {
        BlockStep step;
        step.cell[step.count++] = b;
        if (fourWay) {
            step.cell[step.count++] = Mirror(b, true, true);
            step.cell[step.count++] = Mirror(b, true, false);
            step.cell[step.count++] = Mirror(b, false, true);
        } else if (acrossColumns || acrossRows) {
            step.cell[step.count++] = Mirror(b, acrossColumns, acrossRows);
        }
        return visit(context, step);
    }
};

// Lines of blocks (rows, or columns with `columns`) one after another; with
// `snake` every other line runs backward. `lines` limits how many lines are
// walked (the paired snakes walk half the grid); the partner copies go with
// each block.
bool WalkLines(const Walker &w, const BlockOrder &order, int32_t lines, bool paired) {
    const int32_t lineCount = order.columns ? w.cols : w.rows;
    const int32_t lineLength = order.columns ? w.rows : w.cols;
    for (int32_t i = 0; i < lines; ++i) {
        const int32_t line = order.lastLineFirst ? lineCount - 1 - i : i;
        const bool backward = order.firstBackward != (order.snake && i % 2 == 1);
        for (int32_t j = 0; j < lineLength; ++j) {
            const int32_t along = backward ? lineLength - 1 - j : j;
            const BlockCell b = order.columns ? BlockCell{along, line} : BlockCell{line, along};
            const bool go =
                paired ? w.WithMirrors(b, order.mirrorColumns, order.mirrorRows, false) : w.One(b);
            if (!go) return false;
        }
    }
    return true;
}

// The zig-zag scan: anti-diagonal d = r + c from the top-left corner; even
// diagonals run up and to the right, odd ones down and to the left, so each
// diagonal starts next to where the previous one ended.
bool WalkZigZag(const Walker &w, const BlockOrder &order) {
    const int64_t last = int64_t{w.rows} + w.cols - 2;
    for (int64_t d = 0; d <= last; ++d) {
        const int32_t rLow = static_cast<int32_t>(std::max<int64_t>(0, d - (w.cols - 1)));
        const int32_t rHigh = static_cast<int32_t>(std::min<int64_t>(d, w.rows - 1));
        for (int32_t i = 0; i <= rHigh - rLow; ++i) {
            const int32_t r = d % 2 == 0 ? rHigh - i : rLow + i;
            const BlockCell b{r, static_cast<int32_t>(d - r)};
            if (!w.One(w.Mirror(b, order.mirrorColumns, order.mirrorRows))) return false;
        }
    }
    return true;
}

struct Direction {
    int32_t dr, dc;
};
constexpr Direction DirectionOf(Heading h) {
    switch (h) {
        case kRight:
            return {0, 1};
        case kDown:
            return {1, 0};
        case kLeft:
            return {0, -1};
        case kUp:
            return {-1, 0};
    }
    return {0, 1};
}

// Inward along the border of a region that starts at the top-left block of
// the grid: walk straight on until the region's bound, then turn; the side
// just walked is used up, so the bound on that side moves in by one (the
// side on the left hand for clockwise turns, on the right hand otherwise).
// Every step reveals the block and its mirror copies.
bool WalkSpiral(const Walker &w, const BlockOrder &order) {
    int32_t left = 0, top = 0;
    int32_t right = w.cols - 1, bottom = w.rows - 1;
    if (order.region == kLeftHalf || order.region == kQuadrant) right = (w.cols - 1) / 2;
    if (order.region == kTopHalf || order.region == kQuadrant) bottom = (w.rows - 1) / 2;
    int32_t r = order.start == kBottomLeft || order.start == kBottomRight ? bottom : 0;
    int32_t c = order.start == kTopRight || order.start == kBottomRight ? right : 0;
    Direction d = DirectionOf(order.heading);
    const bool clockwise = order.turn == kClockwise;
    auto inside = [&](int32_t rr, int32_t cc) {
        return rr >= top && rr <= bottom && cc >= left && cc <= right;
    };
    int64_t remaining = (int64_t{right} + 1) * (int64_t{bottom} + 1);
    while (remaining-- > 0) {
        if (!w.WithMirrors({r, c}, order.mirrorColumns, order.mirrorRows, order.fourWay))
            return false;
        if (remaining == 0) break;
        if (!inside(r + d.dr, c + d.dc)) {
            // The used-up side: facing right it is the top (clockwise) or the
            // bottom, facing down the right or the left side, and so on.
            const bool usedSideIsOnLeft = clockwise;
            const Direction handward =
                usedSideIsOnLeft ? Direction{-d.dc, d.dr} : Direction{d.dc, -d.dr};
            if (handward.dr < 0) ++top;
            if (handward.dr > 0) --bottom;
            if (handward.dc < 0) ++left;
            if (handward.dc > 0) --right;
            d = clockwise ? Direction{d.dc, -d.dr} : Direction{-d.dc, d.dr};
            if (!inside(r + d.dr, c + d.dc)) break;
        }
        r += d.dr;
        c += d.dc;
    }
    return true;
}

// Two diagonal snakes at once: one starts at the lower-left end of the
// anti-diagonal through the middle of the grid and zig-zags along the
// anti-diagonals toward the top-left corner, the other is its image through
// the grid's centre and heads for the bottom-right corner. The walk ends
// when the first snake has left the top-left corner.
bool WalkDiagonalPair(const Walker &w, const BlockOrder &order) {
    const int32_t cols = w.cols, rows = w.rows;
    int32_t r, c;
    if (rows < cols) {
        r = rows - 1;
        const int64_t R = rows, C = cols;
        const bool rowsOddColsEven = ((R + 1) / 2) * (C / 2) * 4 == (R + 1) * C;
        c = rowsOddColsEven ? cols / 2 - rows / 2 - 1 : cols / 2 - rows / 2;
    } else {
        c = 0;
        const int64_t R = rows, C = cols;
        const bool bothOdd = ((C + 1) / 2) * ((R + 1) / 2) * 4 == (C + 1) * (R + 1);
        r = bothOdd ? cols / 2 + rows / 2 : cols / 2 - 1 + rows / 2;
    }
    int32_t dc = 1, dr = -1;
    auto inGrid = [&] { return r >= 0 && r < rows && c >= 0 && c < cols; };
    while (inGrid()) {
        const int32_t cm = cols - 1 - c, rm = rows - 1 - r;
        BlockStep step;
        step.count = 2;
        if (order.crossed) {
            step.cell[0] = {rm, c};
            step.cell[1] = {r, cm};
        } else {
            step.cell[0] = {r, c};
            step.cell[1] = {rm, cm};
        }
        if (!w.visit(w.context, step)) return false;
        c += dc;
        r += dr;
        if (inGrid()) continue;
        // Off the grid: turn back and step over to the next anti-diagonal.
        dc = -dc;
        dr = -dr;
        if (c < 0) {
            c += 1;
            r -= 2;
        } else if (r < 0) {
            r += 1;
            c -= 2;
        } else if (c < cols) {
            r -= 1;
        } else {
            c -= 1;
        }
    }
    return true;
}

// The register visits every value 1 .. size-1 once per cycle; the values up
// to total are the places, value v naming block v mod total.
bool WalkRandom(const Walker &w, uint32_t seed) {
    const int64_t total = int64_t{w.cols} * w.rows;
    const uint32_t mask = LfsrTaps(total);
    Rand_Seed(seed / 4 + 11);
    const uint32_t r1 = static_cast<uint32_t>(Rand_Next());
    const uint32_t r2 = static_cast<uint32_t>(Rand_Next());
    // A single block has no remainder to take: the register starts at 1.
    uint32_t state =
        total > 1 ? static_cast<uint32_t>(r1 % static_cast<uint64_t>(total - 1) + 1) : 1;
    for (int64_t place = 0; place < total; ++place) {
        // The register steps before every place, the first one included.
        do {
            state = LfsrStep(state, mask);
        } while (state > total);
        const int64_t index = (int64_t{state} + (r2 >> 16)) % total;
        if (!w.One({static_cast<int32_t>(index / w.cols), static_cast<int32_t>(index % w.cols)}))
            return false;
    }
    return true;
}

int32_t BitsFor(int64_t total) {
    int32_t bits = 5;
    while (bits < 32 && (int64_t{1} << bits) <= total)
        ++bits;
    return bits;
}

// The search of LfsrTaps for registers of `bits` bits.
uint32_t SearchTaps(int32_t bits) {
    const uint64_t size = uint64_t{1} << bits;
    for (uint64_t m = size - 1; m >= 1; --m) {
        const uint32_t mask = static_cast<uint32_t>(m);
        uint32_t state = 1;
        uint64_t steps = 0;
        // A mask without the top bit loses states and may never come back
        // to 1; no cycle is longer than size - 1 steps.
        do {
            state = LfsrStep(state, mask);
            ++steps;
        } while (state != 1 && steps < size);
        if (state == 1 && steps == size - 1) return mask;
    }
    return static_cast<uint32_t>(size - 1);
}

// ---- levels and the map -------------------------------------------------------

// Saturating conversion of a count computed in double (NaN counts as 0).
int64_t SaturatingCount(double v) {
    constexpr double kLimit = 4611686018427387904.0;  // 2^62
    if (!(v == v)) return 0;
    if (v >= kLimit) return int64_t{1} << 62;
    if (v <= -kLimit) return -(int64_t{1} << 62);
    return static_cast<int64_t>(v);
}

struct OrderFill {
    uint8_t *map;
    uint8_t *visited;
    int32_t cols;
    int64_t n, place;  // the places to fill; the next place number
    double head, spread;
    int firstPlace;
};

// Every block of a step takes the level of the step's place; the place moves
// on by the number of blocks the step reveals for the first time (a block
// named twice, or already revealed, keeps its first level).
bool FillStep(void *context, const BlockStep &step) {
    OrderFill &f = *static_cast<OrderFill *>(context);
    if (f.place >= f.n) return false;
    const int32_t level = BlockLevel(f.place + f.firstPlace, f.head, f.spread);
    int64_t revealed = 0;
    for (int i = 0; i < step.count; ++i) {
        const int64_t index = int64_t{step.cell[i].r} * f.cols + step.cell[i].c;
        if (f.visited[index]) continue;
        f.visited[index] = 1;
        f.map[index] = static_cast<uint8_t>(level);
        ++revealed;
    }
    f.place += revealed;
    return f.place < f.n;
}

thread_local uint32_t keptSeed = 0;

// ---- one row ------------------------------------------------------------------

bool Overlaps(const Pixel *p, const Pixel *q, int32_t width) {
    std::less<const Pixel *> before;
    return before(p, q + width) && before(q, p + width);
}

float UnitClamp(double v) {
    const float f = static_cast<float>(v);
    return f > 0 ? (f < 1 ? f : 1) : 0;
}

// Single precision throughout, as the weights are floats: per channel
// wA*A + wB*B + wC*C, truncated and clamped to 0..255.
void MixBlockReference(const Pixel *a, const Pixel *b, Pixel *out, int64_t count,
                       const BlockMix &w) {
    for (int64_t x = 0; x < count; ++x) {
        const Pixel pa = a[x], pb = b[x];
        out[x] = PackPixel(
            w.alpha, static_cast<int32_t>(w.a * RedOf(pa) + w.b * RedOf(pb) + w.c * w.red),
            static_cast<int32_t>(w.a * GreenOf(pa) + w.b * GreenOf(pb) + w.c * w.green),
            static_cast<int32_t>(w.a * BlueOf(pa) + w.b * BlueOf(pb) + w.c * w.blue));
    }
}

#if defined(__SSE2__)

// Four pixels at a time with the same single-precision operations in the
// same order. The sums lie well inside 16 bits, so the saturating packs are
// the clamp to 0..255.
void MixBlockFast(const Pixel *a, const Pixel *b, Pixel *out, int64_t count, const BlockMix &w) {
    const __m128 wa = _mm_set1_ps(w.a), wb = _mm_set1_ps(w.b), wc = _mm_set1_ps(w.c);
    const __m128 colour[3] = {_mm_set1_ps(w.red), _mm_set1_ps(w.green), _mm_set1_ps(w.blue)};
    const __m128i alpha = _mm_set1_epi32(w.alpha), byte = _mm_set1_epi32(0xFF);
    int64_t x = 0;
    for (; x + 4 <= count; x += 4) {
        const __m128i pa = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + x));
        const __m128i pb = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + x));
        auto channel = [&](int k) {
            const int shift = 8 * (k + 1);
            const __m128 ca = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(pa, shift), byte));
            const __m128 cb = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(pb, shift), byte));
            const __m128 sum = _mm_add_ps(_mm_add_ps(_mm_mul_ps(wa, ca), _mm_mul_ps(wb, cb)),
                                          _mm_mul_ps(wc, colour[k]));
            return _mm_cvttps_epi32(sum);
        };
        const __m128i alphaRed = _mm_packs_epi32(alpha, channel(0));
        const __m128i greenBlue = _mm_packs_epi32(channel(1), channel(2));
        const __m128i words = _mm_packus_epi16(alphaRed, greenBlue);
        // words holds four alpha bytes, then four red, four green, four blue.
        const __m128i ar = _mm_unpacklo_epi8(words, _mm_srli_si128(words, 4));
        const __m128i gb = _mm_unpacklo_epi8(_mm_srli_si128(words, 8), _mm_srli_si128(words, 12));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x), _mm_unpacklo_epi16(ar, gb));
    }
    MixBlockReference(a + x, b + x, out + x, count - x, w);
}

#else

constexpr BlockMixRow MixBlockFast = MixBlockReference;

#endif

#if defined(__x86_64__)
KVE_TARGET_AVX2_BEGIN
namespace avx2 {

// MixBlockFast eight pixels at a time: the same single-precision operations
// in the same order; the packs and byte unpacks work within 128-bit halves,
// so each half places its four pixels as the four-wide row does.
void MixBlock(const Pixel *a, const Pixel *b, Pixel *out, int64_t count, const BlockMix &w) {
    const __m256 wa = _mm256_set1_ps(w.a), wb = _mm256_set1_ps(w.b), wc = _mm256_set1_ps(w.c);
    const __m256 colour[3] = {_mm256_set1_ps(w.red), _mm256_set1_ps(w.green),
                              _mm256_set1_ps(w.blue)};
    const __m256i alpha = _mm256_set1_epi32(w.alpha), byte = _mm256_set1_epi32(0xFF);
    int64_t x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m256i pa = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(a + x));
        const __m256i pb = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b + x));
        auto channel = [&](int k) {
            const int shift = 8 * (k + 1);
            const __m256 ca =
                _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(pa, shift), byte));
            const __m256 cb =
                _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(pb, shift), byte));
            const __m256 sum =
                _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(wa, ca), _mm256_mul_ps(wb, cb)),
                              _mm256_mul_ps(wc, colour[k]));
            return _mm256_cvttps_epi32(sum);
        };
        const __m256i alphaRed = _mm256_packs_epi32(alpha, channel(0));
        const __m256i greenBlue = _mm256_packs_epi32(channel(1), channel(2));
        const __m256i words = _mm256_packus_epi16(alphaRed, greenBlue);
        const __m256i ar = _mm256_unpacklo_epi8(words, _mm256_srli_si256(words, 4));
        const __m256i gb =
            _mm256_unpacklo_epi8(_mm256_srli_si256(words, 8), _mm256_srli_si256(words, 12));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + x), _mm256_unpacklo_epi16(ar, gb));
    }
    MixBlockFast(a + x, b + x, out + x, count - x, w);
}

}  // namespace avx2
KVE_TARGET_END

constexpr CpuRows<BlockMixRow> kBlockMixRows = {
    {MixBlockReference, MixBlockFast, avx2::MixBlock, avx2::MixBlock}};
#else
constexpr CpuRows<BlockMixRow> kBlockMixRows =
    Sse2Rows<BlockMixRow>(MixBlockReference, MixBlockFast);
#endif

bool SetUpBlockWipe(const ArgBlock &in, int32_t W, int32_t H, const BlockWipeScratch &s) {
    const int32_t number = in.ints[0];
    const BlockOrder *order = FindOrder(number);
    if (!order) {
        Diag_Message("<Block_Wipe> unknown SMPTE number");
        return false;
    }
    BlockWipeState &state = *s.state;
    state.grid = BlockGridOf(W, H, in.sizes[0][0], in.sizes[0][1]);
    state.border = in.reals[0];
    state.softness = std::max(in.reals[4], 0.00001);
    state.band = state.border + state.softness;
    const int64_t total = state.grid.total;
    const double progress = in.reals[5];

    // The head: how many places of the order have started. With a band of a
    // whole grid or more a block needs that many further places to finish.
    OrderFill fill;
    fill.map = s.map;
    fill.visited = s.visited;
    fill.cols = state.grid.cols;
    fill.head = std::trunc(Ease(progress) * (state.band + 1) * static_cast<double>(total));
    fill.spread = std::trunc(state.band) * static_cast<double>(total);
    fill.n = std::min(total, SaturatingCount(fill.head));
    fill.place = 0;
    fill.firstPlace = order->firstPlace;
    std::memset(s.map, 0, static_cast<size_t>(total));
    std::memset(s.visited, 0, static_cast<size_t>(total));

    if (order->freshSeed) keptSeed = static_cast<uint32_t>(Rand_Next());
    if (fill.n > 0)
        WalkBlockOrder(number, state.grid.cols, state.grid.rows, keptSeed, FillStep, &fill);
    return true;
}

}  // namespace

// The weights are linear in the level: no easing inside a block.
BlockMix BlockMixOf(int32_t level, double border, double softness, Pixel colour) {
    const double g = (border + softness) * level;
    BlockMix w;
    w.a = UnitClamp((g - 255 * border) / (255 * softness));
    w.b = UnitClamp(1 - g / (255 * softness));
    w.c = 1 - w.a - w.b;
    w.alpha = static_cast<int32_t>(255 * w.a + 0.5);
    w.red = static_cast<float>(RedOf(colour));
    w.green = static_cast<float>(GreenOf(colour));
    w.blue = static_cast<float>(BlueOf(colour));
    return w;
}

BlockMixKernels BlockMixRows() {
    return {MixBlockReference, kBlockMixRows};
}

BlockGrid BlockGridOf(int32_t width, int32_t height, int32_t bw, int32_t bh) {
    BlockGrid g;
    g.bw = std::max(bw, 1);
    g.bh = std::max(bh, 1);
    if (width <= 0 || height <= 0) return g;
    g.cols = (width - 1) / g.bw + 1;
    g.rows = (height - 1) / g.bh + 1;
    g.total = int64_t{g.cols} * g.rows;
    return g;
}

bool WalkBlockOrder(int32_t number, int32_t cols, int32_t rows, uint32_t seed, BlockVisitor visit,
                    void *context) {
    const BlockOrder *order = FindOrder(number);
    if (!order) return false;
    if (cols <= 0 || rows <= 0) return true;
    const Walker w{cols, rows, visit, context};
    switch (order->walk) {
        case kScan:
            WalkLines(w, *order, order->columns ? cols : rows, false);
            break;
        case kZigZag:
            WalkZigZag(w, *order);
            break;
        case kSpiral:
            WalkSpiral(w, *order);
            break;
        case kPaired: {
            // The snake covers the lines up to the middle one; its mirror the rest.
            const int32_t lines = order->columns ? cols : rows;
            WalkLines(w, *order, lines / 2 + lines % 2, true);
            break;
        }
        case kDiagonal:
            WalkDiagonalPair(w, *order);
            break;
        case kRandom:
            WalkRandom(w, seed);
            break;
    }
    return true;
}

int BlockFirstPlace(int32_t number) {
    const BlockOrder *order = FindOrder(number);
    return order ? order->firstPlace : -1;
}

int32_t BlockLevel(int64_t place, double head, double spread) {
    const double ahead = head - static_cast<double>(place);
    if (spread <= 0 || ahead > spread) return 255;
    const double level = ahead * 255.0 / spread;
    if (!(level > 0)) return 0;
    return level >= 255 ? 255 : static_cast<int32_t>(level);
}

uint32_t LfsrTaps(int64_t total) {
    // The mask depends only on the register's width; each thread keeps the
    // masks it has searched for (0: not yet).
    thread_local std::array<uint32_t, 33> masks{};
    const int32_t bits = BitsFor(total);
    uint32_t &mask = masks[static_cast<size_t>(bits)];
    if (mask == 0) mask = SearchTaps(bits);
    return mask;
}

uint32_t KeptBlockSeed() {
    return keptSeed;
}

std::span<const int32_t> BlockWipeNumbers() {
    static const auto numbers = [] {
        std::array<int32_t, std::size(kOrders)> list{};
        for (size_t i = 0; i < list.size(); ++i)
            list[i] = kOrders[i].number;
        return list;
    }();
    return numbers;
}

BlockWipeScratch LayoutBlockWipeScratch(ScratchPlan &plan, const ArgBlock &in,
                                        const ArgBlock &out) {
    const int32_t W = out.imageWidth[0], H = out.imageHeight[0];
    const BlockGrid grid = BlockGridOf(W, H, in.sizes[0][0], in.sizes[0][1]);
    const size_t blocks = static_cast<size_t>(std::max<int64_t>(grid.total, 1));
    BlockWipeScratch s;
    s.state = plan.Take<BlockWipeState>(1);
    s.map = plan.Take<uint8_t>(blocks);
    s.visited = plan.Take<uint8_t>(blocks);
    s.rowA = plan.Take<Pixel>(static_cast<size_t>(std::max(W, 1)));
    s.rowB = plan.Take<Pixel>(static_cast<size_t>(std::max(W, 1)));
    return s;
}

// One output row of a block wipe: B, with A over the finished blocks and the
// blocks in transition mixed.
KVE_LINE_OP(BlockWipe) {
    const int32_t W = out.imageWidth[0], H = out.imageHeight[0];
    if (W <= 0 || H <= 0 || y < 0 || y >= H) return;
    ScratchPlan plan(JobScratch(in));
    const BlockWipeScratch s = LayoutBlockWipeScratch(plan, in, out);
    BlockWipeState &state = *s.state;
    if (first) state.ready = SetUpBlockWipe(in, W, H, s);
    if (!state.ready) return;

    const size_t rowBytes = static_cast<size_t>(W) * sizeof(Pixel);
    const Pixel *a = inLines[0];
    const Pixel *b = inLines[1];
    Pixel *output = outLines[0];
    const double progress = in.reals[5];
    if (progress >= 1 || progress <= 0) {
        const Pixel *source = progress >= 1 ? a : b;
        if (source != output) std::memmove(output, source, rowBytes);
        return;
    }
    // Every stretch of the row is written once, from A, from B or from both;
    // a source that shares pixels with the output, other than being the very
    // same row, is read from a copy.
    if (a != output && Overlaps(a, output, W)) {
        std::memcpy(s.rowA, a, rowBytes);
        a = s.rowA;
    }
    if (b != output && Overlaps(b, output, W)) {
        std::memcpy(s.rowB, b, rowBytes);
        b = s.rowB;
    }

    const BlockGrid &g = state.grid;
    const uint8_t *levels = s.map + static_cast<int64_t>(y / g.bh) * g.cols;
    int32_t c = 0;
    while (c < g.cols) {
        const int32_t level = levels[c];
        // A run of blocks with the same level is one stretch of the row.
        int32_t end = c + 1;
        while (end < g.cols && levels[end] == level)
            ++end;
        const int64_t from = int64_t{c} * g.bw;
        const int64_t to = std::min<int64_t>(int64_t{end} * g.bw, W);
        const size_t bytes = static_cast<size_t>(to - from) * sizeof(Pixel);
        if (level == 0) {
            if (b != output) std::memcpy(output + from, b + from, bytes);
        } else if (level == 255) {
            if (a != output) std::memcpy(output + from, a + from, bytes);
        } else {
            const BlockMix mix = BlockMixOf(level, state.border, state.softness, in.colors[0]);
            kBlockMixRows.Pick()(a + from, b + from, output + from, to - from, mix);
        }
        c = end;
    }
}

}  // namespace kve
