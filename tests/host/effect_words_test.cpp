// The words hosts show about effects, and the guards around their calls.
#include "host/effect_words.h"

#include <gtest/gtest.h>

#include <thread>

#include "engine/diag.h"
#include "host/run_guard.h"

namespace kvehost {
namespace {

using Lines = std::vector<std::string>;

const kve::EffectRow &Row(const char *name) {
    const kve::EffectRow *row = kve::FindEffect(name);
    if (!row) throw std::runtime_error(std::string("no row ") + name);
    return *row;
}

TEST(EffectWords, ExplainNamesTheRefusedParameterCountingFromTheSignatureEnd) {
    const kve::EffectRow &wipe = Row("Wipe");  // "IIinnCnnnSnc"
    EXPECT_EQ(Explain(wipe, "<Wipe>+7: bad real"),
              "<Wipe>+7: bad real: parameter 3 (softness) must be a number");
    EXPECT_EQ(Explain(wipe, "<Wipe>+6: bad coordinate"),
              "<Wipe>+6: bad coordinate: parameter 4 (centre) must be a coordinate [x y]");
    EXPECT_EQ(Explain(wipe, "<Wipe>+11: bad image"),
              "<Wipe>+11: bad image (an input frame is missing)");
    // Texts that are not refusals of this effect pass unchanged.
    for (const char *line : {"<Wipe> output frame smaller than the input frames",
                             "<Add>+0: bad image", "<Wipe>+99: bad real", "<Wipe>+x: bad real"})
        EXPECT_EQ(Explain(wipe, line), line);
}

TEST(EffectWords, ParametersPairTheTableWordsWithTheirLetters) {
    const std::vector<ParameterWord> wipe = Parameters(Row("Wipe"));
    ASSERT_EQ(wipe.size(), 10u);
    EXPECT_EQ(wipe[0].name, "number");
    EXPECT_EQ(wipe[0].letter, 'i');
    EXPECT_EQ(wipe[3].letter, 'C');
    EXPECT_EQ(wipe[9].letter, 'c');
    EXPECT_TRUE(Parameters(Row("Negate")).empty());
    // Transitions read their own text: words without letters.
    for (const ParameterWord &word : Parameters(Row("Push")))
        EXPECT_EQ(word.letter, 0);
}

TEST(EffectWords, UsageLinesAndInputCounts) {
    EXPECT_EQ(UsageLine(Row("Dissolve")), "Dissolve <mix>   (2 inputs)");
    EXPECT_EQ(UsageLine(Row("Negate")), "Negate   (1 input)");
    EXPECT_EQ(ImagesNeeded(Row("Composite")), 3);
    EXPECT_EQ(ImagesNeeded(Row("Color1")), 0);
    EXPECT_EQ(ImagesNeeded(Row("Blend")), 2);
}

TEST(EffectWords, CommandWordIsWhatTheDispatcherReads) {
    EXPECT_EQ(CommandWord(" \tWipe 1 2"), "Wipe");
    EXPECT_EQ(CommandWord("Add"), "Add");
    EXPECT_EQ(CommandWord("   "), "");
}

TEST(EffectWords, NearNamesPutCaseAndPrefixMatchesBeforeEdits) {
    EXPECT_EQ(NearNames("negate"), Lines{"Negate"});
    EXPECT_EQ(NearNames("Wpie").front(), "Wipe");
    EXPECT_EQ(NearNames("mirror").size(), 2u);
    EXPECT_EQ(NearNames("add").front(), "Add");
    EXPECT_LE(NearNames("Mxx").size(), 4u);
    EXPECT_TRUE(NearNames("Zebrafish").empty());
    EXPECT_TRUE(NearNames("").empty());
    EXPECT_EQ(UnknownMessage("Wpie"), "unknown effect \"Wpie\"; near names: Wipe");
    EXPECT_EQ(UnknownMessage(""), "empty command");
}

TEST(EffectWords, RefusalMessagesExplainEveryLineAndEndWithTheUsage) {
    const std::string message =
        RefusalMessage(Row("Fade"), {"<Fade>+0: bad real", "<Fade> other"}, "unused");
    EXPECT_EQ(message,
              "Fade refused its parameters\n  <Fade>+0: bad real: parameter 1 (level) must be a "
              "number\n  <Fade> other\n  usage: Fade <level>   (1 input)");
    EXPECT_EQ(RefusalMessage(Row("Fade"), {}, "why"),
              "Fade refused its parameters (why)\n  usage: Fade <level>   (1 input)");
}

TEST(RunGuard, DiagnosticsGoToTheScopeOfTheThreadThatRaisedThem) {
    InstallDiagnosticCapture(nullptr);
    {
        DiagnosticScope outer;
        std::vector<std::string> otherThread;
        std::thread([&] {
            DiagnosticScope inner;
            kve::Diag_Message("<B> on the other thread");
            otherThread = inner.Lines();
        }).join();
        kve::Diag_Report("<A>+", 2, "real");
        {
            DiagnosticScope nested;
            kve::Diag_Message("<C> nested");
            EXPECT_EQ(nested.Lines(), Lines{"<C> nested"});
        }
        EXPECT_EQ(outer.Lines(), Lines{"<A>+2: bad real"});
        EXPECT_EQ(otherThread, Lines{"<B> on the other thread"});
    }
    kve::SetDiagnosticSink(nullptr);
}

}  // namespace
}  // namespace kvehost
