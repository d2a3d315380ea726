// The edge patterns and their row generator: the table, the ends of every
// transition, where the boundaries lie, the caller's transforms, the span
// lists the generator writes, and golden checksums of whole frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "effects/wipe/patterns.h"
#include "effects/wipe/wipe.h"
#include "effects/wipe/wipe_commands.h"
#include "interface/pixel.h"
#include "support/cpu_levels.h"
#include "support/frames.h"

namespace kve {
namespace {

using test::Frame;

using test::WipeCommand;

// The numbers the edge generator draws.
std::vector<int32_t> ExpectedNumbers() {
    std::vector<int32_t> list;
    const std::pair<int, int> ranges[] = {
        {1, 8},     {21, 26},   {41, 48},   {61, 68},   {71, 74},   {101, 114}, {127, 129},
        {201, 207}, {211, 214}, {221, 228}, {231, 236}, {241, 246}, {251, 254}, {261, 264}};
    for (auto [from, to] : ranges)
        for (int n = from; n <= to; ++n)
            list.push_back(n);
    return list;
}

// The numbers of the edge pattern table, in its order.
std::vector<int32_t> EdgeNumbers() {
    std::vector<int32_t> list;
    for (const WipePattern &pattern : WipePatterns())
        list.push_back(pattern.number);
    return list;
}

TEST(WipePatterns, TableHoldsEveryNumberOnceWithItsEdgeCount) {
    std::vector<int32_t> numbers;
    for (const WipePattern &pattern : WipePatterns()) {
        numbers.push_back(pattern.number);
        for (double p : {0.0, 0.5, 1.0}) {
            EdgeSet set;
            pattern.build({352, 240, p, 0.05}, set);
            EXPECT_EQ(set.n, pattern.edges) << pattern.number;
        }
    }
    EXPECT_EQ(numbers, ExpectedNumbers());
    // The full list holds them too, beside the round and the block numbers.
    const auto listed = WipeNumbers();
    for (int32_t number : ExpectedNumbers())
        EXPECT_TRUE(std::find(listed.begin(), listed.end(), number) != listed.end()) << number;
}

TEST(WipePatterns, KeyOfAnUnknownNumberIsZeroWithADiagnostic) {
    test::DiagCapture diag;
    WipeEdgeState state;
    EXPECT_EQ(WipeKeyAt(9, 1, 1, 0.5, state), 0.0);
    ASSERT_EQ(diag.Lines().size(), 1u);
    EXPECT_EQ(diag.Lines()[0], "Wipe:  Undefined Wipe Number");
}

TEST(WipePatterns, EdgeKeysAndTheirClamp) {
    EXPECT_EQ(EdgeKey(-1), 1.0);
    EXPECT_EQ(EdgeKey(0.25), 0.875);
    EXPECT_EQ(EdgeKey(0.75), 0.125);
    EXPECT_EQ(EdgeKey(2), 0.0);
    EXPECT_EQ(ClampedEdgeKey(0), 1.0);
    EXPECT_EQ(ClampedEdgeKey(1), 0.0);
    EXPECT_EQ(ClampedEdgeKey(1e-9), 0.9999999);
    EXPECT_EQ(ClampedEdgeKey(1 - 1e-9), 0.0000001);
    EXPECT_EQ(ClampedEdgeKey(0.75), 0.125);
}

// ---- the two ends of every transition -----------------------------------------

// Progress 0 gives B and progress 1 gives A: exactly for the bars and boxes;
// elsewhere products of clamped keys may leave thin soft lines whose keys lie
// within 1e-6 of the end, so those pixels carry the key's alpha and a colour
// within one step of the source.
TEST(WipePatterns, ProgressZeroShowsBAndOneShowsA) {
    const int32_t w = 96, h = 64;
    Frame a = test::PictureFrame(w, h, 1), b = test::PictureFrame(w, h, 2);
    const std::string rest = "0.05 [0 0] 1 1 0 [1 1] 0 [(argb) 255 255 0 0]";
    for (int32_t number : EdgeNumbers()) {
        const bool exact = number <= 26;
        for (int end : {0, 1}) {
            const Frame &source = end ? a : b;
            const auto run = test::RunEffect(WipeCommand(number, end, rest), {&a, &b}, w, h);
            if (exact) {
                EXPECT_EQ(run.output, source) << number << " at " << end;
                continue;
            }
            int lines = 0;
            for (size_t i = 0; i < source.size(); ++i) {
                const Pixel got = run.output[i], want = source[i];
                if (got == want) continue;
                ++lines;
                const bool close = std::abs(RedOf(got) - RedOf(want)) <= 1 &&
                                   std::abs(GreenOf(got) - GreenOf(want)) <= 1 &&
                                   std::abs(BlueOf(got) - BlueOf(want)) <= 1;
                ASSERT_TRUE(close && AlphaOf(got) == (end ? 255 : 0))
                    << number << " at " << end << " pixel " << i % w << "," << i / w;
            }
            // Thin lines only: never more than a few pixels per row.
            EXPECT_LE(lines, 4 * h) << number << " at " << end;
        }
    }
}

// ---- geometry on real frames --------------------------------------------------

// Flat frames and a one-pixel soft band: a pixel with A's colour has key 1,
// with B's colour key 0 (the alpha of a mixed pixel is its key's, so it is
// left out of the comparison).
struct Sides {
    int32_t w, h;
    Frame a, b, out;
    Sides(int32_t width, int32_t height, const std::string &command)
        : w(width),
          h(height),
          a(test::FilledFrame(width, height, PackPixel(255, 250, 200, 150))),
          b(test::FilledFrame(width, height, PackPixel(255, 5, 60, 90))) {
        out = test::RunEffect(command, {&a, &b}, w, h).output;
    }
    char At(int32_t x, int32_t y) const {
        const Pixel p = out[static_cast<size_t>(y) * w + x] | 0xFF;
        return p == a[0] ? 'A' : p == b[0] ? 'B' : 'm';
    }
    // Every pixel where `where` says 'A' or 'B' must show that side.
    void Expect(const std::function<char(int32_t, int32_t)> &where, const std::string &what) const {
        int wrong = 0;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const char want = where(x, y);
                if (want != '?' && At(x, y) != want && wrong++ < 5)
                    ADD_FAILURE() << what << ": pixel " << x << "," << y << " is " << At(x, y)
                                  << ", expected " << want;
            }
    }
};

std::string Sharp(int32_t number, double progress, const std::string &transform = "[0 0] 1 1 0") {
    return WipeCommand(number, progress, "0 " + transform + " [1 1] 0 [(argb) 255 0 0 0]");
}

TEST(WipeGeometry, BarsAndBoxesAtHalfWay) {
    // 352 x 240 with a one-pixel band: the bars cross the middle.
    Sides bar1(352, 240, Sharp(1, 0.5));
    bar1.Expect([](int32_t x, int32_t) { return x <= 175 ? 'A' : x >= 177 ? 'B' : '?'; }, "1");
    Sides bar2(352, 240, Sharp(2, 0.5));
    bar2.Expect([](int32_t, int32_t y) { return y <= 119 ? 'A' : y >= 121 ? 'B' : '?'; }, "2");
    Sides box3(352, 240, Sharp(3, 0.5));
    box3.Expect(
        [](int32_t x, int32_t y) {
            if (x <= 175 && y <= 119) return 'A';
            return x >= 177 || y >= 121 ? 'B' : '?';
        },
        "3");
    // 21 at half-way: a band a quarter of the width to each side of the middle.
    Sides band21(352, 240, Sharp(21, 0.5));
    band21.Expect(
        [](int32_t x, int32_t) {
            return x >= 89 && x <= 263 ? 'A' : x <= 87 || x >= 265 ? 'B' : '?';
        },
        "21");
}

TEST(WipeGeometry, IrisDiagonalAndClockAtHalfWay) {
    // 101: a square reaching a quarter of the width from the centre on all sides.
    Sides iris(352, 240, Sharp(101, 0.5));
    iris.Expect(
        [](int32_t x, int32_t y) {
            if (x >= 89 && x <= 263 && y >= 33 && y <= 207) return 'A';
            return x <= 87 || x >= 265 || y <= 31 || y >= 209 ? 'B' : '?';
        },
        "101");
    // 41: the edge lies on the diagonal from the top-right to the bottom-left corner.
    Sides diagonal(352, 240, Sharp(41, 0.5));
    diagonal.Expect(
        [](int32_t x, int32_t y) {
            const double d = x / 352.0 + y / 240.0;
            return d < 0.99 ? 'A' : d > 1.01 ? 'B' : '?';
        },
        "41");
    // 201: a hand sweeping clockwise from twelve o'clock; a quarter turn
    // uncovers the top-right quadrant, half a turn the right half.
    Sides quarter(352, 240, Sharp(201, 0.25));
    quarter.Expect(
        [](int32_t x, int32_t y) {
            if (x >= 178 && y <= 118) return 'A';
            return x <= 174 || y >= 122 ? 'B' : '?';
        },
        "201 at 0.25");
    Sides half(352, 240, Sharp(201, 0.5));
    half.Expect([](int32_t x, int32_t) { return x >= 178   ? 'A'
                                                : x <= 174 ? 'B'
                                                           : '?'; },
                "201 at 0.5");
}

TEST(WipeGeometry, RotationTurnsThePatternAboutTheCentre) {
    // 1 at a quarter on a square frame: A in the 15 left columns; turned by
    // 90 degrees it fills the bottom 15 rows instead.
    Sides turned(64, 64, Sharp(1, 0.25, "[0 0] 1 1 90"));
    turned.Expect([](int32_t, int32_t y) { return y >= 50 ? 'A' : y <= 46 ? 'B' : '?'; }, "90");
    Sides back(64, 64, Sharp(1, 0.25, "[0 0] 1 1 -90"));
    back.Expect([](int32_t, int32_t y) { return y <= 13 ? 'A' : y >= 17 ? 'B' : '?'; }, "-90");
}

TEST(WipeGeometry, ScaleStretchesAboutTheCentre) {
    // 1 at 0.375: the edge at column 132 (44 left of the centre) moves to
    // 88 left of it when stretched twice horizontally.
    Sides wide(352, 240, Sharp(1, 0.375, "[0 0] 2 1 0"));
    wide.Expect([](int32_t x, int32_t) { return x <= 86 ? 'A' : x >= 89 ? 'B' : '?'; }, "x2");
    // 2 at 0.375: the edge at row 90 (30 above the centre) moves to 15 above it.
    Sides squat(352, 240, Sharp(2, 0.375, "[0 0] 1 0.5 0"));
    squat.Expect([](int32_t, int32_t y) { return y <= 104 ? 'A' : y >= 106 ? 'B' : '?'; }, "y/2");
    // Scales at or below 0 act as 1.
    Sides plain(352, 240, Sharp(1, 0.375, "[0 0] 1 1 0"));
    Sides zero(352, 240, Sharp(1, 0.375, "[0 0] 0 -2 0"));
    EXPECT_EQ(plain.out, zero.out);
}

TEST(WipeGeometry, CentreOffsetMovesThePattern) {
    // [0.25 -0.125] on a 352-wide frame is 44 pixels right and 22 up.
    for (int32_t number : {101, 128, 211, 263}) {
        Sides centred(352, 240, Sharp(number, 0.4));
        Sides moved(352, 240, Sharp(number, 0.4, "[0.25 -0.125] 1 1 0"));
        moved.Expect(
            [&](int32_t x, int32_t y) {
                const int32_t sx = x - 44, sy = y + 22;
                if (sx < 0 || sy >= 240) return '?';
                const char side = centred.At(sx, sy);
                return side == 'm' ? '?' : side;
            },
            std::to_string(number));
    }
}

TEST(WipeGeometry, FixedNumbers211And212RunFromBToA) {
    Frame a = test::FilledFrame(80, 60, PackPixel(255, 250, 200, 150));
    Frame b = test::FilledFrame(80, 60, PackPixel(255, 5, 60, 90));
    for (int32_t number : {211, 212}) {
        for (int end : {0, 1}) {
            const auto run = test::RunEffect(
                WipeCommand(number, end, "0.05 [0 0] 1 1 0 [1 1] 0 [(argb) 0 0 0 0]"), {&a, &b}, 80,
                60);
            int same = 0;
            for (Pixel p : run.output)
                same += (p == (end ? a[0] : b[0]));
            EXPECT_GE(same, 80 * 60 - 2 * 60) << number << " at " << end;
        }
    }
}

// ---- the generator's rows -------------------------------------------------------

struct RowGenerator : test::RowGenerator<WipeGenerate> {
    using test::RowGenerator<WipeGenerate>::RowGenerator;
    const WipeEdgeState &State() const { return *scratch.edges; }
};

constexpr auto Args = test::RowArgs;

// The span lists are well formed, the keys inside spans are the pattern's
// keys, and each hard run is hard: every pixel in it has the key 0 or 1 that
// selects the source the run is copied from.
TEST(WipeGenerator, SpansAreOrderedAndHardRunsAreHard) {
    const int32_t w = 200, h = 90;
    struct Transform {
        double rotation, xScale, yScale;
        int32_t dx, dy;
    };
    for (const Transform &t :
         {Transform{0, 1, 1, 0, 0}, Transform{17, 1.4, 0.7, 9, -5}, Transform{-120, 1, 1, 0, 0}})
        for (int32_t number : EdgeNumbers())
            for (double p : {0.3, 0.62}) {
                WipeRowArgs args = Args(number, p, w, h, 0.04);
                args.rotation = t.rotation;
                args.xScale = t.xScale;
                args.yScale = t.yScale;
                args.xOffset = t.dx;
                args.yOffset = t.dy;
                RowGenerator gen(args);
                int bad = 0;
                for (int32_t y = 0; y < h && bad < 3; ++y) {
                    ASSERT_EQ(gen.Row(y), 0);
                    const int32_t *s = gen.scratch.spans;
                    const float *keys = gen.scratch.keys;
                    WipeEdgeState state = gen.State();
                    SetWipeRow(state, y);
                    auto checkHard = [&](int32_t from, int32_t to, float decider) {
                        for (int32_t x = from; x < to; ++x) {
                            const double k = PatternKeyAt(state, x);
                            if ((k >= 0.5) != (decider >= 0.5) || (k != 0 && k != 1)) {
                                ADD_FAILURE()
                                    << number << " p " << p << " rot " << t.rotation << " row " << y
                                    << " x " << x << " key " << k << " run decided by " << decider;
                                ++bad;
                                return;
                            }
                        }
                    };
                    if (s[0] == w) {
                        checkHard(0, w, keys[0]);
                        continue;
                    }
                    checkHard(0, s[0], keys[s[0]]);
                    for (int k = 0; k < kMaxSoftSpans; ++k) {
                        ASSERT_LE(s[2 * k], s[2 * k + 1]);
                        ASSERT_LT(s[2 * k + 1], w);
                        for (int32_t x = s[2 * k]; x <= s[2 * k + 1]; ++x)
                            ASSERT_EQ(keys[x], static_cast<float>(PatternKeyAt(state, x)))
                                << number << " row " << y << " x " << x;
                        if (s[2 * k + 1] == w - 1) break;
                        ASSERT_LT(k, kMaxSoftSpans - 1);
                        ASSERT_GT(s[2 * k + 2], s[2 * k + 1]);
                        checkHard(s[2 * k + 1] + 1, std::min(s[2 * k + 2], w), keys[s[2 * k + 1]]);
                        if (s[2 * k + 2] >= w) break;
                    }
                }
            }
}

// A row with more soft stretches than sixteen spans (the two zig-zags of 73
// turned across the rows, close together early on): the 16th span runs to the
// end of the row and every one of its pixels is mixed by its own key.
TEST(WipeGenerator, SixteenthSpanTakesTheRestOfTheRow) {
    const int32_t w = 352, h = 240;
    const double p = 0.02, softness = 0.004;
    WipeRowArgs args = Args(73, p, w, h, softness);
    args.rotation = 90;
    RowGenerator gen(args);
    int32_t crowded = -1;
    for (int32_t y = 0; y < h && crowded < 0; ++y) {
        gen.Row(y);
        const int32_t *s = gen.scratch.spans;
        if (s[31] == w - 1 && s[30] < w - 40) crowded = y;
    }
    ASSERT_GE(crowded, 0) << "no row needs more than 16 spans";
    const int32_t start = gen.scratch.spans[30];
    WipeEdgeState state = gen.State();
    SetWipeRow(state, crowded);
    int hardKeys = 0;
    for (int32_t x = start; x < w; ++x) {
        const double k = PatternKeyAt(state, x);
        ASSERT_EQ(gen.scratch.keys[x], static_cast<float>(k));
        hardKeys += (k == 0 || k == 1);
    }
    EXPECT_GT(hardKeys, 0);  // the merged span holds stretches a hard run would have copied

    Frame a = test::PictureFrame(w, h, 1), b = test::PictureFrame(w, h, 2);
    const auto run = test::RunEffect(
        WipeCommand(73, p, "0.004 [0 0] 1 1 90 [1 1] 0 [(argb) 0 0 0 0]"), {&a, &b}, w, h);
    for (int32_t x = start; x < w; ++x) {
        const float k = gen.scratch.keys[x];
        EXPECT_EQ(AlphaOf(run.output[static_cast<size_t>(crowded) * w + x]),
                  static_cast<int32_t>(255 * k + 0.5))
            << x;
    }
}

// The zig-zags decide pixels clearly on one side of their teeth by bounds
// instead of edges; the bounds must agree with the edges wherever they answer.
TEST(WipeGenerator, ZigZagQuickOutAgreesWithTheEdges) {
    for (int32_t number : {71, 72, 73, 74})
        for (double p : {0.1, 0.5, 0.95})
            for (double edge : {0.01, 0.2}) {
                WipeEdgeState state;
                ASSERT_TRUE(SetUpWipePattern(Args(number, p, 176, 120, edge), state));
                ASSERT_FALSE(state.transformed);
                for (int32_t y = 0; y < 120; ++y) {
                    SetWipeRow(state, y);
                    WipeEdgeState edgesOnly = state;
                    edgesOnly.transformed = true;  // the quick-out applies only without transforms
                    for (int32_t x = 0; x < 176; ++x)
                        ASSERT_EQ(PatternKeyAt(state, x), PatternKeyAt(edgesOnly, x))
                            << number << " p " << p << " at " << x << "," << y;
                }
            }
}

// Inside the zig-zags' shortcut regions the generator leaves out breakpoints
// that only split a hard run: its span lists and rows are those of the same
// edges generated without the shortcut (a state marked as transformed), on
// every row of frames whose teeth cross the regions' bounds in many ways.
TEST(WipeGenerator, ZigZagShortcutRegionsLeaveTheSpansAlone) {
    const int32_t w = 233, h = 131;
    const Frame a = test::PictureFrame(w, h, 1), b = test::PictureFrame(w, h, 2);
    for (int32_t number : {71, 73})
        for (double p : {0.02, 0.2, 0.5, 0.73, 0.99})
            for (double edge : {0.003, 0.04, 0.3}) {
                const WipeRowArgs args = Args(number, p, w, h, edge);
                RowGenerator quick(args), edgesOnly(args);
                ASSERT_EQ(edgesOnly.Row(0), 0);
                edgesOnly.scratch.edges->transformed = true;
                edgesOnly.row.first = false;
                const WipeMix mix{0, edge, 0};
                std::vector<Pixel> want(w), got(w);
                for (int32_t y = 0; y < h; ++y) {
                    ASSERT_EQ(quick.Row(y), 0);
                    edgesOnly.row.y = y;
                    ASSERT_EQ(WipeGenerate(edgesOnly.row, edgesOnly.scratch), 0);
                    ASSERT_EQ(0, std::memcmp(quick.scratch.spans, edgesOnly.scratch.spans,
                                             kSpanEntries * sizeof(int32_t)))
                        << number << " p " << p << " edge " << edge << " row " << y;
                    const Pixel *rowA = &a[static_cast<size_t>(y) * w];
                    const Pixel *rowB = &b[static_cast<size_t>(y) * w];
                    ComposeWipeRow(edgesOnly.scratch.spans, edgesOnly.scratch.keys, rowA, rowB,
                                   want.data(), w, mix);
                    ComposeWipeRow(quick.scratch.spans, quick.scratch.keys, rowA, rowB, got.data(),
                                   w, mix);
                    ASSERT_EQ(got, want)
                        << number << " p " << p << " edge " << edge << " row " << y;
                }
            }
}

// The row shortcuts of 1, 2 and 21 (rotation exactly 0) give the frames the
// general path gives (a rotation too small to apply disables only the shortcuts).
TEST(WipeGenerator, RowShortcutsAgreeWithTheGeneralPath) {
    const int32_t w = 120, h = 90;
    Frame a = test::PictureFrame(w, h, 1), b = test::PictureFrame(w, h, 2);
    for (int32_t number : {1, 2, 21})
        for (double p : {0.3, 0.55, 0.81})
            for (const std::string scale : {"1 1", "1.3 0.6"}) {
                auto frame = [&](const std::string &rotation) {
                    return test::RunEffect(WipeCommand(number, p,
                                                       "0.07 [0.1 0.2] " + scale + " " + rotation +
                                                           " [1 1] 0.01 [(argb) 255 255 0 0]"),
                                           {&a, &b}, w, h)
                        .output;
                };
                EXPECT_EQ(frame("0"), frame("0.000001")) << number << " " << p << " " << scale;
            }
}

// The pair key loop the generator runs gives the reference loop's keys bit for
// bit on every range width from 1 to 255 (odd and even, ranges reaching left
// of the frame), for every pattern, with and without the zig-zags' shortcut,
// and writes nothing outside its range; the compiled single key is PatternKeyAt's.
TEST(WipeGenerator, EveryLevelsKeyLoopMatchesTheReference) {
    const std::vector<CpuLevel> cpus = test::LevelsToTest();
    for (const CpuLevel cpu : cpus) {
        constexpr int32_t kBase = 64, kSpan = 320;  // keys cover x in [-64, 256)
        constexpr uint32_t kGuard = 0x7FC0DEADu;    // a NaN no key loop writes
        int softKeys = 0;
        for (const WipePattern &pattern : WipePatterns()) {
            const WipeKeyLoops loops = KeyLoopsOf(pattern);
            struct Setting {
                double progress, edge, rotation;
                int32_t y;
            };
            for (const Setting &set : {Setting{0.5, 0.3, 0, 50}, Setting{0.37, 0.25, 33, 71}}) {
                WipeRowArgs args = Args(pattern.number, set.progress, 160, 120, set.edge);
                args.rotation = set.rotation;
                WipeEdgeState state;
                ASSERT_TRUE(SetUpWipePattern(args, state));
                SetWipeRow(state, set.y);
                for (int32_t width = 1; width <= 255; ++width) {
                    const int32_t from = 80 - width / 2, to = from + width - 1;
                    std::vector<uint32_t> want(kSpan, kGuard), got(kSpan, kGuard);
                    loops.reference(state, from, to,
                                    reinterpret_cast<float *>(want.data()) + kBase);
                    loops.rows.For(cpu)(state, from, to,
                                        reinterpret_cast<float *>(got.data()) + kBase);
                    for (int32_t i = 0; i < kSpan; ++i) {
                        const int32_t x = i - kBase;
                        if (x < from || x > to) {
                            ASSERT_EQ(got[i], kGuard) << pattern.number << " wrote " << x;
                        } else {
                            ASSERT_EQ(got[i], want[i])
                                << pattern.number << " rotation " << set.rotation << " width "
                                << width << " x " << x;
                        }
                    }
                    if (width == 255) {
                        for (int32_t x = from; x <= to; ++x) {
                            float k;
                            std::memcpy(&k, &want[x + kBase], sizeof k);
                            softKeys += 0 < k && k < 1;
                        }
                        // The generator's compiled single keys, also at half
                        // columns, in batches of every count up to 20.
                        std::vector<double> xs;
                        for (int32_t x = from; x <= to; ++x)
                            xs.insert(xs.end(), {double(x), x + 0.5});
                        for (int32_t count = 1; count <= 20; ++count)
                            for (size_t i = 0; i + count <= xs.size(); i += count) {
                                std::vector<double> keys(count + 1, -2);
                                loops.at.For(cpu)(state, &xs[i], count, keys.data());
                                for (int32_t j = 0; j < count; ++j)
                                    ASSERT_EQ(keys[j], PatternKeyAt(state, xs[i + j]))
                                        << pattern.number << " at " << xs[i + j];
                                ASSERT_EQ(keys[count], -2);
                            }
                    }
                }
            }
        }
        EXPECT_GT(softKeys, 10000);  // the ranges cross the patterns' soft bands
    }
}

// The zig-zags' wide loops take each chunk's teeth from which edges are whole
// there, and the star runs eight wide: on every row of frames whose teeth
// fall on chunks in many ways (thin and wide bands, early and late progress,
// a stretch that leaves the shortcut off), the whole row's keys at every
// level are the reference's.
TEST(WipeGenerator, ZigZagsAndStarKeysMatchTheReferenceOnEveryRow) {
    const int32_t w = 301, h = 97;
    const std::vector<CpuLevel> cpus = test::LevelsToTest();
    for (const CpuLevel cpu : cpus)
        for (const int32_t number : {71, 72, 73, 74, 128})
            for (const double progress : {0.08, 0.31, 0.5, 0.77, 0.96})
                for (const double edge : {0.004, 0.05, 0.3})
                    for (const double stretch : {1.0, 1.3}) {
                        WipeRowArgs args = Args(number, progress, w, h, edge);
                        args.xScale = stretch;
                        WipeEdgeState state;
                        ASSERT_TRUE(SetUpWipePattern(args, state));
                        const WipeKeyLoops loops = KeyLoopsOf(*state.pattern);
                        std::vector<float> want(w + 1), got(w + 1);
                        for (int32_t y = 0; y < h; ++y) {
                            SetWipeRow(state, y);
                            want[w] = got[w] = -1;
                            loops.reference(state, 0, w - 1, want.data());
                            loops.rows.For(cpu)(state, 0, w - 1, got.data());
                            ASSERT_EQ(0,
                                      std::memcmp(got.data(), want.data(), sizeof(float) * (w + 1)))
                                << CpuLevelName(cpu) << " " << number << " p " << progress
                                << " edge " << edge << " stretch " << stretch << " y " << y;
                        }
                    }
}

// ---- golden frames --------------------------------------------------------------

TEST(WipeGolden, EveryNumberAtThreeProgressValuesAndTransformed) {
    test::ExpectWipeGoldens("wipe.txt", EdgeNumbers());
}

}  // namespace
}  // namespace kve
