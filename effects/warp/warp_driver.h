// The warp driver and what every warp shares: the source frames seen through
// scan caches, the per-call warp state, the mapping-function contract and the
// per-kind record that turns one mapping into a warp effect.
//
// Warps are inverse mappings: for each output pixel a mapping function names
// the source position it comes from, and a sampler (chosen by the quality
// parameter) reads the source there. A warp kind is one record: a function
// that reads the command's parameters into the state, and a mapping function.
// Its effect row runs WarpDriver with WarpLineOp<its record> and WarpScratch.
//
// Unit coordinates: x from -1 at the left edge to +1 at the right edge, y up,
// the frame centre at (0, 0), one unit = half the frame width on both axes.
// Pixel x covers [x, x + 1): there is no half-pixel offset.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "effects/warp/matrix.h"
#include "engine/job.h"

namespace kve {

// Kind codes of the warps (Resize and ZoomPan name Xform's).
enum WarpKind : int32_t {
    kWarpXform = 0,
    kWarpX4Corner = 1,  // also ResizeX4Corner
    kWarpBubble = 2,
    kWarpMirage = 3,
    kWarpVortex = 4,
    kWarpTurbulence = 5,
    kWarpWaves = 6,
    kWarpDroplet = 7,
    kWarpLumamap = 8,
    kWarpRipple = 9,
    kWarpPinch = 10,
    kWarpSrt = 11,
    kWarpTilt = 12,
    kWarpShear = 13,
    kWarpKscope = 14,
};

// The quality parameter selects the sampler; any other value is nearest.
enum WarpQuality : int32_t {
    kQualityBlank = -1,  // transparent black
    kQualityEwa = 1,     // elliptical footprint from each pixel's Jacobian
    kQualityAffine = 2,  // one footprint for the whole call
};

// A source frame as the samplers see it. All inputs of a call share one size.
struct ScanCache {
    const Pixel *frame = nullptr;
    int32_t width = 0, height = 0;
};

// Row `row` of the source. A row outside the frame is a caller's fault: it is
// reported ("<ScanCache_GetLine>: Illegal row access") and the nearest row served.
const Pixel *ScanCache_GetLine(const ScanCache &cache, int64_t row);

// The caches of one call, null-terminated, as the driver hands them to the line op.
using ScanCaches = std::array<const ScanCache *, kMaxImages + 1>;

struct WarpState;

// Maps the n output-pixel positions in `src` to source-pixel positions in
// `pts` (the two may be the same array). With `withJacobian` the array holds
// 3n points and also receives pts[n + i] = (dx/du, dx/dv) and pts[2n + i] =
// (dy/du, dy/dv): source x and y against output column u and row v.
// JacobianPrepare and JacobianFinish give the finite-difference form.
using MapFn = void (*)(WarpState &state, Vec2 *pts, const Vec2 *src, int n, bool withJacobian);

// A mapping's parameters: the matrix of a matrix kind (after set-up it maps
// output pixels straight to source pixels), or values laid out per kind.
// Everything here lives for one call, so a kind may also keep remembered
// values (a noise cache) in it.
struct WarpParams {
    Matrix3 matrix;
    std::array<double, 32> values;
    std::array<int32_t, 8> ints;
};

// One call's warp state, set up on the first row and read on every row.
struct WarpState {
    int32_t quality;  // WarpQuality
    double softness;  // the last real parameter of every warp command
    int32_t tiling;   // 0 transparent outside, 1 mirrored repeats, other repeats
    int32_t srcWidth, srcHeight, dstWidth, dstHeight;
    Matrix3 toUnit;   // output pixels to unit coordinates
    Matrix3 toPixel;  // unit coordinates to source pixels
    MapFn map;
    const ArgBlock *args;
    ScanCaches caches;  // slot 1 is Lumamap's luminance image
    WarpParams params;
};

// Reads a kind's parameters into state.params (a matrix kind writes its
// effect matrix in unit coordinates into params.matrix). False for
// degenerate parameters, which blank the whole output. Sizes, quality,
// softness, tiling, toUnit and toPixel are already set when it runs.
using WarpReadFn = bool (*)(WarpState &state, const ArgBlock &in);

// How a matrix kind trades the EWA sampler for the affine one.
enum class WarpMatrixRule : int32_t {
    kNotMatrix,                // a closed-form mapping: quality kept
    kAffineUnlessPerspective,  // quality 1 becomes 2 when the matrix has no perspective
    kAlwaysAffine,             // quality 1 always becomes 2
    kKeepQuality,              // a matrix kind that keeps quality 1
};

struct WarpKindRow {
    WarpKind kind;
    WarpReadFn read;
    MapFn map;  // unused by matrix kinds, which map with MapMatrix
    WarpMatrixRule matrixRule;
};

// The driver: one scan cache per input, the line op called for every output
// row with the caches in in.driverSlots[0], progress after every row.
void WarpDriver(LineOp lineOp, const ImageList &images, ArgBlock &in, const OutputList &outputs,
                ArgBlock &out);

// The per-call working storage of every warp row (state, point arrays sized
// from the output width, weight table, kernel bank).
size_t WarpScratch(const ArgBlock &in, const ArgBlock &out);

// One output row of a warp of the given kind: set-up on the first row, then
// the sampler the quality selects.
void WarpRow(const WarpKindRow &kind, int first, int32_t y, Pixel *outRow, const ArgBlock &in,
             const ArgBlock &out);

// The line op of a warp kind, for its effect-table row.
template <const WarpKindRow &Kind>
KVE_LINE_OP(WarpLineOp) {
    WarpRow(Kind, first, y, outLines[0], in, out);
}

// Fills the state for a kind from the parsed parameters (first row only).
void WarpSetup(WarpState &state, const WarpKindRow &kind, const ArgBlock &in, const ArgBlock &out,
               const ScanCaches &caches);

// ---- shared helpers of the mapping functions -----------------------------------

// The k-th of the n real parameters of a command, counted in text order (the
// parser stores them last first, so the softness is in_.reals[0]).
inline double TextReal(const ArgBlock &in, int n, int k) {
    return in.reals[static_cast<size_t>(n - 1 - k)];
}

// pts[i] = (i, y) for i = 0 .. n-1.
void FillRowPoints(Vec2 *pts, int32_t y, int n);
// Copies src into pts (when different) and puts the x-offset copies
// (x + 0.001, y) at pts[n + i] and the y-offset copies (x, y + 0.001) at pts[2n + i].
void JacobianPrepare(Vec2 *pts, const Vec2 *src, int n);
// After all 3n points were mapped: the offsets' differences times 1000.
void JacobianFinish(Vec2 *pts, int n);
// (1, 0) at pts[n + i] and (0, 1) at pts[2n + i].
void JacobianIdentity(Vec2 *pts, int n);

// The matrix kinds' mapping: state.params.matrix, row by row incrementally.
void MapMatrix(WarpState &state, Vec2 *pts, const Vec2 *src, int n, bool withJacobian);

// Folds an index into 0 .. n-1: inside it is returned unchanged; outside, the
// number of whole frame sizes crossed decides, with mode 1, whether the copy
// is mirrored (odd) or not; any other mode repeats. Closed form, so any n and
// any a work; n <= 0 gives 0.
int32_t WrapIndex(int64_t a, int32_t n, int32_t mode);

// The six matrix warps.
extern const WarpKindRow kXformWarp;
extern const WarpKindRow kX4CornerWarp;  // X4Corner and ResizeX4Corner
extern const WarpKindRow kSrtWarp;
extern const WarpKindRow kTiltWarp;
extern const WarpKindRow kShearWarp;

}  // namespace kve
