// The records every effect call travels with: the per-call job, the parsed
// argument blocks, and the function types of drivers, line ops and prepare
// steps.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "libkve.h"

namespace kve {

using Pixel = uint32_t;

constexpr int kMaxImages = 4;
constexpr int kMaxReals = 16;
constexpr int kMaxInts = 16;
constexpr int kMaxPoints = 8;
constexpr int kMaxSizes = 4;
constexpr int kMaxColors = 4;

struct EffectJob;

// Parsed parameters of one call. Inside each array the LAST parameter of its
// kind in the command text sits in slot 0 (the parser walks the text from its
// end). Only the slots a call filled are meaningful.
struct ArgBlock {
    std::array<double, kMaxReals> reals{};    // letters r and n
    std::array<int32_t, kMaxInts> ints{};     // letters i, q and f, one shared sequence
    std::array<double, kMaxPoints> points{};  // x, y pairs in pixels, from C and R
    std::array<std::array<int32_t, 2>, kMaxSizes> sizes{};  // letter S: {width, height}
    std::array<int32_t, kMaxImages> imageWidth{};
    std::array<int32_t, kMaxImages> imageHeight{};
    std::array<Pixel, kMaxColors> colors{};
    std::array<void *, 4> driverSlots{};  // drivers' own per-call storage
    EffectJob *job = nullptr;             // set just before the driver runs
};

// One row of an effect: the contract every driver follows when it calls a
// line op. `first` is 1 on the first row processed; `inLines`/`outLines` hold
// one row pointer per image and output slot.
using LineOp = void (*)(int first, int x0, int y, int rowCount, const Pixel *const *inLines,
                        Pixel *const *outLines, const ArgBlock &in, const ArgBlock &out);

using ImageList = std::array<const Pixel *, kMaxImages>;
using OutputList = std::array<Pixel *, kMaxImages>;

// Walks the output and calls the line op; reports progress after each row.
using Driver = void (*)(LineOp lineOp, const ImageList &images, ArgBlock &in,
                        const OutputList &outputs, ArgBlock &out);

// Coordinate texts as written in the command (x, y, x, y ...), before conversion.
using CoordTexts = std::array<std::string_view, kMaxPoints>;

// Flag bits a prepare step returns.
enum PrepareFlags : unsigned {
    kUseDefaultOutputSize = 1u,  // output size from the inputs (or the S size with a format)
    kConvertCoordinates = 2u,
    kConvertColors = 4u,
    kAllFlags = 7u,
};

// Runs between parsing and drawing; may change the job's output size.
using PrepareFn = unsigned (*)(const ImageList &images, const CoordTexts &coords, ArgBlock &in,
                               const OutputList &outputs, EffectJob &job);

// The per-call record. It lives on the dispatcher's stack for one call.
struct EffectJob {
    LineOp lineOp = nullptr;
    std::string_view params;
    uint32_t *const *inputs = nullptr;
    int32_t width = 0, height = 0;
    Pixel *output = nullptr;
    int32_t outWidth = 0, outHeight = 0;
    // Zeroed per-call working storage, sized by the effect's scratch function
    // before the driver starts; line ops build their tables in it on the first row.
    std::byte *scratch = nullptr;
    size_t scratchBytes = 0;
    int32_t effectId = -1;
    MonitorHook *monitor = nullptr;
    int32_t result = 0;
};

}  // namespace kve

// Declares or defines a line op with the common argument list.
#define KVE_LINE_OP(Name)                                                                         \
    void Name([[maybe_unused]] int first, [[maybe_unused]] int x0, [[maybe_unused]] int y,        \
              [[maybe_unused]] int rowCount, [[maybe_unused]] const ::kve::Pixel *const *inLines, \
              [[maybe_unused]] ::kve::Pixel *const *outLines,                                     \
              [[maybe_unused]] const ::kve::ArgBlock &in,                                         \
              [[maybe_unused]] const ::kve::ArgBlock &out)
