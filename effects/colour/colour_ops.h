// Colour fills, keys and mixes: line ops for the simple line driver and the
// per-call storage each of them needs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/cpu.h"
#include "engine/job.h"

namespace kve {

// Fills (fills.cpp): the output size comes from the size parameter.
KVE_LINE_OP(Color1LineOp);
KVE_LINE_OP(Color4LineOp);
size_t Color4Scratch(const ArgBlock &in, const ArgBlock &out);

// Color4's row: channel k of pixel i is trunc(left[k] + span[k] * frac[i]),
// channels in word order (alpha first). The plain reference and the variant
// the line op runs must give identical words.
using GradientRow = void (*)(const float *left, const float *span, const float *frac, Pixel *out,
                             int32_t n);
struct GradientKernel {
    GradientRow reference;
    CpuRows<GradientRow> rows;  // the SSE2 row from SSE2 up
};
GradientKernel Color4Kernel();

// Keys (keys.cpp): masks from a frame, and a solid colour from a mask.
KVE_LINE_OP(LumaKeyLineOp);
KVE_LINE_OP(ChromaKeyLineOp);
KVE_LINE_OP(ExtractLineOp);
size_t LumaKeyScratch(const ArgBlock &in, const ArgBlock &out);
size_t ChromaKeyScratch(const ArgBlock &in, const ArgBlock &out);
size_t ExtractScratch(const ArgBlock &in, const ArgBlock &out);

// The keys' per-call state and rows: the plain reference and the rows per CPU
// level, which must give identical words.
struct LumaKeyState {
    Pixel mask[256];  // by the brightest of red, green and blue
    int32_t lo, hi;   // the keyed-out band, within -1..256
};
struct ChromaKeyState {
    double red, green, blue;
    double threshold;  // squared distance at or below which a colour keys out
    int32_t limit;     // the same test on whole distances: keyed out at or below
};
struct ExtractState {
    Pixel fill;
    int32_t width;
};
void BuildLumaKey(double level, double tolerance, LumaKeyState &state);
void BuildChromaKey(Pixel key, double tolerance, ChromaKeyState &state);
template <class State>
struct KeyKernel {
    using Row = void (*)(const State &state, const Pixel *src, Pixel *dst, int32_t n);
    Row reference;
    CpuRows<Row> rows;
};
struct KeyKernels {
    KeyKernel<LumaKeyState> lumaKey;
    KeyKernel<ChromaKeyState> chromaKey;
    KeyKernel<ExtractState> extract;
};
KeyKernels KeyRowKernels();

// Mixes (mixes.cpp): one frame scaled, two frames mixed, a foreground laid
// over a background through a key.
KVE_LINE_OP(FadeLineOp);
KVE_LINE_OP(DissolveLineOp);
KVE_LINE_OP(CompositeLineOp);
size_t FadeScratch(const ArgBlock &in, const ArgBlock &out);
size_t DissolveScratch(const ArgBlock &in, const ArgBlock &out);
size_t CompositeScratch(const ArgBlock &in, const ArgBlock &out);

// Dissolve's per-call tables and its row: every byte is a[A] + b[B]. A table
// trunc(v * m) is also (v * M) >> 24 for a whole M, but for at most a few
// bytes that are one off; M and those bytes are found and checked for every
// byte when the tables are built, and the AVX2 row uses them (the reference
// where no scale fits); the AVX-512 row looks the bytes up in registers.
struct FixedScale {
    static constexpr int kMaxBumps = 6;
    int32_t high = 0, low = 0;  // M = high * 65536 + low
    bool exact = false;         // with the bumps, equals the table for every v
    int32_t bumps = 0;
    int16_t bumpByte[kMaxBumps] = {}, bump[kMaxBumps] = {};  // byte, and +1 or -1
};
struct DissolveTables {
    int32_t a[256];                              // trunc(v * mix)
    int32_t b[256];                              // trunc(v * (1 - mix))
    alignas(64) uint8_t byteA[256], byteB[256];  // the same as bytes
    int32_t width;                               // the narrower input
    FixedScale scaleA, scaleB;
};
void BuildDissolveTables(double mix, DissolveTables &t);
using DissolveRow = void (*)(const DissolveTables &t, const Pixel *a, const Pixel *b, Pixel *out,
                             int32_t n);
struct DissolveKernel {
    DissolveRow reference;
    CpuRows<DissolveRow> rows;
};
DissolveKernel DissolveKernels();

// Fade's row: every byte replaced through a 256-entry table.
using FadeRow = void (*)(const uint8_t *table, const Pixel *src, Pixel *dst, int32_t n);
struct FadeKernel {
    FadeRow reference;
    CpuRows<FadeRow> rows;
};
FadeKernel FadeKernels();

// Composite's per-call tables, by key alpha, and its row: F over G through
// K's alpha. The plain reference and the variant the line op runs must give
// identical words.
struct CompositeTables {
    int32_t alpha[256];  // output alpha of a mixed pixel
    double weight[256];  // share of the foreground
    double rest[256];    // 1 - weight, the share of the background
};
void BuildCompositeTables(double upper, double lower, CompositeTables &t);
using CompositeRow = void (*)(const CompositeTables &t, const Pixel *fg, const Pixel *bg,
                              const Pixel *key, Pixel *out, int32_t n);
struct CompositeKernel {
    CompositeRow reference;
    CpuRows<CompositeRow> rows;
};
CompositeKernel CompositeKernels();

}  // namespace kve
