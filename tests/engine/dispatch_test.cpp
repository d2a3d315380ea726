// Dispatch of command texts to the effect table, and the table's own rules.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "engine/drivers.h"
#include "engine/effect_run.h"
#include "engine/effect_table.h"
#include "support/frames.h"

namespace kve::test {
namespace {

TEST(Dispatch, MatchesTheWholeWordExactly) {
    Frame a = NoiseFrame(6, 3, 1);
    Frame negated = a;
    for (uint32_t &w : negated)
        w = ~w;
    EXPECT_EQ(RunEffect("   Negate", {&a}, 6, 3).output, negated);
    EXPECT_EQ(RunEffect("\tNegate\tsome words", {&a}, 6, 3).output, negated);
    // Negate takes no text parameters: extra words are ignored.
    EXPECT_EQ(RunEffect("Negate 1 2 [3 4]", {&a}, 6, 3).output, negated);

    for (const char *unknown : {"negate", "Negat", "NegateX", "", "   ", "\t", "BlurMotionFilterX",
                                "AVeryLongWordOfNineteenPlus"}) {
        RunResult run = RunEffect(unknown, {&a}, 6, 3);
        EXPECT_EQ(run.result, -4) << unknown;
        EXPECT_EQ(run.output, FilledFrame(6, 3, 0xDEADBEEF)) << unknown;
    }
}

KVE_LINE_OP(NoOpLineOp) {}

TEST(Dispatch, OutputSizeOfZeroStandsForTheInputSize) {
    static int32_t seenWidth, seenHeight;
    EffectRow row{.name = "Probe",
                  .signature = "I",
                  .driver = SimpleLineDriver,
                  .prepare = [](const ImageList &, const CoordTexts &, ArgBlock &,
                                const OutputList &, EffectJob &job) -> unsigned {
                      seenWidth = job.outWidth;
                      seenHeight = job.outHeight;
                      return 0;
                  },
                  .lineOp = NoOpLineOp};
    Frame a = NoiseFrame(6, 3, 1), out = FilledFrame(6, 100, 0);
    uint32_t *inputs[] = {a.data(), nullptr};
    RunEffectRow(row, "", inputs, 6, 3, out.data(), 0, 100, nullptr);
    EXPECT_EQ(seenWidth, 6);
    EXPECT_EQ(seenHeight, 100);
    RunEffectRow(row, "", inputs, 6, 3, out.data(), 5, 0, nullptr);
    EXPECT_EQ(seenWidth, 5);
    EXPECT_EQ(seenHeight, 3);
}

int CountLetters(std::string_view signature, bool images) {
    int count = 0;
    for (char c : signature)
        count += (c == 'I') == images;
    return count;
}

int CountWords(std::string_view text) {
    std::istringstream words{std::string(text)};
    std::string word;
    int count = 0;
    while (words >> word)
        ++count;
    return count;
}

TEST(EffectTable, RowsAreConsistent) {
    std::set<std::string> names;
    std::set<int32_t> ids;
    for (const EffectRow &row : EffectTable()) {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(names.insert(row.name).second) << "duplicate name";
        EXPECT_LE(std::string_view(row.name).size(), 16u);
        EXPECT_EQ(FindEffect(row.name), &row);
        if (row.transition) {
            EXPECT_EQ(row.id, -1);
            EXPECT_EQ(row.driver, nullptr);
            continue;
        }
        EXPECT_TRUE(ids.insert(row.id).second) << "duplicate id";
        ASSERT_NE(row.driver, nullptr);
        ASSERT_NE(row.signature, nullptr);
        // Every signature stays within the argument blocks.
        const std::string_view sig = row.signature;
        int images = 0, reals = 0, ints = 0, coords = 0, sizes = 0, colors = 0;
        for (char c : sig) {
            switch (c) {
                case 'I':
                    ++images;
                    break;
                case 'r':
                case 'n':
                    ++reals;
                    break;
                case 'i':
                case 'q':
                case 'f':
                    ++ints;
                    break;
                case 'C':
                    coords += 2;
                    break;
                case 'R':
                    coords += 4;
                    break;
                case 'S':
                    ++sizes;
                    break;
                case 'c':
                    ++colors;
                    break;
                default:
                    ADD_FAILURE() << "letter " << c;
            }
        }
        EXPECT_LE(images, kMaxImages);
        EXPECT_LE(reals, kMaxReals);
        EXPECT_LE(ints, kMaxInts);
        EXPECT_LE(coords, kMaxPoints);
        EXPECT_LE(sizes, kMaxSizes);
        EXPECT_LE(colors, kMaxColors);
        // One parameter word per text letter, for listings.
        EXPECT_EQ(CountWords(row.params), CountLetters(sig, false));
    }
}

TEST(EffectTable, EveryExampleRunsWithoutADiagnostic) {
    Frame a = PictureFrame(64, 48, 1), b = PictureFrame(64, 48, 2), c = PictureFrame(64, 48, 3);
    for (const EffectRow &row : EffectTable()) {
        SCOPED_TRACE(row.example);
        ASSERT_TRUE(std::string_view(row.example).starts_with(row.name));
        // Generous output: effects that size their own output stay inside it.
        Frame out = FilledFrame(1024, 1024, 0);
        std::vector<uint32_t *> inputs{a.data(), b.data(), c.data(), nullptr};
        DiagCapture diag;
        EXPECT_EQ(KVE_EffectBySize(row.example, inputs.data(), 64, 48, out.data(), 0, 0, nullptr),
                  0);
        EXPECT_TRUE(diag.Lines().empty()) << diag.Lines().front();
    }
}

}  // namespace
}  // namespace kve::test
