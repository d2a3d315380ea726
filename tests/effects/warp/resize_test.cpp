// Resize and ZoomPan: whole frames against a plain model of the three modes
// (column table, step-by-step area walk, contribution lists with every tap
// kept), the geometry anchors, mirrored and degenerate zooms, and the fast
// rows against their references on every width.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "effects/warp/filters.h"
#include "effects/warp/resize.h"
#include "interface/pixel.h"
#include "support/cpu_levels.h"
#include "support/frames.h"

namespace kve::test {
namespace {

// ---- A plain model of the modes, for positive zooms ----------------------------

struct Geometry {
    ZoomState z;
    Geometry(int32_t sw, int32_t sh, int32_t dw, int32_t dh, double zx, double zy, double px,
             double py) {
        ArgBlock in, out;
        in.imageWidth[0] = sw;
        in.imageHeight[0] = sh;
        out.imageWidth[0] = dw;
        out.imageHeight[0] = dh;
        in.reals[3] = zx;
        in.reals[2] = zy;
        in.reals[1] = px;
        in.reals[0] = py;
        ZoomSetup(z, in, out);
    }
};

uint32_t At(const Frame &f, int32_t w, int32_t x, int32_t y) {
    return f[static_cast<size_t>(y) * w + x];
}

Frame ModelNearest(const Frame &src, const ZoomState &z) {
    const int32_t n = z.dstWidth;
    std::vector<int32_t> column(n, 0);
    int32_t first = -1, last = -1;
    if (!(z.x1 < 0 || z.x0 >= z.srcWidth)) {
        const double step = n > 1 ? (z.x1 - z.x0) / (n - 1) : 0;
        int64_t e = static_cast<int64_t>(std::trunc(z.x0));
        double f = z.x0 - e;
        for (int32_t i = 0; i < n; ++i) {
            column[i] = static_cast<int32_t>(e);
            if (e >= 0 && first < 0) first = i;
            if (e >= z.srcWidth) break;
            last = i;
            f += step;
            if (f >= 1) {
                e += static_cast<int64_t>(std::trunc(f));
                f -= std::trunc(f);
            }
        }
    }
    Frame out(static_cast<size_t>(n) * z.dstHeight, 0);
    for (int32_t r = 0; r < z.dstHeight; ++r) {
        const double p = z.dstHeight > 1 ? z.y0 + (z.y1 - z.y0) * r / (z.dstHeight - 1) : z.y0;
        const double g = std::trunc(p > 0 ? p + 0.5 : p - 0.5);
        if (g < 0 || g >= z.srcHeight || first < 0) continue;
        for (int32_t i = first; i <= last; ++i)
            out[static_cast<size_t>(r) * n + i] = At(src, z.srcWidth, column[i], int32_t(g));
    }
    return out;
}

// The walk one source position at a time; `step` stands in for the span on
// an axis of one output pixel.
void ModelLinear(uint32_t *dst, int32_t n, const uint32_t *src, int32_t len, double a, double b,
                 double step) {
    const double s = n > 1 ? (n - 1) / (b - a) : 1.0 / step, u = 1.0 / s;
    double c = std::floor(a), l = 1 - (a - c), v = u;
    double D[4] = {0, 0, 0, 0};
    auto ch = [&](double k, int i) -> int32_t {
        if (k < 0 || k >= len) return 0;
        const uint32_t p = src[static_cast<int64_t>(k)];
        return static_cast<int32_t>(p >> (8 * i) & 0xFF);
    };
    for (int32_t k = 0; k < n;) {
        double val[4];
        for (int i = 0; i < 4; ++i)
            val[i] = l * ch(c, i) + (1 - l) * ch(c + 1, i);
        if (l >= v) {
            if (c < -1 || c >= len) {
                dst[k] = 0;
            } else {
                int32_t o[4];
                for (int i = 0; i < 4; ++i)
                    o[i] = static_cast<int32_t>(std::trunc((D[i] + v * val[i]) * s));
                dst[k] = PackPixel(o[0], o[1], o[2], o[3]);
            }
            for (double &d : D)
                d = 0;
            l = l - v;
            v = u;
            ++k;
        } else {
            if (c >= -1 && c < len)
                for (int i = 0; i < 4; ++i)
                    D[i] += l * val[i];
            c = c + 1;
            v = v - l;
            l = 1;
        }
    }
}

struct ModelTap {
    int32_t index;
    double weight;
};

// Every tap of every list, outside ones marked -1 and skipped when applied.
std::vector<std::vector<ModelTap>> ModelClists(int filter, int32_t srcLen, int32_t dstLen, double a,
                                               double b, double step) {
    const FilterRow &f = *FilterAt(filter);
    const double scale = dstLen > 1 ? dstLen / (b - a) : 1.0 / step;
    const double w = scale >= 1 ? f.support : f.support / scale;
    std::vector<std::vector<ModelTap>> lists(dstLen);
    for (int32_t i = 0; i < dstLen; ++i) {
        const double centre = dstLen > 1 ? a + (b - a) * i / (dstLen - 1) : a;
        for (double j = std::ceil(centre - w); j <= std::floor(centre + w); ++j) {
            const double weight =
                scale >= 1 ? f.kernel(centre - j) : f.kernel((centre - j) * scale) * scale;
            lists[i].push_back({j < 0 || j >= srcLen ? -1 : static_cast<int32_t>(j), weight});
        }
        EXPECT_LE(static_cast<double>(lists[i].size()), std::trunc(2 * w + 1));
    }
    return lists;
}

uint32_t ModelApply(const std::vector<ModelTap> &list, const uint32_t *src, size_t stride) {
    double sum[4] = {0, 0, 0, 0};
    for (const ModelTap &t : list) {
        if (t.index == -1) continue;
        const uint32_t p = src[t.index * stride];
        for (int i = 0; i < 4; ++i)
            sum[i] += t.weight * static_cast<double>(p >> (8 * i) & 0xFF);
    }
    return PackPixel(int32_t(sum[0]), int32_t(sum[1]), int32_t(sum[2]), int32_t(sum[3]));
}

int ModelFilter(int q) {
    return q <= 3 ? 1 : q == 4 ? 2 : q == 5 ? 3 : q == 7 ? 5 : 4;
}

// The two-pass modes as laid out plainly: every source row across into a
// column-major intermediate, every column down into a row-major one.
Frame ModelTwoPass(const Frame &src, const ZoomState &z, int q) {
    const int32_t sw = z.srcWidth, sh = z.srcHeight, dw = z.dstWidth, dh = z.dstHeight;
    std::vector<uint32_t> across(static_cast<size_t>(dw) * sh), down(static_cast<size_t>(dw) * dh);
    std::vector<uint32_t> line(std::max(dw, dh));
    if (q == 1) {
        for (int32_t r = 0; r < sh; ++r) {
            ModelLinear(line.data(), dw, &src[static_cast<size_t>(r) * sw], sw, z.x0, z.x1,
                        z.xStep);
            for (int32_t x = 0; x < dw; ++x)
                across[static_cast<size_t>(x) * sh + r] = line[x];
        }
        for (int32_t x = 0; x < dw; ++x) {
            ModelLinear(line.data(), dh, &across[static_cast<size_t>(x) * sh], sh, z.y0, z.y1,
                        z.yStep);
            for (int32_t y = 0; y < dh; ++y)
                down[static_cast<size_t>(y) * dw + x] = line[y];
        }
        return down;
    }
    const int filter = ModelFilter(q);
    const auto xl = ModelClists(filter, sw, dw, z.x0, z.x1, z.xStep);
    for (int32_t r = 0; r < sh; ++r)
        for (int32_t x = 0; x < dw; ++x)
            across[static_cast<size_t>(x) * sh + r] =
                ModelApply(xl[x], &src[static_cast<size_t>(r) * sw], 1);
    const auto yl = ModelClists(filter, sh, dh, z.y0, z.y1, z.yStep);
    for (int32_t x = 0; x < dw; ++x)
        for (int32_t y = 0; y < dh; ++y)
            down[static_cast<size_t>(y) * dw + x] =
                ModelApply(yl[y], &across[static_cast<size_t>(x) * sh], 1);
    return down;
}

Frame Model(const Frame &src, const ZoomState &z, int q) {
    return q <= 0 ? ModelNearest(src, z) : ModelTwoPass(src, z, q);
}

std::string ZoomPanText(double zx, double zy, double px, double py, int q) {
    char text[160];
    std::snprintf(text, sizeof text, "ZoomPan %.17g %.17g %.17g %.17g %d", zx, zy, px, py, q);
    return text;
}

// base + " " + q, built without temporaries that trip the compiler's
// overlap warnings.
std::string WithQuality(const std::string &base, int q) {
    std::string text = base;
    text += ' ';
    text += std::to_string(q);
    return text;
}

struct Case {
    double zx, zy, px, py;
};

// ---- Whole frames against the model ---------------------------------------------

TEST(ZoomPan, EveryQualityMatchesThePlainModel) {
    const Case cases[] = {{1, 1, 0, 0},
                          {2, 2, 0, 0},
                          {0.5, 0.5, 0, 0},
                          {1.37, 0.61, 0.2, -0.3},
                          {0.23, 3.1, -0.45, 0.1},
                          {0.9, 0.9, 1.3, 0.7},
                          {5, 5, -0.1, 0.05}};
    const int32_t sw = 97, sh = 61;
    Frame src = PictureFrame(sw, sh, 3);
    for (const Case &c : cases)
        for (const auto &[dw, dh] : {std::pair{97, 61}, std::pair{40, 23}, std::pair{150, 111}})
            for (int q = -1; q <= 9; ++q) {
                const Geometry g(sw, sh, dw, dh, c.zx, c.zy, c.px, c.py);
                const std::string command = ZoomPanText(c.zx, c.zy, c.px, c.py, q);
                const auto run = RunEffect(command, {&src}, sw, sh, dw, dh);
                EXPECT_EQ(run.result, 0);
                EXPECT_EQ(run.output, Model(src, g.z, q)) << command << " " << dw << "x" << dh;
            }
}

// Enlarging and reducing between sizes of 1, 2, 3 and 7 pixels on each axis.
TEST(ZoomPan, TinySizesBothWaysMatchTheModel) {
    const int32_t sizes[] = {1, 2, 3, 7};
    for (int32_t sw : sizes)
        for (int32_t sh : sizes) {
            Frame src = NoiseFrame(sw, sh, uint32_t(sw * 10 + sh));
            for (int32_t dw : sizes)
                for (int32_t dh : sizes)
                    for (int q = 0; q <= 9; ++q)
                        for (const Case &c : {Case{1, 1, 0, 0}, Case{1.7, 0.4, 0.1, -0.2}}) {
                            const Geometry g(sw, sh, dw, dh, c.zx, c.zy, c.px, c.py);
                            const std::string command = ZoomPanText(c.zx, c.zy, c.px, c.py, q);
                            EXPECT_EQ(RunEffect(command, {&src}, sw, sh, dw, dh).output,
                                      Model(src, g.z, q))
                                << command << " " << sw << "x" << sh << " -> " << dw << "x" << dh;
                        }
        }
}

TEST(Resize, OutputSizeComesFromTheSizeParameter) {
    Frame src = PictureFrame(120, 80, 2);
    for (int q : {0, 1, 2, 6, 7}) {
        const Geometry g(120, 80, 50, 90, 1.2, 0.8, -0.1, 0.2);
        const std::string command = WithQuality("Resize [50 90] 1.2 0.8 -0.1 0.2", q);
        // The host sizes its output frame from the size parameter.
        EXPECT_EQ(RunEffect(command, {&src}, 120, 80, 50, 90).output, Model(src, g.z, q))
            << command;
    }
    // No size, no drawing.
    for (const char *size : {"[0 40]", "[40 0]", "[-3 5]", "[5 -2147483648]"}) {
        const auto run = RunEffect(std::string("Resize ") + size + " 1 1 0 0 1", {&src}, 120, 80);
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.output, FilledFrame(120, 80, 0xDEADBEEF)) << size;
    }
}

// ---- Geometry anchors ---------------------------------------------------------------

TEST(ZoomPan, IdentityReproducesTheSourceInNearestAndLinear) {
    for (const auto &[w, h] :
         {std::pair{352, 240}, std::pair{720, 480}, std::pair{64, 48}, std::pair{49, 31}}) {
        // The matrices' row translation at 352 x 240 comes out 1.4e-14, not
        // 0; positions that close to whole pixels are whole.
        const Geometry g(w, h, w, h, 1, 1, 0, 0);
        EXPECT_EQ(g.z.x0, 0);
        EXPECT_EQ(g.z.y0, 0);
        EXPECT_EQ(g.z.x1, w - 1);
        EXPECT_EQ(g.z.y1, h - 1);
        Frame src = NoiseFrame(w, h, 7);
        EXPECT_EQ(RunEffect("ZoomPan 1 1 0 0 0", {&src}, w, h).output, src) << w;
        EXPECT_EQ(RunEffect("ZoomPan 1 1 0 0 1", {&src}, w, h).output, src) << w;
    }
}

TEST(ZoomPan, ZoomTwoDoublesEveryPixelAboutTheCentre) {
    const int32_t w = 352, h = 240;
    Frame src = NoiseFrame(w, h, 8);
    Frame expected(src.size());
    // Source x = x / 2 + 88, source y = y / 2 + 60, rounded half away from 0.
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            expected[size_t(y) * w + x] = At(src, w, 88 + x / 2, 60 + (y + 1) / 2);
    EXPECT_EQ(RunEffect("ZoomPan 2 2 0 0 0", {&src}, w, h).output, expected);
}

TEST(ZoomPan, PanMovesByHalfTheWidthAcrossAndAQuarterOfItUp) {
    const int32_t w = 352, h = 240;
    Frame src = NoiseFrame(w, h, 9);
    Frame right(src.size(), 0), up(src.size(), 0);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            if (x >= w / 2) right[size_t(y) * w + x] = At(src, w, x - w / 2, y);
            if (y + w / 4 < h) up[size_t(y) * w + x] = At(src, w, x, y + w / 4);
        }
    for (int q : {0, 1}) {
        EXPECT_EQ(RunEffect(WithQuality("ZoomPan 1 1 1 0", q), {&src}, w, h).output, right);
        EXPECT_EQ(RunEffect(WithQuality("ZoomPan 1 1 0 1", q), {&src}, w, h).output, up);
    }
}

// A point is panned, then scaled: source x = (x - W/2 - px W/2) / zx + W/2,
// source y = (y - H/2) / zy + H/2 + py W / (4 zy).
TEST(ZoomPan, PanIsScaledByTheZoom) {
    const Geometry g(352, 240, 352, 240, 2, 4, 1, 1);
    EXPECT_EQ(g.z.x0, (0 - 176 - 176) / 2.0 + 176);
    EXPECT_EQ(g.z.x1, (351 - 176 - 176) / 2.0 + 176);
    EXPECT_DOUBLE_EQ(g.z.y0, (0 - 120) / 4.0 + 120 + 352 / 16.0);
    EXPECT_DOUBLE_EQ(g.z.y1, (239 - 120) / 4.0 + 120 + 352 / 16.0);
    EXPECT_EQ(g.z.xStep, 0.5);
    EXPECT_EQ(g.z.yStep, 0.25);
}

TEST(Resize, HalvingAtQualityOneAveragesTwoByTwoBlocks) {
    Frame src = NoiseFrame(720, 480, 10);
    Frame expected(360 * 240);
    auto mean = [](uint32_t a, uint32_t b) {
        return PackPixel((AlphaOf(a) + AlphaOf(b)) / 2, (RedOf(a) + RedOf(b)) / 2,
                         (GreenOf(a) + GreenOf(b)) / 2, (BlueOf(a) + BlueOf(b)) / 2);
    };
    for (int32_t y = 0; y < 240; ++y)
        for (int32_t x = 0; x < 360; ++x) {
            const uint32_t top = mean(At(src, 720, 2 * x, 2 * y), At(src, 720, 2 * x + 1, 2 * y));
            const uint32_t bottom =
                mean(At(src, 720, 2 * x, 2 * y + 1), At(src, 720, 2 * x + 1, 2 * y + 1));
            expected[size_t(y) * 360 + x] = mean(top, bottom);
        }
    EXPECT_EQ(RunEffect("Resize [360 240] 1 1 0 0 1", {&src}, 720, 480, 360, 240).output, expected);
}

// ZoomPan draws at the size the host asks for, smaller or larger than the input.
TEST(ZoomPan, DrawsAtTheRequestedOutputSize) {
    Frame src = PictureFrame(200, 150, 4);
    for (const auto &[dw, dh] : {std::pair{120, 90}, std::pair{320, 200}})
        for (int q : {0, 1, 6}) {
            const Geometry g(200, 150, dw, dh, 1, 1, 0, 0);
            const auto run = RunEffect(WithQuality("ZoomPan 1 1 0 0", q), {&src}, 200, 150, dw, dh);
            ASSERT_EQ(run.output.size(), size_t(dw) * dh);
            EXPECT_EQ(run.output, Model(src, g.z, q)) << dw << " q " << q;
            // The whole picture fits the width: the left and right columns are the source's.
            EXPECT_NE(run.output, FilledFrame(dw, dh, 0));
        }
}

// ---- Contribution lists -----------------------------------------------------------

TEST(Clist, HalvingWithTheTriangleKernel) {
    // 720 -> 360 at zoom 1: centres 2i, scale 360 / 718, kernel half-width 1.994.
    const Geometry g(720, 480, 360, 240, 1, 1, 0, 0);
    ClistSet set;
    ASSERT_TRUE(ClistMake(set, 1, 720, 360, g.z.x0, g.z.x1, g.z.xStep));
    const double scale = 360.0 / 718.0;
    ASSERT_EQ(set.lists[0].count, 2);  // the tap left of the frame is dropped
    for (int32_t i = 1; i < 359; ++i) {
        const Clist &list = set.lists[i];
        ASSERT_EQ(list.count, 3) << i;
        const ClistTap *t = set.taps.get() + list.first;
        const double centre = 0 + 718.0 * i / 359;
        double sum = 0;
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(t[k].index, 2 * i - 1 + k);
            EXPECT_EQ(t[k].weight, FilterTriangle((centre - t[k].index) * scale) * scale);
            sum += t[k].weight;
        }
        EXPECT_NEAR(t[1].weight, scale, 1e-15);
        EXPECT_NEAR(t[0].weight, (1 - scale) * scale, 1e-15);
        EXPECT_NEAR(sum, 1.0, 0.002);
    }
    // Exactly half: half-width 2, five taps of which the outer two weigh 0;
    // those add nothing and are not kept.
    ASSERT_TRUE(ClistMake(set, 1, 40, 10, 4.0, 24.0, 2.0));  // scale 10 / 20
    const auto model = ModelClists(1, 40, 10, 4.0, 24.0, 2.0);
    for (int32_t i = 0; i < 10; ++i) {
        std::vector<ModelTap> kept;
        for (const ModelTap &t : model[i])
            if (t.weight != 0 && t.index != -1) kept.push_back(t);
        ASSERT_EQ(set.lists[i].count, int32_t(kept.size())) << i;
        for (size_t k = 0; k < kept.size(); ++k) {
            EXPECT_EQ(set.taps[set.lists[i].first + k].index, kept[k].index);
            EXPECT_EQ(set.taps[set.lists[i].first + k].weight, kept[k].weight);
        }
    }
    EXPECT_EQ(model[0].size(), 5u);
    EXPECT_EQ(model[0].front().weight, 0);
    EXPECT_EQ(set.lists[0].count, 3);
}

// ---- Mirrored, tiny and degenerate zooms ----------------------------------------------

// A zoom below 0.0001 (0 included) draws the picture 100 times smaller and
// mirrored, in every mode.
TEST(ZoomPan, ZoomZeroDrawsATinyMirroredPicture) {
    const int32_t w = 800, h = 400;
    // Left half red, right half blue; top half opaque, bottom half alpha 0.
    Frame src(size_t(w) * h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            src[size_t(y) * w + x] =
                (x < w / 2 ? PackPixel(0, 255, 0, 0) : PackPixel(0, 0, 0, 255)) |
                (y < h / 2 ? 0xFFu : 0u);
    for (int q = 0; q <= 7; ++q) {
        const auto run = RunEffect(WithQuality("ZoomPan 0 0 0 0", q), {&src}, w, h);
        int32_t minX = w, maxX = -1, minY = h, maxY = -1;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                if (std::max({AlphaOf(At(run.output, w, x, y)), RedOf(At(run.output, w, x, y)),
                              BlueOf(At(run.output, w, x, y))}) >= 100) {
                    minX = std::min(minX, x), maxX = std::max(maxX, x);
                    minY = std::min(minY, y), maxY = std::max(maxY, y);
                }
        ASSERT_GE(maxX, 0) << "q " << q;
        // 8 x 4 pixels about the centre; the filters ring faintly beyond.
        EXPECT_LE(maxX - minX, 9) << q;
        EXPECT_GE(minX, 394) << q;
        EXPECT_LE(maxY - minY, 5) << q;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                if (std::abs(x - w / 2) > 12 || std::abs(y - h / 2) > 12) {
                    ASSERT_EQ(At(run.output, w, x, y), 0u) << q;
                }
        const int32_t cy = (minY + maxY) / 2;
        // Mirrored: blue now on the left, red on the right, opaque at the bottom.
        EXPECT_GT(BlueOf(At(run.output, w, minX + 1, cy)), 100) << q;
        EXPECT_GT(RedOf(At(run.output, w, maxX - 1, cy)), 100) << q;
        EXPECT_GT(AlphaOf(At(run.output, w, (minX + maxX) / 2, maxY)),
                  AlphaOf(At(run.output, w, (minX + maxX) / 2, minY)) + 100)
            << q;
    }
}

// Degenerate geometry stays bounded: far pans, the smallest zoom, infinite
// and NaN parameters, one-pixel outputs.
TEST(ZoomPan, HostileParametersDrawSafely) {
    Frame src = PictureFrame(64, 48, 1);
    const Frame zero(src.size(), 0);
    for (int q = 0; q <= 8; ++q) {
        const std::string huge(400, '9');  // parses to infinity
        const std::string big = "1" + std::string(300, '0');
        for (const std::string &far : std::vector<std::string>{
                 "1 1 10000000000 0", "1 1 0 -10000000000", "1 1 " + big + " " + big,
                 "0.0001 1 1000000 0", "1 1 " + huge + " 0", huge + " 1 0 0", "1 1 0 -" + huge}) {
            const std::string command = WithQuality("ZoomPan " + far, q);
            EXPECT_EQ(RunEffect(command, {&src}, 64, 48).output, zero) << command;
        }
        // The smallest zoom that is not mirrored: a dot at the centre.
        const auto tiny = RunEffect(WithQuality("ZoomPan 0.0001 0.0001 0 0", q), {&src}, 64, 48);
        EXPECT_EQ(tiny.result, 0);
        for (int32_t y = 0; y < 48; ++y)
            for (int32_t x = 0; x < 64; ++x)
                if (std::abs(x - 32) > 4 || std::abs(y - 24) > 4) {
                    ASSERT_EQ(At(tiny.output, 64, x, y), 0u) << q << " " << x << "," << y;
                }
        // A huge zoom shows one source pixel everywhere, or the walk's image of it.
        EXPECT_EQ(
            RunEffect(WithQuality("ZoomPan " + big + " " + big + " 0 0", q), {&src}, 64, 48).result,
            0);
    }
}

// An axis of one output pixel samples at its start position with the zoom's
// scale: across a square frame at zoom 1 that is the whole row's span.
TEST(ZoomPan, OnePixelOutputsSampleTheirStartPosition) {
    Frame src = NoiseFrame(7, 7, 11);
    const Geometry g(7, 7, 1, 1, 1, 1, 0, 0);
    EXPECT_EQ(g.z.x0, 0);
    EXPECT_EQ(g.z.y0, 0);
    EXPECT_EQ(g.z.xStep, 7);
    EXPECT_EQ(RunEffect("ZoomPan 1 1 0 0 0", {&src}, 7, 7, 1, 1).output, Frame{src[0]});
    // Linear: the mean of the first 7 x 7 block, taken a row at a time.
    uint32_t rowMeans[7];
    for (int32_t r = 0; r < 7; ++r)
        ModelLinear(&rowMeans[r], 1, &src[size_t(r) * 7], 7, 0, 0, 7);
    uint32_t expected;
    ModelLinear(&expected, 1, rowMeans, 7, 0, 0, 7);
    EXPECT_EQ(RunEffect("ZoomPan 1 1 0 0 1", {&src}, 7, 7, 1, 1).output, Frame{expected});
    // A one-pixel-wide column and a one-pixel-high row.
    for (int q = 0; q <= 7; ++q) {
        const Geometry col(7, 7, 1, 5, 1, 1, 0, 0), row(7, 7, 5, 1, 1, 1, 0, 0);
        const std::string command = WithQuality("ZoomPan 1 1 0 0", q);
        EXPECT_EQ(RunEffect(command, {&src}, 7, 7, 1, 5).output, Model(src, col.z, q)) << q;
        EXPECT_EQ(RunEffect(command, {&src}, 7, 7, 5, 1).output, Model(src, row.z, q)) << q;
    }
}

// Drawing into the frame it reads: the same result as into another frame.
TEST(ZoomPan, OutputFrameEqualToTheInput) {
    for (int q : {0, 1, 6}) {
        Frame src = PictureFrame(90, 60, 5);
        const std::string command = WithQuality("ZoomPan 1.6 1.3 0.2 -0.1", q);
        const Frame expected = RunEffect(command, {&src}, 90, 60).output;
        uint32_t *inputs[] = {src.data(), nullptr};
        EXPECT_EQ(KVE_EffectBySize(command.c_str(), inputs, 90, 60, src.data(), 0, 0, nullptr), 0);
        EXPECT_EQ(src, expected) << q;
    }
}

// Progress: one report per output row; a stop leaves later rows untouched.
TEST(ZoomPan, ReportsEveryOutputRowAndStops) {
    struct Log {
        std::vector<MonitorInfo> reports;
        int stopAfter;
    };
    auto callback = [](MonitorInfo *info, void *user) -> int {
        auto *log = static_cast<Log *>(user);
        log->reports.push_back(*info);
        return static_cast<int>(log->reports.size()) < log->stopAfter ? 1 : 0;
    };
    Frame src = PictureFrame(50, 40, 6);
    for (int q : {0, 1, 5}) {
        const std::string command = WithQuality("ZoomPan 1.5 1.5 0 0", q);
        const Frame full = RunEffect(command, {&src}, 50, 40, 30, 20).output;
        Log all{{}, 1000};
        MonitorHook hook{callback, &all};
        EXPECT_EQ(RunEffect(command, {&src}, 50, 40, 30, 20, 0xDEADBEEF, &hook).result, 0);
        ASSERT_EQ(all.reports.size(), 20u);
        for (int32_t r = 0; r < 20; ++r) {
            EXPECT_EQ(all.reports[r].totalRows, 20);
            EXPECT_EQ(all.reports[r].currentRow, r);
            EXPECT_EQ(all.reports[r].effectId, 59);
        }
        Log stop{{}, 3};
        hook.userData = &stop;
        const auto run = RunEffect(command, {&src}, 50, 40, 30, 20, 0xDEADBEEF, &hook);
        EXPECT_EQ(run.result, -3);
        Frame expected = full;
        std::fill(expected.begin() + 3 * 30, expected.end(), 0xDEADBEEF);
        EXPECT_EQ(run.output, expected) << q;
    }
}

// ---- Fast rows against their references -------------------------------------------

constexpr uint32_t kGuard = 0xA5A5A5A5;
constexpr int kGuards = 8;

// The addresses of a block's rows, as the vertical passes take them.
std::vector<const uint32_t *> RowsOf(const Frame &block, int32_t width) {
    std::vector<const uint32_t *> rows;
    for (size_t at = 0; at < block.size(); at += size_t(width))
        rows.push_back(block.data() + at);
    return rows;
}

void CheckRowsOnEveryWidth(const ResizeRows &fastRows) {
    for (int32_t width = 1; width <= 255; ++width) {
        const int32_t srcLen = 1 + (width * 37) % 200;
        Frame src = NoiseFrame(srcLen, 1, uint32_t(width));
        std::vector<double> channels((size_t(srcLen) + 3) * 4);
        fastRows.expand(src.data(), srcLen, channels.data() + 4);
        // Reduction, enlargement and a mirrored span, partly outside the line.
        const double spans[][2] = {{-2.3, srcLen + 1.7}, {0.4, srcLen * 0.3}, {srcLen - 0.5, 1.2}};
        for (const auto &span : spans) {
            const double a = span[0], b = span[1];
            const double step = width > 1 ? (b - a) / (width - 1) : 1.3;
            for (int filter = 1; filter <= 5; ++filter) {
                ClistSet set;
                ASSERT_TRUE(ClistMake(set, filter, srcLen, width, a, b, step));
                Frame ref(width + kGuards, kGuard), fast(width + kGuards, kGuard);
                ApplyClist(set, src.data(), ref.data(), width);
                fastRows.clistAcross(set, channels.data() + 4, fast.data(), width);
                ASSERT_EQ(ref, fast) << width << " filter " << filter;
            }
            LinearPlan plan;
            ASSERT_TRUE(LinearPlanMake(plan, width, srcLen, a, b, step));
            Frame ref(width + kGuards, kGuard), fast(width + kGuards, kGuard);
            LinearResample(plan, src.data(), ref.data());
            fastRows.linearAcross(plan, channels.data() + 4, fast.data());
            ASSERT_EQ(ref, fast) << width;
            if (b > a && width > 1) {
                Frame model(width + kGuards, kGuard);
                ModelLinear(model.data(), width, src.data(), srcLen, a, b, step);
                ASSERT_EQ(ref, model) << width;
            }
        }
        // Nearest rows: copies, halvings and any other step, from a source
        // row of exactly the length the table reaches.
        for (const double step : {1.0, 2.0, 0.7, 3.3}) {
            const int32_t len = static_cast<int32_t>(std::ceil(step * width));
            std::vector<uint32_t> line(NoiseFrame(len, 1, uint32_t(width + 5)));
            ColumnTable table;
            ASSERT_TRUE(ColumnTableMake(table, width, len, 0, step * (width - 1), step));
            Frame ref(width + kGuards, kGuard), fast(width + kGuards, kGuard);
            for (int32_t i = 0; i < width; ++i)
                ref[i] = i >= table.first && i <= table.last ? line[table.column[i]] : 0;
            NearestRow(table, line.data(), fast.data(), width);
            ASSERT_EQ(ref, fast) << width << " step " << step;
            if (width > 1 && step == std::trunc(step)) {
                EXPECT_EQ(table.stride, int32_t(step)) << width;
            }
        }
        // Halving and quartering plans run on integers.
        for (int32_t shift : {1, 2}) {
            const int32_t len = width << shift;
            Frame line = NoiseFrame(len, 1, uint32_t(width + 7));
            LinearPlan plan;
            ASSERT_TRUE(LinearPlanMake(plan, width, len, 0, double(len - (1 << shift)),
                                       double(1 << shift)));
            ASSERT_EQ(plan.boxShift, shift) << width;
            Frame ref(width + kGuards, kGuard), fast(width + kGuards, kGuard);
            LinearResample(plan, line.data(), ref.data());
            LinearBoxAcross(plan, line.data(), fast.data());
            ASSERT_EQ(ref, fast) << width;
            // Down: `len` rows of `width` pixels.
            Frame block = NoiseFrame(width, len, uint32_t(width + 9));
            const Frame zeroRow(width, 0);
            for (int32_t y = 0; y < width; ++y) {
                LinearDown(plan, y, RowsOf(block, width).data(), 0, len, zeroRow.data(), width,
                           ref.data());
                LinearBoxDown(plan, y, RowsOf(block, width).data(), 0, width, fast.data());
                ASSERT_EQ(ref, fast) << width << " row " << y;
            }
        }
        // Doubling and quadrupling plans, partly outside the line, run on
        // integers as well.
        for (int32_t shift : {1, 2}) {
            const int32_t len = width / (1 << shift) + 2;
            Frame line = NoiseFrame(len, 1, uint32_t(width + 11));
            const double step = 1.0 / (1 << shift);
            const double a = -1.5 + step * (width % 3);
            LinearPlan plan;
            ASSERT_TRUE(LinearPlanMake(plan, width, len, a, a + step * (width - 1), step));
            ASSERT_GE(plan.lerpShift, 0) << width;
            Frame ref(width + kGuards, kGuard), fast(width + kGuards, kGuard);
            LinearResample(plan, line.data(), ref.data());
            LinearLerpAcross(plan, line.data(), fast.data());
            ASSERT_EQ(ref, fast) << width;
            Frame block = NoiseFrame(width, len, uint32_t(width + 13));
            const Frame zeroRow(width, 0);
            for (int32_t y = 0; y < width; ++y) {
                LinearDown(plan, y, RowsOf(block, width).data(), 0, len, zeroRow.data(), width,
                           ref.data());
                LinearLerpDown(plan, y, RowsOf(block, width).data(), 0, len, zeroRow.data(), width,
                               fast.data());
                ASSERT_EQ(ref, fast) << width << " row " << y;
            }
        }
        // The vertical pass: 9 rows of `width` pixels, each list over them.
        const int32_t rows = 9;
        Frame block = NoiseFrame(width, rows, uint32_t(width + 1000));
        const Frame zeroRow(width, 0);
        ClistSet set;
        ASSERT_TRUE(ClistMake(set, 4, rows, 5, -0.5, 8.5, 2.25));
        LinearPlan plan;
        ASSERT_TRUE(LinearPlanMake(plan, 13, rows, -0.7, 8.9, 0.8));
        Frame ref(width + kGuards, kGuard), fast(width + kGuards, kGuard);
        for (int32_t y = 0; y < 5; ++y) {
            ApplyClistDown(set.lists[y], set.taps.get(), RowsOf(block, width).data(), 0, width,
                           ref.data());
            fastRows.clistDown(set.lists[y], set.taps.get(), RowsOf(block, width).data(), 0, width,
                               fast.data());
            ASSERT_EQ(ref, fast) << width << " row " << y;
        }
        for (int32_t y = 0; y < 13; ++y) {
            LinearDown(plan, y, RowsOf(block, width).data(), 0, rows, zeroRow.data(), width,
                       ref.data());
            fastRows.linearDown(plan, y, RowsOf(block, width).data(), 0, rows, zeroRow.data(),
                                width, fast.data());
            ASSERT_EQ(ref, fast) << width << " row " << y;
        }
    }
}

// Every instruction set this machine runs, against the plain references.
TEST(ResizeRows, FastRowsMatchTheReferencesOnEveryWidth) {
    for (CpuLevel level : LevelsToTest()) {
        SCOPED_TRACE(CpuLevelName(level));
        CheckRowsOnEveryWidth(ResizeRowsAt(level));
    }
}
// The walk over a far-away stretch is taken in one step with the same result.
TEST(ResizeRows, LinearWalkSkipsFarStretchesExactly) {
    Frame src = NoiseFrame(50, 1, 3);
    for (const auto &[a, b, n] : {std::tuple{-3000.25, 2000.75, 7}, std::tuple{-1e6, 60.0, 3},
                                  std::tuple{-77.5, 80.5, 4}}) {
        LinearPlan plan;
        ASSERT_TRUE(LinearPlanMake(plan, n, 50, a, b, (b - a) / (n - 1)));
        Frame fast(n), model(n);
        LinearResample(plan, src.data(), fast.data());
        ModelLinear(model.data(), n, src.data(), 50, a, b, (b - a) / (n - 1));
        EXPECT_EQ(fast, model) << a;
    }
}

// ---- Golden checksums -------------------------------------------------------------

TEST(ResizeGolden, WholeFrames) {
    GoldenFile golden("resize.txt");
    Frame src = PictureFrame(352, 240, 1);
    const struct {
        const char *command;
        int32_t outWidth, outHeight;
    } cases[] = {
        {"ZoomPan 1.8 1.8 0.3 -0.2 0", 0, 0},     {"ZoomPan 1.8 1.8 0.3 -0.2 1", 0, 0},
        {"ZoomPan 1.8 1.8 0.3 -0.2 2", 0, 0},     {"ZoomPan 1.8 1.8 0.3 -0.2 4", 0, 0},
        {"ZoomPan 1.8 1.8 0.3 -0.2 5", 0, 0},     {"ZoomPan 1.8 1.8 0.3 -0.2 6", 0, 0},
        {"ZoomPan 1.8 1.8 0.3 -0.2 7", 0, 0},     {"ZoomPan 0.45 0.7 -0.2 0.1 0", 0, 0},
        {"ZoomPan 0.45 0.7 -0.2 0.1 1", 0, 0},    {"ZoomPan 0.45 0.7 -0.2 0.1 3", 0, 0},
        {"ZoomPan 0.45 0.7 -0.2 0.1 6", 0, 0},    {"ZoomPan 0 0 0 0 1", 0, 0},
        {"ZoomPan 0.02 0.02 0 0 6", 0, 0},        {"ZoomPan 1 1 0 0 6", 500, 300},
        {"ZoomPan 1.2 1.2 0.1 0.1 1", 200, 120},  {"Resize [528 300] 1.25 1.25 0.15 -0.1 6", 0, 0},
        {"Resize [176 120] 1 1 0 0 1", 176, 120}, {"Resize [176 120] 1 1 0 0 7", 176, 120},
        {"Resize [703 481] 1 1 0 0 2", 703, 481}, {"Resize [703 481] 1 1 0 0 0", 703, 481},
        {"Resize [1 240] 1 1 0 0 5", 1, 240},
    };
    for (const auto &c : cases) {
        int32_t ow = c.outWidth, oh = c.outHeight;
        if (std::string(c.command).starts_with("Resize") && ow == 0) ow = 528, oh = 300;
        std::string key = GoldenKey(c.command);
        if (c.outWidth) {
            char size[32];
            std::snprintf(size, sizeof size, "_%dx%d", c.outWidth, c.outHeight);
            key += size;
        }
        for (CpuLevel level : LevelsToTest()) {
            const CpuLevelCap cap(level);
            const std::string sum = Checksum(RunEffect(c.command, {&src}, 352, 240, ow, oh).output);
            EXPECT_EQ(golden.Expect(key, sum), sum) << c.command << " at " << CpuLevelName(level);
        }
    }
}

}  // namespace
}  // namespace kve::test
