// The command language's scanners: tokens from the end, lists, numbers, colours.
#include "engine/scanner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "interface/pixel.h"

namespace kve {
namespace {

std::vector<std::string> AllTokens(std::string_view text) {
    std::vector<std::string> tokens;
    TokenScanner scanner(text);
    while (auto token = scanner.Next())
        tokens.emplace_back(*token);
    return tokens;
}

TEST(Scanner, TokensComeFromTheEndOfTheText) {
    using V = std::vector<std::string>;
    EXPECT_EQ(AllTokens("  0.1 0.2\t0.3  7  "), (V{"7", "0.3", "0.2", "0.1"}));
    EXPECT_EQ(AllTokens("1 [0 0] [(argb) 1 2 3 4]"), (V{"[(argb) 1 2 3 4]", "[0 0]", "1"}));
    EXPECT_EQ(AllTokens("[ 1   2 ]"), (V{"[ 1   2 ]"}));
    // A '[' glued to a word does not open a list.
    EXPECT_EQ(AllTokens("a x[1 2]"), (V{"2]", "x[1", "a"}));
    EXPECT_EQ(AllTokens("[1 2]x"), (V{"2]x", "[1"}));
    // Nesting is not understood: the last '[' after a blank wins.
    EXPECT_EQ(AllTokens("[a [b]]"), (V{"[b]]", "[a"}));
    EXPECT_EQ(AllTokens(""), V{});
    EXPECT_EQ(AllTokens(" \t "), V{});
    EXPECT_EQ(AllTokens("]"), (V{"]"}));
    EXPECT_EQ(AllTokens("[]"), (V{"[]"}));
}

TEST(Scanner, TokenKindsAndListItems) {
    EXPECT_EQ(TokenKind(" [1 2] "), 1);
    EXPECT_EQ(TokenKind("-12"), 2);
    EXPECT_EQ(TokenKind("12"), 2);
    EXPECT_EQ(TokenKind("1.5"), 0);
    EXPECT_EQ(TokenKind("-"), 0);
    EXPECT_EQ(TokenKind("[1"), 0);

    EXPECT_EQ(ItemCount("[1 2]"), 2);
    EXPECT_EQ(ItemCount("[  1\t 2  ]"), 2);
    EXPECT_EQ(ItemCount("[1,2]"), 1);
    EXPECT_EQ(ItemCount("[]"), 0);
    EXPECT_EQ(ItemCount("1 2"), -1);
    EXPECT_EQ(ItemText("[a  b c]", 1), std::string_view("b"));
    EXPECT_EQ(ItemText("[a b c]", 3), std::nullopt);
    EXPECT_EQ(ItemText("[a b c]", -1), std::nullopt);
    EXPECT_EQ(ItemText("a b", 0), std::nullopt);
}

TEST(Scanner, NumbersAreDigitsWithAtMostOneDot) {
    for (const char *ok : {"0", "-3", "2.9", ".", "-.", ".5", "5.", "007"})
        EXPECT_TRUE(IsNumber(ok)) << ok;
    for (const char *bad : {"", "-", "+1", "1e3", "1.2.3", "1 ", "--1", "0x10", "1,5"})
        EXPECT_FALSE(IsNumber(bad)) << bad;

    EXPECT_EQ(IntegerValue("2.9"), 2);
    EXPECT_EQ(IntegerValue("-2.9"), -2);
    EXPECT_EQ(IntegerValue(".9"), 0);
    EXPECT_EQ(IntegerValue("-"), 0);
    EXPECT_EQ(IntegerValue("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(IntegerValue("-99999999999999999999"), INT32_MIN);

    EXPECT_EQ(RealValue("0.1"), 0.1);
    EXPECT_EQ(RealValue("-2.5"), -2.5);
    EXPECT_EQ(RealValue("."), 0.0);
    EXPECT_EQ(RealValue("-."), 0.0);
    EXPECT_EQ(RealValue("5."), 5.0);
    EXPECT_TRUE(std::isinf(RealValue(std::string(400, '9'))));
    EXPECT_EQ(RealValue("0." + std::string(400, '0') + "1"), 0.0);
}

TEST(Scanner, ColoursAreArgbListsClampedPerChannel) {
    EXPECT_EQ(ParseColor("[(argb) 255 300 -4 12.7]"), PackPixel(255, 255, 0, 12));
    EXPECT_EQ(ParseColor("[ (argb)  1 2 3 4 ]"), PackPixel(1, 2, 3, 4));
    EXPECT_EQ(ParseColor("[(rgb) 1 2 3 4]"), std::nullopt);
    EXPECT_EQ(ParseColor("[(argb) 1 2 3]"), std::nullopt);
    EXPECT_EQ(ParseColor("[(argb) 1 2 3 4 5]"), std::nullopt);
    EXPECT_EQ(ParseColor("[(argb) 1 2 x 4]"), std::nullopt);
    EXPECT_EQ(ParseColor("(argb) 1 2 3 4"), std::nullopt);
}

TEST(Scanner, FloatConversionsSaturate) {
    EXPECT_EQ(TruncToInt(2.9), 2);
    EXPECT_EQ(TruncToInt(-2.9), -2);
    EXPECT_EQ(TruncToInt(1e300), INT32_MAX);
    EXPECT_EQ(TruncToInt(-1e300), INT32_MIN);
    EXPECT_EQ(TruncToInt(NAN), 0);
    EXPECT_EQ(RoundHalfAway(0.5), 1);
    EXPECT_EQ(RoundHalfAway(-0.5), -1);
    EXPECT_EQ(RoundHalfAway(0.0), 0);
    EXPECT_EQ(RoundHalfAway(0.49), 0);
}

}  // namespace
}  // namespace kve
