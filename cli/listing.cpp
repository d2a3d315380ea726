// kve list: every effect with its parameters in words, from the effect table.
#include <cstdio>

#include "cli/commands.h"
#include "cli/runner.h"
#include "cli/status.h"
#include "effects/wipe/wipe.h"
#include "engine/effect_table.h"
#include "host/effect_words.h"

namespace kvecli {

namespace {

std::vector<std::string> Words(const char *text) {
    return SplitWords(text ? text : "");
}

std::string InputsText(const kve::EffectRow &row) {
    const int images = ImagesNeeded(row);
    if (images == 0) return "no input";
    std::string text = std::to_string(images) + (images == 1 ? " input" : " inputs");
    return text;
}

void PrintWipeNumbers() {
    const auto numbers = kve::WipeNumbers();
    if (numbers.empty() || !kve::FindEffect("Wipe")) return;
    std::printf("\nWipe numbers:");
    size_t column = 13;
    for (const int32_t number : numbers) {
        const std::string word = std::to_string(number);
        if (column + word.size() + 1 > 78) {
            std::printf("\n ");
            column = 1;
        }
        std::printf(" %s", word.c_str());
        column += word.size() + 1;
    }
    std::printf("\n");
}

}  // namespace

void List(const std::optional<std::string> &name) {
    if (!name) {
        std::printf(
            "Effects, with their inputs and parameters in command order\n"
            "(kve list NAME explains one and shows an example):\n\n");
        for (const kve::EffectRow &row : kve::EffectTable()) {
            std::string params;
            for (const std::string &word : Words(row.params))
                params += " " + word;
            std::string line(row.name);
            line.resize(std::max<size_t>(line.size() + 1, 18), ' ');
            line += InputsText(row);
            if (!params.empty()) line.resize(std::max<size_t>(line.size(), 27), ' ');
            std::printf("  %s%s\n", line.c_str(), params.c_str());
        }
        PrintWipeNumbers();
        return;
    }
    const kve::EffectRow *found = kve::FindEffect(*name);
    if (!found)
        throw Failure(Exit::kUnknownEffect,
                      "unknown effect \"" + *name + "\" (kve list shows every effect)");
    const kve::EffectRow &row = *found;
    const int images = ImagesNeeded(row);
    std::printf("%s: %s", row.name, InputsText(row).c_str());
    if (images > 0) {
        std::printf(" (");
        for (int k = 0; k < images; ++k)
            std::printf("%s%c", k ? ", " : "", 'A' + k);
        std::printf(")");
    }
    const std::vector<std::string> words = Words(row.params);
    const std::string signature = row.signature ? row.signature : "";
    std::string letters;
    for (const char letter : signature)
        if (letter != 'I') letters += letter;
    const size_t count = std::max(words.size(), letters.size());
    std::printf(count ? ", then these parameters:\n" : ", no parameters.\n");
    for (size_t k = 0; k < count; ++k) {
        const std::string word = k < words.size() ? words[k] : "parameter-" + std::to_string(k + 1);
        if (k < letters.size())
            std::printf("  %2zu. %-16s %s\n", k + 1, word.c_str(),
                        kvehost::DescribeKind(letters[k]));
        else
            std::printf("  %2zu. %s\n", k + 1, word.c_str());
    }
    std::printf("\nUsage:   %s\n", UsageLine(row).c_str());
    const std::string example = row.example && *row.example ? row.example : row.name;
    std::printf("Example: kve render \"%s\" -o %s.png\n", example.c_str(), row.name);
    if (row.name == std::string_view("Wipe")) PrintWipeNumbers();
}

}  // namespace kvecli
