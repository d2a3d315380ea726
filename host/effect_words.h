// Words about effects for the people who call them, derived from the effect
// table so that every host built on the library (the kve tool, the Python
// module) describes a new row the moment it is added: usage lines, what each
// parameter must be, refusals explained, near names for a mistyped one.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/effect_table.h"

namespace kvehost {

// The blank-separated words of a text.
std::vector<std::string> SplitWords(std::string_view text);

// The word the dispatcher reads at the head of a command: after spaces and
// tabs, up to the next space or tab.
std::string CommandWord(std::string_view command);

// How many input frames the effect reads: its image letters, or two for the
// composite transitions, which run between a first and a second frame.
int ImagesNeeded(const kve::EffectRow &row);

// The text parameters of an effect as a usage line: "Wipe <number> <progress> ...".
std::string UsageLine(const kve::EffectRow &row);

// What the text of a parameter letter must be, as a phrase that completes
// "parameter 3 (softness) must be ...": "a number", "a coordinate [x y]".
const char *KindOf(char letter);

// A longer description of a parameter letter, for listings.
const char *DescribeKind(char letter);

// One text parameter of an effect: its word from the table and its letter.
struct ParameterWord {
    std::string name;
    char letter;  // 0 when the table names more words than the signature has letters
};
// The text parameters in command order; composite transitions, which read
// their own text, list their words with no letters.
std::vector<ParameterWord> Parameters(const kve::EffectRow &row);

// Turns a refused-parameter diagnostic ("<Wipe>+9: bad real") into the
// parameter's place, name and what it must be; other texts are kept as they are.
std::string Explain(const kve::EffectRow &row, const std::string &line);

// Why an effect drew nothing when it reported no diagnostic.
inline constexpr const char *kSilentRefusal =
    "a parameter is missing, a colour is not [(argb) a r g b], or the output is empty";

// "Wipe refused its parameters", each diagnostic explained on a line of its
// own (or `fallback` when there was none), and the usage line.
std::string RefusalMessage(const kve::EffectRow &row, const std::vector<std::string> &lines,
                           const std::string &fallback);

// Effect names close to a mistyped one: equal but for case, starting the
// same way, or a few edits away; best first, at most `limit`.
std::vector<std::string> NearNames(std::string_view word, size_t limit = 4);

// "unknown effect "Wpie" (near names: Wipe)", or "empty command".
std::string UnknownMessage(std::string_view word);

}  // namespace kvehost
