// The block wipes: the frame cut into a grid of blocks that switch from the
// second frame B to the first frame A one after another, in an order given by
// the wipe number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/cpu.h"
#include "engine/job.h"
#include "engine/scratch.h"

namespace kve {

KVE_LINE_OP(BlockWipe);

// The block grid of a frame: blocks of bw x bh pixels (each at least 1), the
// last column and row narrower where the frame is not a multiple of them.
struct BlockGrid {
    int32_t bw = 1, bh = 1;
    int32_t cols = 0, rows = 0;
    int64_t total = 0;
};
BlockGrid BlockGridOf(int32_t width, int32_t height, int32_t bw, int32_t bh);

// One step of a visiting order: up to four blocks (row, column) revealed
// together. The same block may stand twice in a step.
struct BlockCell {
    int32_t r, c;
};
struct BlockStep {
    BlockCell cell[4];
    int count = 0;
};

// Receives the steps of an order; returns false to end the walk.
using BlockVisitor = bool (*)(void *context, const BlockStep &step);

// Walks the visiting order of `number` over a cols x rows grid, calling
// `visit` once per step, until the order ends or the visitor stops it.
// `seed` is the seed of the random orders. Returns false for a number that
// has no order. Every block a step names lies inside the grid.
bool WalkBlockOrder(int32_t number, int32_t cols, int32_t rows, uint32_t seed, BlockVisitor visit,
                    void *context);

// Where an order's first place is counted from (0 or 1); -1 for an unknown number.
int BlockFirstPlace(int32_t number);

// The level (0 = B, 255 = A) of the block at `place` when the head of the
// progression has reached `head`, with a soft band `spread` places long.
// Head and spread are whole numbers kept in double: with a wide border on
// many blocks they pass any integer type.
int32_t BlockLevel(int64_t place, double head, double spread);

// The feedback mask of the random orders' shift register for `total` blocks:
// the largest mask whose register runs through every non-zero value below
// the smallest power of two above total (at least 32). Cached per thread.
uint32_t LfsrTaps(int64_t total);
// One step of that register.
inline uint32_t LfsrStep(uint32_t state, uint32_t mask) {
    return (state >> 1) ^ ((state & 1u) ? mask : 0u);
}

// The seed 409 reuses: this thread's, 0 until a 410 on the thread draws one.
uint32_t KeptBlockSeed();

// Every block wipe number, ascending.
std::span<const int32_t> BlockWipeNumbers();

// ---- mixing a block in transition -----------------------------------------------

// The weights of A, B and the border colour for a block's level, constant
// over the block, and the alpha they give.
struct BlockMix {
    float a = 0, b = 0, c = 0;
    int32_t alpha = 0;
    float red = 0, green = 0, blue = 0;  // the border colour
};
BlockMix BlockMixOf(int32_t level, double border, double softness, Pixel colour);

// Mixes `count` pixels of A and B into out: the plain per-pixel reference and
// the variant the effect runs, which must give identical words.
using BlockMixRow = void (*)(const Pixel *a, const Pixel *b, Pixel *out, int64_t count,
                             const BlockMix &mix);
struct BlockMixKernels {
    BlockMixRow reference;
    CpuRows<BlockMixRow> rows;
};
BlockMixKernels BlockMixRows();

// ---- per-call storage ----------------------------------------------------------

// Built on the first row, read on every row of the same call.
struct BlockWipeState {
    bool ready = false;  // the map is built and rows may be written
    BlockGrid grid;
    double border = 0, softness = 0, band = 0;
};

struct BlockWipeScratch {
    BlockWipeState *state = nullptr;
    uint8_t *map = nullptr;      // one level per block, row-major
    uint8_t *visited = nullptr;  // one flag per block, while the order is walked
    Pixel *rowA = nullptr;       // copies of A's and B's rows when the output
    Pixel *rowB = nullptr;       // overlaps them without being the same row
};
BlockWipeScratch LayoutBlockWipeScratch(ScratchPlan &plan, const ArgBlock &in, const ArgBlock &out);

}  // namespace kve
