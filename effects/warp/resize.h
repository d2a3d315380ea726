// Resize and ZoomPan: separable scaling and panning of a frame, in three
// resampling modes (nearest, area-weighted linear, filtered with contribution
// lists). The pieces are exposed for the tests, which hold each fast row
// against its plain reference.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "engine/cpu.h"
#include "engine/job.h"

namespace kve {

// The geometry of one call: sizes and the source positions of the first and
// last output pixel on each axis. xStep and yStep are the source pixels per
// output pixel as the zoom matrix gives them; they stand in for the span
// formulas on an axis of one output pixel, where those divide by zero.
struct ZoomState {
    int32_t dstWidth = 0, dstHeight = 0, srcWidth = 0, srcHeight = 0;
    double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    double xStep = 0, yStep = 0;
};

// Fills the sizes and positions from the parsed zoom, pan and frame sizes.
void ZoomSetup(ZoomState &state, const ArgBlock &in, const ArgBlock &out);

// Keeps the output size the host asked for (ZoomPan draws at that size).
unsigned ZoomPanPrepare(const ImageList &images, const CoordTexts &coords, ArgBlock &in,
                        const OutputList &outputs, EffectJob &job);

// Resamples the whole frame itself; the line op it is handed is never called.
void ResizeDriver(LineOp lineOp, const ImageList &images, ArgBlock &in, const OutputList &outputs,
                  ArgBlock &out);

// Storage that fails softly: null when `count` elements cannot be allocated.
template <class T>
std::unique_ptr<T[]> TryAllocate(uint64_t count);

// ---- Nearest ---------------------------------------------------------------

// Source column of each output column; columns first..last are inside the
// source, the rest of the row is 0. first < 0 means an empty table.
struct ColumnTable {
    std::unique_ptr<int32_t[]> column;
    int32_t first = -1, last = -1;
    // 1 or 2 when the columns first..last step by exactly that many source
    // pixels (a copy or a halving), else 0.
    int32_t stride = 0;
};

// One output row from source row `srcRow` (null: outside the source): 0
// outside the table's columns, copies inside.
void NearestRow(const ColumnTable &table, const Pixel *srcRow, Pixel *dst, int32_t n);

// Builds the table over `n` output columns starting at source position a with
// `step` source pixels per output pixel (negative: mirrored). False when the
// table cannot be allocated.
bool ColumnTableMake(ColumnTable &table, int32_t n, int32_t srcLen, double a, double b,
                     double step);

// ---- Linear ----------------------------------------------------------------

// One step of the area-weighted walk: value = l src[c] + rest src[c + 1],
// added to the sum times `weight`; src[k] is 0 outside the line.
struct LinearTerm {
    int32_t c;
    double l, rest, weight;
};

// One output pixel: terms [first, first + count) summed in order, times the
// plan's scale, truncated; or 0 when the walk ended it outside the line.
struct LinearOutput {
    int32_t first, count;
    int32_t zero;
};

// The walk of one axis, recorded once and replayed for every line.
struct LinearPlan {
    std::unique_ptr<LinearOutput[]> outputs;  // in output order
    std::unique_ptr<LinearTerm[]> terms;
    int32_t n = 0, len = 0;
    double scale = 0;  // output pixels per source pixel
    // k when every output is a plain sum of source pixels times 2^-k (a
    // halving at zoom 1, say), else -1; such plans run on integers.
    int32_t boxShift = -1;
    // With a box shift: the first source pixel when output k sums pixels
    // pairStart + 2k and pairStart + 2k + 1, else -1.
    int32_t pairStart = -1;
    // m when every output interpolates two neighbours with weights that are
    // multiples of 2^-m and comes back unscaled (doubling at zoom 1, say),
    // else -1; such plans run on integers too.
    int32_t lerpShift = -1;
    std::unique_ptr<int32_t[]> lerpPixel;  // with a lerp shift: c of each output
    std::unique_ptr<int16_t[]> lerpL;      // and its L, or -1 for an output of 0
};

// Records the walk for n outputs over a line of `len` pixels from position a
// to b (step: source pixels per output, used when n is 1 or a equals b).
// False when the plan cannot be allocated.
bool LinearPlanMake(LinearPlan &plan, int32_t n, int32_t len, double a, double b, double step);

// Plain reference: one line through the plan.
void LinearResample(const LinearPlan &plan, const Pixel *src, Pixel *dst);

// The integer rows of a plan with a box shift, giving LinearResample's and
// LinearDown's words.
void LinearBoxAcross(const LinearPlan &plan, const Pixel *src, Pixel *dst);
void LinearBoxDown(const LinearPlan &plan, int32_t y, const Pixel *const *rows, int32_t firstRow,
                   int32_t width, Pixel *dst);
// The same for a plan with a lerp shift.
void LinearLerpAcross(const LinearPlan &plan, const Pixel *src, Pixel *dst);
void LinearLerpDown(const LinearPlan &plan, int32_t y, const Pixel *const *rows, int32_t firstRow,
                    int32_t rowCount, const Pixel *zeroRow, int32_t width, Pixel *dst);

// ---- Filtered --------------------------------------------------------------

struct ClistTap {
    int32_t index;  // source position, always inside the line
    double weight;
};
struct Clist {
    int64_t first;  // into the tap block
    int32_t count;
};

// The contribution lists of one axis, taps in ascending source order. Only
// taps inside the source with a weight other than 0 are kept: the others
// would be skipped when applied or add nothing.
struct ClistSet {
    std::unique_ptr<Clist[]> lists;
    std::unique_ptr<ClistTap[]> taps;
    int32_t length = 0;
};

// The lists of `dstLen` outputs from position a to b over a line of `srcLen`
// pixels with kernel `filter` of the filter table (step: source pixels per
// output, used when dstLen is 1 or a equals b). A mirrored axis (b < a) takes
// the step's magnitude. False (after the diagnostic, with nothing kept) when
// the lists cannot be allocated.
bool ClistMake(ClistSet &set, int filter, int32_t srcLen, int32_t dstLen, double a, double b,
               double step);

// Plain reference: n outputs of one line.
void ApplyClist(const ClistSet &set, const Pixel *src, Pixel *dst, int32_t n);

// The fast rows the driver uses, each giving the same words as its reference.
// `channels` holds the source line as four doubles per pixel (alpha, red,
// green, blue), with one zero pixel before it and two after it.
void ExpandChannels(const Pixel *src, int32_t len, double *channels);
void ApplyClistFast(const ClistSet &set, const double *channels, Pixel *dst, int32_t n);
void LinearResampleFast(const LinearPlan &plan, const double *channels, Pixel *dst);
// Output row y of the vertical pass from the intermediate rows: rows[k -
// firstRow] is the row made from source row k; the lists name only rows that
// `rows` holds. `width` pixels.
void ApplyClistDown(const Clist &list, const ClistTap *taps, const Pixel *const *rows,
                    int32_t firstRow, int32_t width, Pixel *dst);
void ApplyClistDownFast(const Clist &list, const ClistTap *taps, const Pixel *const *rows,
                        int32_t firstRow, int32_t width, Pixel *dst);
// Output y of the linear vertical pass; rows outside firstRow .. firstRow +
// rowCount - 1 read as `zeroRow`.
void LinearDown(const LinearPlan &plan, int32_t y, const Pixel *const *rows, int32_t firstRow,
                int32_t rowCount, const Pixel *zeroRow, int32_t width, Pixel *dst);
void LinearDownFast(const LinearPlan &plan, int32_t y, const Pixel *const *rows, int32_t firstRow,
                    int32_t rowCount, const Pixel *zeroRow, int32_t width, Pixel *dst);

// The fast rows of one instruction set, each giving its reference's words.
struct ResizeRows {
    void (*expand)(const Pixel *src, int32_t len, double *channels);
    void (*clistAcross)(const ClistSet &set, const double *channels, Pixel *dst, int32_t n);
    void (*clistDown)(const Clist &list, const ClistTap *taps, const Pixel *const *rows,
                      int32_t firstRow, int32_t width, Pixel *dst);
    void (*linearAcross)(const LinearPlan &plan, const double *channels, Pixel *dst);
    void (*linearDown)(const LinearPlan &plan, int32_t y, const Pixel *const *rows,
                       int32_t firstRow, int32_t rowCount, const Pixel *zeroRow, int32_t width,
                       Pixel *dst);
};

// The rows a CPU level runs (tests check every level the machine has).
const ResizeRows &ResizeRowsAt(CpuLevel level);
// The rows of the active CPU level.
const ResizeRows &ResizeRowsBest();

// A channel sum to an integer, toward zero; sums far outside 0..255 only
// ever clamp, so they are pinned first and NaN counts as negative.
inline int32_t TruncChannel(double v) {
    v = v > -1e9 ? v : -1e9;
    v = v < 1e9 ? v : 1e9;
    return static_cast<int32_t>(v);
}

template <class T>
std::unique_ptr<T[]> TryAllocate(uint64_t count) {
    constexpr uint64_t kMaxBytes = uint64_t{1} << 46;
    if (count > kMaxBytes / sizeof(T)) return nullptr;
    return std::unique_ptr<T[]>(new (std::nothrow) T[count ? count : 1]);
}

}  // namespace kve
