// The Wipe transition and its pattern generators.
//
// A wipe divides the output between the first frame A and the second frame B
// by a key per pixel (1 = A, 0 = B). A generator describes each row as a span
// list (soft spans whose pixels are mixed by their keys; the pixels between
// them are hard runs copied whole from A or B) plus the keys inside the spans.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/cpu.h"
#include "engine/job.h"
#include "engine/scratch.h"

namespace kve {

KVE_LINE_OP(WipeLineOp);

// Per-call storage of the Wipe effect, in bytes (the effect table's scratch function).
size_t WipeScratchBytes(const ArgBlock &in, const ArgBlock &out);

// Every wipe number the library draws, ascending (for listings and galleries).
std::span<const int32_t> WipeNumbers();

// ---- span lists ------------------------------------------------------------

constexpr int kMaxSoftSpans = 16;
constexpr int kSpanEntries = 2 * kMaxSoftSpans;  // s0, e0, s1, e1, ...

// ---- per-call storage ------------------------------------------------------

struct WipeEdgeState;    // the edge generator's pattern state (effects/wipe/patterns.h)
struct WipeCircleState;  // the circle generator's shape state (effects/wipe/circles.h)

// The arrays a Wipe call works in, carved from the job's scratch block. The
// key row and the copy of A's row are as wide as the output row.
struct WipeScratch {
    WipeEdgeState *edges = nullptr;
    WipeCircleState *circles = nullptr;
    int32_t *spans = nullptr;  // kSpanEntries entries
    float *keys = nullptr;     // one key per pixel of the row, and one more
    Pixel *rowA = nullptr;     // copy of A's row when the output overlaps it
};
WipeScratch LayoutWipeScratch(ScratchPlan &plan, int32_t width);

// ---- generators ------------------------------------------------------------

// What a generator is told about the row it describes.
struct WipeRowArgs {
    int first = 0;  // 1 on row 0: build the pattern state
    int32_t number = 0;
    int32_t width = 0, height = 0, y = 0;
    double progress = 0, edgeWidth = 0;  // edgeWidth = border + softness, a fraction of the width
    int32_t xOffset = 0, yOffset = 0;    // pattern centre minus frame centre, in pixels
    double rotation = 0, xScale = 1, yScale = 1;
};

// Writes the row's span list and the keys inside its spans. Returns 0, or
// non-zero for a number the generator does not draw.
using WipeGenerator = int (*)(const WipeRowArgs &row, const WipeScratch &scratch);

// The edge-based generator: bars, boxes, diagonals, vees, zig-zags, irises,
// polygons, stars, clocks, fans and sweeps.
int WipeGenerate(const WipeRowArgs &row, const WipeScratch &scratch);

// The round shapes: circle, ellipses, eyes, rounded rectangles and the two
// shapes of circles and straight edges (numbers 119-125, 130, 131).
int CircleWipe(const WipeRowArgs &row, const WipeScratch &scratch);

// ---- composition -----------------------------------------------------------

// The smooth step of every wipe: 0 below 0, 2t^2 up to 0.5, 1 - 2(1-t)^2 up
// to 1, then 1.
double Ease(double t);

struct BorderWeightSet {
    double a, b, c;  // weights of A, B and the border colour; they add up to 1
};
// Where a key lies across the band of width border + softness: B's soft
// fall-off, the border colour, then A's soft rise.
BorderWeightSet BorderWeights(float key, double border, double softness);

struct WipeMix {
    double border = 0, softness = 0;  // already clamped (softness >= one pixel, border >= 0)
    Pixel borderColour = 0;
};
// Writes one output row from a span list and its keys. `a` must not overlap `out`
// unless it is the very same row.
void ComposeWipeRow(const int32_t *spans, const float *keys, const Pixel *a, const Pixel *b,
                    Pixel *out, int32_t width, const WipeMix &mix);

// The soft mix of a row with border 0 (keys[x] mixes a[x] and b[x] into
// out[x]): the plain per-pixel reference and the rows per CPU level, which
// must give identical words.
using WipeMixRow = void (*)(const float *keys, const Pixel *a, const Pixel *b, Pixel *out,
                            int32_t count);
struct WipeMixKernels {
    WipeMixRow reference;
    CpuRows<WipeMixRow> rows;
};
WipeMixKernels WipeMixRows();

}  // namespace kve
