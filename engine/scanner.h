// The small scanners of the command language: tokens handed out from the end
// of a text, bracketed lists, numbers and colours.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/job.h"

namespace kve {

inline bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view text);

// Hands out the tokens of a text from the LAST to the first. A token is a
// bracketed list "[...]" whose '[' starts the text or follows a blank, or else
// a run of non-blank characters.
class TokenScanner {
  public:
    explicit TokenScanner(std::string_view text) : rest_(text) {}
    std::optional<std::string_view> Next();

  private:
    std::string_view rest_;
};

// 1 for a bracketed list, 2 for an optional '-' followed by digits only, else 0.
int TokenKind(std::string_view token);
// Number of blank-separated words between the brackets, or -1 when not a list.
int ItemCount(std::string_view token);
// Word k (from 0) between the brackets, if there is one.
std::optional<std::string_view> ItemText(std::string_view token, int k);
// An optional '-', then one or more digits or '.', with at most one '.'.
bool IsNumber(std::string_view text);
// The sign and the digits before the '.', saturated to the int32 range.
int32_t IntegerValue(std::string_view number);
// The decimal value of a number, independent of the process locale.
double RealValue(std::string_view number);
// "[(argb) a r g b]" with four numbers; the components are clamped to 0..255.
std::optional<Pixel> ParseColor(std::string_view token);

// Float to int32 by truncation toward zero, saturating instead of overflowing
// (NaN gives 0): the library's conversion for values that come from the host.
int32_t TruncToInt(double value);
// Halves away from zero: values above 0 get 0.5 added, others 0.5 subtracted.
int32_t RoundHalfAway(double value);

}  // namespace kve
