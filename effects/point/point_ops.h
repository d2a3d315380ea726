// Point operations: each output pixel depends only on the input pixels at the
// same place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/cpu.h"
#include "engine/job.h"

namespace kve {

KVE_LINE_OP(AddLineOp);
KVE_LINE_OP(SubLineOp);
KVE_LINE_OP(MulLineOp);
KVE_LINE_OP(AndLineOp);
KVE_LINE_OP(OrLineOp);
KVE_LINE_OP(XorLineOp);
KVE_LINE_OP(MaxLineOp);
KVE_LINE_OP(MinLineOp);
KVE_LINE_OP(NegateLineOp);
KVE_LINE_OP(MonochromeLineOp);
// Monochrome's luma weights; they sum to 65536, so a luma never exceeds 255.
constexpr int32_t kLumaRed = 19595, kLumaGreen = 38470, kLumaBlue = 7471;
// Monochrome's luma of a pixel: (19595 R + 38470 G + 7471 B) >> 16.
constexpr int32_t MonochromeLuma(Pixel p) {
    return (kLumaRed * static_cast<int32_t>(p >> 8 & 0xFF) +
            kLumaGreen * static_cast<int32_t>(p >> 16 & 0xFF) +
            kLumaBlue * static_cast<int32_t>(p >> 24)) >>
           16;
}

// Noise (noise.cpp) and mirrors (mirrors.cpp).
KVE_LINE_OP(AddNoiseLineOp);
KVE_LINE_OP(MulNoiseLineOp);
size_t AddNoiseScratch(const ArgBlock &in, const ArgBlock &out);
size_t MulNoiseScratch(const ArgBlock &in, const ArgBlock &out);
// Noise rows: the reference steps the generator once per draw; the rows per
// CPU level must give the same words and leave the same state behind.
using AddNoiseRow = void (*)(const uint8_t *increment, uint32_t &state, const Pixel *src,
                             Pixel *dst, int32_t n);
using MulNoiseRow = void (*)(const double *factor, uint32_t &state, const Pixel *src, Pixel *dst,
                             int32_t n);
struct AddNoiseKernel {
    AddNoiseRow reference;
    CpuRows<AddNoiseRow> rows;
};
struct MulNoiseKernel {
    MulNoiseRow reference;
    CpuRows<MulNoiseRow> rows;
};
struct NoiseKernels {
    AddNoiseKernel addGrey, addColour;  // increment table of 32768 + 3 bytes
    MulNoiseKernel mul;                 // factor table of 32768 doubles
};
NoiseKernels NoiseRowKernels();
KVE_LINE_OP(MirrorHLineOp);
KVE_LINE_OP(MirrorVLineOp);
// Hands the line op input row H - 1 - y for output row y.
void MirrorVDriver(LineOp lineOp, const ImageList &images, ArgBlock &in, const OutputList &outputs,
                   ArgBlock &out);

// Row kernels behind the line ops: the plain per-pixel reference and the rows
// the line op runs at each CPU level, which must all give identical words.
using TwoFrameRow = void (*)(const Pixel *a, const Pixel *b, Pixel *out, int32_t n);
using OneFrameRow = void (*)(const Pixel *a, Pixel *out, int32_t n);

struct TwoFrameKernel {
    const char *name;
    TwoFrameRow reference;
    CpuRows<TwoFrameRow> rows;
};
struct OneFrameKernel {
    const char *name;
    OneFrameRow reference;
    CpuRows<OneFrameRow> rows;
};

std::span<const TwoFrameKernel> TwoFrameKernels();
std::span<const OneFrameKernel> OneFrameKernels();

}  // namespace kve
