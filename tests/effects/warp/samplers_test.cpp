// The samplers' fast paths against their plain forms: the two-lane row
// mapping and the side-by-side band mapping against Matrix3_MapRow, the
// two-lane bilinear against the per-tap one, and whole rows of every width
// from 1 to 255 at every CPU level against a per-pixel reference built from
// the plain pieces, with guard words after the output.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "effects/warp/samplers.h"
#include "libkve.h"
#include "support/cpu_levels.h"
#include "support/frames.h"

namespace kve::test {
namespace {

Matrix3 RandomMatrix(std::mt19937 &rng, bool perspective) {
    std::uniform_real_distribution<double> d(-2.0, 2.0);
    Matrix3 M;
    for (double &v : M.m)
        v = d(rng);
    if (!perspective) {
        M.m[2] = M.m[5] = 0;
        M.m[8] = 1;
    }
    Matrix3_Classify(M);
    return M;
}

TEST(WarpFastPaths, RowMappingMatchesMatrixRowOnEveryWidth) {
    std::mt19937 rng(11);
    const Vec2 guard{1234.5, -6789.25};
    std::vector<Matrix3> matrices;
    for (int k = 0; k < 6; ++k)
        matrices.push_back(RandomMatrix(rng, k % 2 == 1));
    Matrix3 crossing;  // w' passes through 0 on the row: undivided points
    crossing.m = {1, 0, 1, 0, 1, 0, 0, 0, -64};
    Matrix3_Classify(crossing);
    matrices.push_back(crossing);
    Matrix3 infinite;
    infinite.m = {INFINITY, 0, 0, 0, NAN, 0, 1, 1, 1};
    Matrix3_Classify(infinite);
    matrices.push_back(infinite);
    for (const Matrix3 &M : matrices) {
        for (int n = 1; n <= 255; ++n) {
            std::vector<Vec2> src(n), plain(n + 4, guard), fast(n + 4, guard);
            const double y = static_cast<double>(n % 17);
            for (int i = 0; i < n; ++i)
                src[i] = {static_cast<double>(i), y};
            Matrix3_MapRow(plain.data(), M, src.data(), n);
            MapRowPairs(fast.data(), M, src.data(), n);
            ASSERT_EQ(std::memcmp(plain.data(), fast.data(), sizeof(Vec2) * (n + 4)), 0) << n;
        }
        // A band of rows mapped side by side, each row followed by guards.
        for (int n : {1, 2, 3, 7, 64, 255})
            for (int rows = 1; rows <= kBandRows; ++rows) {
                const size_t stride = static_cast<size_t>(n) + 3;
                const int32_t y = 5 * rows - 9;
                std::vector<Vec2> plain(stride * rows, guard), band(stride * rows, guard);
                for (int r = 0; r < rows; ++r) {
                    FillRowPoints(plain.data() + r * stride, y + r, n);
                    Matrix3_MapRow(plain.data() + r * stride, M, plain.data() + r * stride, n);
                }
                MapMatrixRows(band.data(), stride, M, y, rows, n);
                ASSERT_EQ(std::memcmp(plain.data(), band.data(), sizeof(Vec2) * plain.size()), 0)
                    << n << " by " << rows;
            }
    }
}

TEST(WarpFastPaths, BilinearMatchesThePerTapFormEverywhere) {
    std::mt19937 rng(12);
    for (auto [w, h] : {std::pair{1, 1}, {2, 2}, {5, 3}, {17, 9}, {64, 48}}) {
        const Frame frame = NoiseFrame(w, h, static_cast<uint32_t>(w * h));
        const ScanCache cache{frame.data(), w, h};
        std::uniform_real_distribution<double> xs(-3.0, w + 3.0), ys(-3.0, h + 3.0);
        std::uniform_int_distribution<int> whole(-3, std::max(w, h) + 3);
        const double edges[] = {0.0, 0.05, 0.0500001, 0.5, 0.9499999, 0.95, 0.999999999};
        for (int k = 0; k < 20000; ++k) {
            double x = xs(rng), y = ys(rng);
            if (k % 3 == 0) x = whole(rng) + edges[k % 7];
            if (k % 5 == 0) y = whole(rng) + edges[(k / 5) % 7];
            for (int32_t tiling : {0, 1, 2})
                ASSERT_EQ(BilinearSample(cache, tiling, x, y), BilinearPlain(cache, tiling, x, y))
                    << w << "x" << h << " at " << x << ", " << y << " tiling " << tiling;
        }
    }
}

// The plain per-pixel form of a matrix warp's row: Matrix3_MapRow over every
// point, then nearest truncation or the per-tap bilinear.
void WholeRowsMatch();

// A matrix warp command: its name, the kind it runs and its parameters up to
// the tiling ("SRT", sx sy turn mx my softness tiling).
struct WarpCommand {
    const char *name;
    const WarpKindRow &kind;
    std::string params;
};

std::vector<uint32_t> ReferenceRows(const WarpCommand &command, int quality, const Frame &in,
                                    int32_t w, int32_t h) {
    ArgBlock args, out;
    // The reals last first, then tiling and quality.
    const std::string &params = command.params;
    std::vector<double> reals;
    for (size_t at = 0; at < params.size();) {
        size_t end = params.find(' ', at);
        if (end == std::string::npos) end = params.size();
        reals.push_back(std::strtod(params.substr(at, end - at).c_str(), nullptr));
        at = end + 1;
    }
    const int32_t tiling = static_cast<int32_t>(reals.back());
    reals.pop_back();
    for (size_t k = 0; k < reals.size(); ++k)
        args.reals[k] = reals[reals.size() - 1 - k];
    args.ints[0] = quality;
    args.ints[1] = tiling;
    args.imageWidth[0] = out.imageWidth[0] = w;
    args.imageHeight[0] = out.imageHeight[0] = h;
    const ScanCache cache{in.data(), w, h};
    ScanCaches caches{&cache, nullptr};
    WarpState state{};
    WarpSetup(state, command.kind, args, out, caches);
    std::vector<uint32_t> rows;
    std::vector<Vec2> pts(static_cast<size_t>(w));
    for (int32_t y = 0; y < h; ++y) {
        FillRowPoints(pts.data(), y, w);
        Matrix3_MapRow(pts.data(), state.params.matrix, pts.data(), w);
        for (const Vec2 &p : pts) {
            if (state.quality != kQualityAffine) {
                // Folded copies for tiling; without it, only -1 < x < w and
                // -1 < y < h truncate to a pixel inside (NaN too is outside).
                const bool inside = p.x > -1 && p.x < w && p.y > -1 && p.y < h;
                if (tiling != 0 && std::isfinite(p.x) && std::isfinite(p.y)) {
                    const int64_t c = static_cast<int64_t>(std::trunc(p.x));
                    const int64_t r = static_cast<int64_t>(std::trunc(p.y));
                    rows.push_back(in[static_cast<size_t>(WrapIndex(r, h, tiling)) * w +
                                      static_cast<size_t>(WrapIndex(c, w, tiling))]);
                } else if (inside && tiling == 0) {
                    rows.push_back(in[static_cast<size_t>(p.y) * w + static_cast<size_t>(p.x)]);
                } else {
                    rows.push_back(0);
                }
            } else {
                rows.push_back(BilinearPlain(cache, tiling, p.x, p.y));
            }
        }
    }
    return rows;
}

// The bilinear rows of every level the CPU has are checked.
TEST(WarpFastPaths, WholeRowsOfEveryWidthMatchThePerPixelReference) {
    for (CpuLevel level : LevelsToTest()) {
        const CpuLevelCap cap(level);
        SCOPED_TRACE(std::string(CpuLevelName(level)));
        WholeRowsMatch();
    }
}

void RowsMatch(int32_t w, const std::vector<WarpCommand> &commands, int32_t h = 3,
               std::vector<int> qualities = {0, 2}) {
    constexpr uint32_t kGuard = 0xA5A5A5A5u;
    {
        Frame in = NoiseFrame(w, h, static_cast<uint32_t>(w));
        for (const WarpCommand &p : commands) {
            for (int quality : qualities) {
                const std::string command =
                    std::string(p.name) + " " + p.params + " " + std::to_string(quality);
                std::vector<uint32_t> output(static_cast<size_t>(w) * h + 8, kGuard);
                uint32_t *inputs[] = {in.data(), nullptr};
                ASSERT_EQ(
                    KVE_EffectBySize(command.c_str(), inputs, w, h, output.data(), 0, 0, nullptr),
                    0);
                const std::vector<uint32_t> expected = ReferenceRows(p, quality, in, w, h);
                ASSERT_TRUE(std::equal(expected.begin(), expected.end(), output.begin()))
                    << command << " width " << w;
                for (size_t g = expected.size(); g < output.size(); ++g)
                    ASSERT_EQ(output[g], kGuard) << command << " width " << w;
            }
        }
    }
}

WarpCommand Srt(const char *params) {
    return {"SRT", kSrtWarp, params};
}

void WholeRowsMatch() {
    // Turns, stretches and a plain shift; tiled copies mirrored and repeated;
    // perspective tilts; a move that puts every position far outside.
    const std::vector<WarpCommand> spread = {
        Srt("0.93 0.95 7 0.031 -0.017 0 0"),
        Srt("1.2 0.8 -33 0.2 0.1 0 0"),
        Srt("1 1 0 0.013 0.007 0 0"),
        Srt("0.9 1.1 -12 0.3 -0.2 0 1"),
        Srt("0.9 0.9 10 0.1 0 0 2"),
        Srt("1 1 3 40.5 -70.25 0 1"),
        {"Tilt", kTiltWarp, "1 1 10 5 0 0 0 0"},
        {"Tilt", kTiltWarp, "0.9 1 -20 15 0.1 0 0 1"},
        {"Xform", kXformWarp, "1 0.1 0.3 0.1 1 0.2 0 0 1 0 2"}};
    for (int32_t w = 1; w <= 255; ++w)
        RowsMatch(w, spread);
    // Several bands of rows (the last one short) and strips of columns.
    for (int32_t w : {1, 63, 64, 65, 130, 255})
        RowsMatch(w, spread, 37);
    // On 64 columns, moves of 0.05 and 0.95 pixels put fractions on both
    // sides of the bilinear snap limits.
    RowsMatch(64,
              {Srt("1 1 0 -0.0015625 0.0296875 0 0"), Srt("1 1 0 -0.0296875 0.0015625 0 0"),
               Srt("1 1 0 -0.00156249 0.02968751 0 0"), Srt("1 1 0 -0.02968749 0.00156251 0 0")});
    // Positions far outside and not finite, without and with tiling (nearest
    // only: such mappings take the kernel bank at quality 2). The command
    // language has no exponents, so 10^12 and an overflowing 10^400 are
    // written out.
    const std::string far(std::string("1").append(12, '0')),
        huge(std::string("1").append(400, '0'));
    auto xform = [](const std::string &m00, const std::string &m11, const char *tiling) {
        return WarpCommand{
            "Xform", kXformWarp,
            std::string(m00).append(" 0 0 0 ").append(m11).append(" 0 0 0 1 0 ").append(tiling)};
    };
    for (int32_t w : {1, 9, 64, 255})
        RowsMatch(w, {xform(far, "1", "1"), xform("1", huge, "0"), xform("1", huge, "2")}, 5, {0});
}

}  // namespace
}  // namespace kve::test
