#include "host/effect_words.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "engine/scanner.h"

namespace kvehost {

namespace {

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// Edits (insert, delete, replace) between two short words.
size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<size_t> previous(b.size() + 1), current(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        previous[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t replace = previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, replace});
        }
        std::swap(previous, current);
    }
    return previous[b.size()];
}

// The signature letter of parameter `textPosition` (image letters skipped).
char LetterOfParameter(std::string_view signature, size_t textPosition) {
    for (const char letter : signature) {
        if (letter == 'I') continue;
        if (textPosition == 0) return letter;
        --textPosition;
    }
    return 0;
}

}  // namespace

std::vector<std::string> SplitWords(std::string_view text) {
    std::vector<std::string> words;
    std::istringstream in{std::string(text)};
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

std::string CommandWord(std::string_view command) {
    while (!command.empty() && kve::IsBlank(command.front()))
        command.remove_prefix(1);
    return std::string(command.substr(0, command.find_first_of(" \t")));
}

int ImagesNeeded(const kve::EffectRow &row) {
    if (row.transition || !row.signature) return 2;
    const std::string_view signature = row.signature;
    return static_cast<int>(std::count(signature.begin(), signature.end(), 'I'));
}

std::string UsageLine(const kve::EffectRow &row) {
    std::string line = row.name;
    for (const std::string &word : SplitWords(row.params))
        line += " <" + word + ">";
    const int images = ImagesNeeded(row);
    if (images > 0)
        line += "   (" + std::to_string(images) + (images == 1 ? " input)" : " inputs)");
    return line;
}

const char *KindOf(char letter) {
    switch (letter) {
        case 'C':
            return "a coordinate [x y]";
        case 'R':
            return "a rectangle [x1 y1 x2 y2]";
        case 'S':
            return "a size [width height]";
        case 'c':
            return "a colour [(argb) alpha red green blue]";
        case 'f':
            return "the format word (argb)";
        case 'i':
            return "a number (its integer part is used)";
        case 'q':
            return "a whole number";
        default:
            return "a number";
    }
}

const char *DescribeKind(char letter) {
    switch (letter) {
        case 'C':
            return "coordinate [x y]: [0 0] is the centre, 1 is half the frame width";
        case 'R':
            return "rectangle [x1 y1 x2 y2] in centred coordinates";
        case 'S':
            return "size [width height] in pixels";
        case 'c':
            return "colour [(argb) alpha red green blue], each 0-255";
        case 'f':
            return "the word (argb)";
        case 'i':
            return "number (its integer part is used)";
        case 'q':
            return "whole number (quality)";
        case 'n':
        case 'r':
            return "number";
        default:
            return "";
    }
}

std::vector<ParameterWord> Parameters(const kve::EffectRow &row) {
    const std::vector<std::string> names = SplitWords(row.params ? row.params : "");
    const std::string_view signature = row.signature ? row.signature : "";
    size_t letters = 0;
    for (const char letter : signature)
        letters += letter != 'I';
    std::vector<ParameterWord> parameters;
    for (size_t k = 0; k < std::max(names.size(), letters); ++k)
        parameters.push_back({k < names.size() ? names[k] : "parameter-" + std::to_string(k + 1),
                              LetterOfParameter(signature, k)});
    return parameters;
}

std::string Explain(const kve::EffectRow &row, const std::string &line) {
    if (!row.signature) return line;
    // The number after the prefix counts signature letters from the END.
    const std::string head = std::string("<") + row.name + ">+";
    if (line.compare(0, head.size(), head) != 0) return line;
    size_t at = head.size();
    long index = 0;
    while (at < line.size() && at < head.size() + 6 && line[at] >= '0' && line[at] <= '9')
        index = index * 10 + (line[at++] - '0');
    if (at == head.size() || line.compare(at, 6, ": bad ") != 0) return line;
    const std::string_view signature = row.signature;
    const long position = static_cast<long>(signature.size()) - 1 - index;
    if (position < 0) return line;
    const char letter = signature[static_cast<size_t>(position)];
    if (letter == 'I') return line + " (an input frame is missing)";
    const auto textPosition = std::count_if(signature.begin(), signature.begin() + position,
                                            [](char c) { return c != 'I'; });
    const std::vector<std::string> names = SplitWords(row.params);
    std::string what = "parameter " + std::to_string(textPosition + 1);
    if (static_cast<size_t>(textPosition) < names.size())
        what += " (" + names[static_cast<size_t>(textPosition)] + ")";
    return line + ": " + what + " must be " + KindOf(letter);
}

std::string RefusalMessage(const kve::EffectRow &row, const std::vector<std::string> &lines,
                           const std::string &fallback) {
    std::string message = std::string(row.name) + " refused its parameters";
    if (lines.empty()) message += " (" + fallback + ")";
    for (const std::string &line : lines)
        message += "\n  " + Explain(row, line);
    message += "\n  usage: " + UsageLine(row);
    return message;
}

std::vector<std::string> NearNames(std::string_view word, size_t limit) {
    const std::string lower = Lower(word);
    if (lower.empty()) return {};
    // Score: 0 equal but for case, 1 a prefix either way, then 2 + edits.
    std::vector<std::pair<size_t, std::string>> scored;
    for (const kve::EffectRow &row : kve::EffectTable()) {
        const std::string name = Lower(row.name);
        size_t score;
        if (name == lower)
            score = 0;
        else if (lower.size() >= 3 && (name.starts_with(lower) || lower.starts_with(name)))
            score = 1;
        else {
            const size_t edits = EditDistance(lower, name);
            if (edits > std::max<size_t>(2, name.size() / 3)) continue;
            score = 2 + edits;
        }
        scored.emplace_back(score, row.name);
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<std::string> names;
    for (size_t k = 0; k < scored.size() && k < limit; ++k)
        names.push_back(scored[k].second);
    return names;
}

std::string UnknownMessage(std::string_view word) {
    if (word.empty()) return "empty command";
    std::string message = "unknown effect \"" + std::string(word) + "\"";
    const std::vector<std::string> near = NearNames(word);
    for (size_t k = 0; k < near.size(); ++k)
        message += (k ? ", " : "; near names: ") + near[k];
    return message;
}

}  // namespace kvehost
