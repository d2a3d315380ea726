// The warp samplers and the per-call storage they share with the driver.
// Internal to the warp family.
#pragma once

#include <array>
#include <cstdint>

#include "effects/warp/warp_driver.h"
#include "engine/scratch.h"

namespace kve {

constexpr int kWeightEntries = 1024;
constexpr int kKernelWindow = 10;  // taps at offsets -5 .. +4 on each axis
constexpr int kKernelPhases = 16;  // quarter-pixel phase pairs

// The nearest and affine samplers work ahead in bands of output rows, each
// band in strips of columns, so that the source pixels one strip reads stay
// in cache and in few pages for all the band's rows (a turned picture reads
// each source row only along a short slanted run per output row).
constexpr int kBandRows = 16;
constexpr int kStripColumns = 64;

// One filtered window of the affine sampler: per window row the first tap's
// column offset and the tap count, and the weights (normalised to sum 1).
struct WarpKernel {
    int32_t firstRow, lastRow;  // lastRow < firstRow: empty
    std::array<int32_t, kKernelWindow> firstTap, tapCount;
    std::array<std::array<double, kKernelWindow>, kKernelWindow> weights;
};

// What the samplers compute on the first row and reuse on every later row.
struct SamplerMemory {
    double R, Rmax;           // footprint radius limits, source pixels
    double Lmin, Lmax;        // EWA conic eigenvalue limits
    bool bilinear;            // affine sampler: bilinear mode for the whole call
    double xExtent, yExtent;  // affine kernel mode: footprint half-extents
    double A, B, C;           // affine kernel mode: the footprint conic
    std::array<WarpKernel, kKernelPhases> bank;
    int32_t bandFirst, bandRows;  // the output rows held in WarpStorage::band
};

// The driver's working storage for one call, carved from the job's scratch block.
struct WarpStorage {
    WarpState *state;
    Vec2 *points;     // kBandRows per output column (three for EWA's Jacobians)
    Pixel *band;      // kBandRows output rows sampled ahead
    double *weights;  // the Gaussian weight table
    SamplerMemory *memory;
    const ScanCaches *caches;
};

// The Gaussian footprint radius in source pixels for a softness:
// (1 - softness / 2) sqrt(-2 ln 0.1), so 2.14597 at 0 and 0 at 2. The
// samplers keep its size at least kSmallestRadius (its value at softness
// 1.81): footprints grow as 1 / R, and near softness 2 one output pixel
// would otherwise average thousands of source pixels.
double FootprintRadius(double softness);
constexpr double kSmallestRadius = 0.2;

WarpStorage WarpLayout(ScratchPlan &plan, int32_t dstWidth);

// Matrix3_MapRow two lanes at a time (x and y together, both divides in one):
// the same operations in the same order, so the same points.
void MapRowPairs(Vec2 *dst, const Matrix3 &M, const Vec2 *src, int n);
// MapRowPairs over the points (0, y + r) .. (n - 1, y + r) of `rows` rows,
// row r at pts + r * stride: the same points, several rows at a time.
void MapMatrixRows(Vec2 *pts, size_t stride, const Matrix3 &M, int32_t y, int rows, int n);

// Bilinear sampling at one position, by the tiling rule: the plain per-tap
// form, and the one the samplers use (a two-lane path where all four taps
// lie inside). Both give the same words.
Pixel BilinearPlain(const ScanCache &cache, int32_t tiling, double x, double y);
Pixel BilinearSample(const ScanCache &cache, int32_t tiling, double x, double y);

// Each writes state.dstWidth pixels of output row y.
void SampleBlank(WarpStorage &st, int first, int32_t y, Pixel *out);
void SampleNearest(WarpStorage &st, int first, int32_t y, Pixel *out);
void SampleAffine(WarpStorage &st, int first, int32_t y, Pixel *out);
void SampleEwa(WarpStorage &st, int first, int32_t y, Pixel *out);

}  // namespace kve
