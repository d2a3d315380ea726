// Command texts, row arguments, a row-by-row generator and golden frames
// shared by the wipe generators' tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "effects/wipe/wipe.h"
#include "engine/scratch.h"
#include "support/frames.h"

namespace kve::test {

inline std::string WipeCommand(int32_t number, double progress, const std::string &rest) {
    char head[64];
    std::snprintf(head, sizeof head, "Wipe %d %g ", number, progress);
    return head + rest;
}

inline WipeRowArgs RowArgs(int32_t number, double progress, int32_t w = 352, int32_t h = 240,
                           double edge = 0.02) {
    WipeRowArgs args;
    args.first = 1;
    args.number = number;
    args.width = w;
    args.height = h;
    args.progress = progress;
    args.edgeWidth = edge;
    return args;
}

// A generator with its own storage, driven row by row from row 0 as the line
// op drives it.
template <WipeGenerator generate>
struct RowGenerator {
    std::vector<std::byte> memory;
    WipeScratch scratch;
    WipeRowArgs row;
    explicit RowGenerator(const WipeRowArgs &args) : row(args) {
        ScratchPlan measure;
        LayoutWipeScratch(measure, args.width);
        memory.assign(measure.Bytes(), std::byte{0});
        ScratchPlan carve(memory.data());
        scratch = LayoutWipeScratch(carve, args.width);
    }
    int Row(int32_t y) {
        row.first = y == 0;
        row.y = y;
        return generate(row, scratch);
    }
};

// Every number at progress 0.25, 0.5 and 0.75 with a soft edge and a border,
// and once moved, stretched and turned, against the golden file's checksums.
inline void ExpectWipeGoldens(const char *goldenFile, std::span<const int32_t> numbers) {
    const int32_t w = 128, h = 96;
    Frame a = PictureFrame(w, h, 1), b = PictureFrame(w, h, 2);
    GoldenFile golden(goldenFile);
    const std::string colour = " [8 8] 0.02 [(argb) 255 255 240 32]";
    for (int32_t number : numbers) {
        for (double p : {0.25, 0.5, 0.75}) {
            const auto run =
                RunEffect(WipeCommand(number, p, "0.05 [0 0] 1 1 0" + colour), {&a, &b}, w, h);
            char key[32];
            std::snprintf(key, sizeof key, "wipe_%d_p%g", number, p);
            const std::string sum = Checksum(run.output);
            EXPECT_EQ(golden.Expect(key, sum), sum) << key;
        }
        const auto turned = RunEffect(
            WipeCommand(number, 0.5, "0.08 [0.1 -0.05] 1.5 0.8 30" + colour), {&a, &b}, w, h);
        const std::string key = "wipe_" + std::to_string(number) + "_transformed";
        const std::string sum = Checksum(turned.output);
        EXPECT_EQ(golden.Expect(key, sum), sum) << key;
    }
}

}  // namespace kve::test
