#include "frei0r/plugin_model.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <string_view>
#include <tuple>

#include "engine/scanner.h"

namespace kvefrei0r {

namespace {

std::vector<std::string> Words(const char *text) {
    std::vector<std::string> words;
    std::string_view rest = text ? text : "";
    while (!rest.empty()) {
        const size_t start = rest.find_first_not_of(" \t");
        if (start == std::string_view::npos) break;
        rest.remove_prefix(start);
        const size_t end = std::min(rest.find_first_of(" \t"), rest.size());
        words.emplace_back(rest.substr(0, end));
        rest.remove_prefix(end);
    }
    return words;
}

// The tokens of a parameter text in text order, bracketed lists whole, as the
// library's own scanner cuts them.
std::vector<std::string> Tokens(std::string_view text) {
    std::vector<std::string> tokens;
    kve::TokenScanner scanner(text);
    while (const auto token = scanner.Next())
        tokens.emplace_back(*token);
    std::reverse(tokens.begin(), tokens.end());
    return tokens;
}

std::optional<double> Number(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// The numbers of a bracketed list ("[(argb) 255 1 2 3]" gives 255 1 2 3:
// words that are not numbers are skipped).
std::vector<double> ListNumbers(std::string_view token) {
    std::vector<double> numbers;
    token = kve::TrimBlanks(token);
    if (token.size() < 2 || token.front() != '[' || token.back() != ']') return numbers;
    const std::string inside(token.substr(1, token.size() - 2));
    for (const std::string &word : Words(inside.c_str()))
        if (const auto value = Number(word)) numbers.push_back(*value);
    return numbers;
}

// The range 0..1 maps to when the row names none: the command language's
// normalised numbers, one frame-width unit either side of the centre for
// other reals, and small whole numbers (qualities are 0..2).
std::pair<double, double> DefaultRange(char letter) {
    switch (letter) {
        case 'r':
            return {-1, 1};
        case 'i':
            return {0, 100};
        case 'q':
            return {0, 2};
        default:
            return {0, 1};
    }
}

std::optional<std::pair<double, double>> ParseRange(const std::string &word) {
    const size_t colon = word.find(':');
    if (colon == std::string::npos) return std::nullopt;
    const auto low = Number(std::string_view(word).substr(0, colon));
    const auto high = Number(std::string_view(word).substr(colon + 1));
    if (!low || !high || *low == *high) return std::nullopt;
    return std::pair{*low, *high};
}

std::string RangeText(const TextParam &param) {
    std::string text = "0..1 gives ";
    text += NumberText(param.low) + ".." + NumberText(param.high);
    if (param.letter == 'i' || param.letter == 'q') text += ", rounded to a whole number";
    return text;
}

void AddHost(PluginModel &model, std::string name, HostType type, std::string explanation) {
    model.host.push_back(
        {std::move(name), std::move(explanation), type, static_cast<int>(model.text.size()) - 1});
}

// The host parameters of the text parameter just added to the model.
bool AddHostParams(PluginModel &model) {
    const TextParam &param = model.text.back();
    const std::string &word = param.word;
    switch (param.letter) {
        case 'r':
        case 'n':
        case 'i':
        case 'q':
            AddHost(model, word, HostType::kDouble, word + ": " + RangeText(param));
            return true;
        case 'C':
            AddHost(model, word, HostType::kPosition,
                    word + ": a point of the frame, (0, 0) top-left to (1, 1) bottom-right");
            return true;
        case 'R':
            AddHost(model, word + "-corner-1", HostType::kPosition,
                    word + ": one corner, (0, 0) top-left to (1, 1) bottom-right");
            AddHost(model, word + "-corner-2", HostType::kPosition, word + ": the opposite corner");
            return true;
        case 'S':
            AddHost(model, word, HostType::kPosition,
                    word + ": width and height as fractions of the frame's, rounded to pixels");
            return true;
        case 'c':
            AddHost(model, word, HostType::kColour, word + ": red, green and blue");
            AddHost(model, word + "-alpha", HostType::kDouble, word + " alpha: 0..1 gives 0..255");
            return true;
        case 'f':
            return true;
        default:
            return false;
    }
}

Kind KindOf(int inputs) {
    switch (inputs) {
        case 0:
            return Kind::kSource;
        case 1:
            return Kind::kFilter;
        case 2:
            return Kind::kMixer2;
        default:
            return Kind::kMixer3;
    }
}

double Fraction(double value, const TextParam &param) {
    return std::clamp((value - param.low) / (param.high - param.low), 0.0, 1.0);
}

double Unit(double value) {
    return std::isnan(value) ? 0.0 : std::clamp(value, 0.0, 1.0);
}

// A point of the frame from the command's centred coordinates (one unit is
// half the frame width on both axes, y downward), and back.
HostValue PointOf(double x, double y, int32_t width, int32_t height) {
    return {Unit((x + 1) / 2), Unit((y * width / height + 1) / 2), 0};
}

std::string CoordinateText(const HostValue &point, int32_t width, int32_t height) {
    const double x = 2 * point[0] - 1;
    const double y = (2 * point[1] - 1) * height / width;
    return NumberText(x) + " " + NumberText(y);
}

// The library's default frame size: the table's examples are written for it.
constexpr double kExampleWidth = 352, kExampleHeight = 240;

HostValue FallbackValue(const TextParam &param, HostType type) {
    switch (type) {
        case HostType::kPosition:
            return param.letter == 'S' ? HostValue{1, 1, 0} : HostValue{0.5, 0.5, 0};
        case HostType::kColour:
            return {0, 0, 0};
        default:
            return {param.letter == 'c' ? 1.0 : Fraction(0, param), 0, 0};
    }
}

// The host values one example token stands for, or nothing when it does not
// read as the letter wants.
std::optional<std::vector<HostValue>> ValuesOf(const TextParam &param, const std::string &token,
                                               int32_t width, int32_t height) {
    const std::vector<double> list = ListNumbers(token);
    switch (param.letter) {
        case 'r':
        case 'n':
        case 'i':
        case 'q': {
            const auto value = Number(token);
            if (!value) return std::nullopt;
            return std::vector<HostValue>{{Fraction(*value, param), 0, 0}};
        }
        case 'C':
            if (list.size() != 2) return std::nullopt;
            return std::vector<HostValue>{PointOf(list[0], list[1], width, height)};
        case 'R':
            if (list.size() != 4) return std::nullopt;
            return std::vector<HostValue>{PointOf(list[0], list[1], width, height),
                                          PointOf(list[2], list[3], width, height)};
        case 'S':
            if (list.size() != 2) return std::nullopt;
            return std::vector<HostValue>{
                {Unit(list[0] / kExampleWidth), Unit(list[1] / kExampleHeight), 0}};
        case 'c':
            if (list.size() != 4) return std::nullopt;
            return std::vector<HostValue>{
                {Unit(list[1] / 255), Unit(list[2] / 255), Unit(list[3] / 255)},
                {Unit(list[0] / 255), 0, 0}};
        default:
            return std::vector<HostValue>{};
    }
}

int HostCount(const PluginModel &model, size_t text) {
    const size_t end =
        text + 1 < model.text.size() ? model.text[text + 1].firstHost : model.host.size();
    return static_cast<int>(end) - model.text[text].firstHost;
}

int64_t Rounded(double value) {
    // Halves away from zero, kept inside the 32-bit range the parser reads.
    const double limit = std::numeric_limits<int32_t>::max();
    return std::llround(std::clamp(value, -limit, limit));
}

// Appends "[a b ...]".
void AppendList(std::string &text, std::initializer_list<std::string> items) {
    text += '[';
    for (const std::string &item : items) {
        if (text.back() != '[') text += ' ';
        text += item;
    }
    text += ']';
}

std::string ColourText(const HostValue &rgb, const HostValue &alpha) {
    const auto byte = [](double unit) { return std::to_string(Rounded(Unit(unit) * 255)); };
    std::string text;
    AppendList(text, {"(argb)", byte(alpha[0]), byte(rgb[0]), byte(rgb[1]), byte(rgb[2])});
    return text;
}

}  // namespace

std::optional<PluginModel> BuildModel(const kve::EffectRow &row) {
    PluginModel model;
    model.row = &row;
    std::string letters;
    if (row.transition) {
        letters = row.textLetters ? row.textLetters : "";
        model.inputs = 2;
    } else if (row.signature) {
        for (const char letter : std::string_view(row.signature))
            if (letter == 'I')
                ++model.inputs;
            else
                letters += letter;
    }
    if (model.inputs > 3) return std::nullopt;
    model.kind = KindOf(model.inputs);

    const std::vector<std::string> words = Words(row.params);
    const std::vector<std::string> ranges = Words(row.ranges);
    for (size_t k = 0; k < letters.size(); ++k) {
        TextParam param{letters[k],
                        k < words.size() ? words[k] : "parameter-" + std::to_string(k + 1), 0, 1,
                        static_cast<int>(model.host.size())};
        std::tie(param.low, param.high) = DefaultRange(param.letter);
        if (k < ranges.size())
            if (const auto range = ParseRange(ranges[k])) std::tie(param.low, param.high) = *range;
        model.text.push_back(param);
        if (!AddHostParams(model)) return std::nullopt;
    }

    model.explanation = std::string("libkve ") + row.name + ":";
    if (model.text.empty()) model.explanation += " no parameters";
    for (const TextParam &param : model.text)
        model.explanation += " <" + param.word + ">";
    model.explanation += " (kve list " + std::string(row.name) +
                         " explains them; every double runs 0..1 over a stated range)";
    return model;
}

std::vector<HostValue> DefaultValues(const PluginModel &model, int32_t width, int32_t height) {
    std::vector<HostValue> values(model.host.size());
    for (size_t k = 0; k < model.host.size(); ++k)
        values[k] =
            FallbackValue(model.text[static_cast<size_t>(model.host[k].text)], model.host[k].type);
    const std::string example = model.row->example ? model.row->example : "";
    const std::string_view name = model.row->name;
    if (example.compare(0, name.size(), name) != 0) return values;
    const std::vector<std::string> tokens = Tokens(std::string_view(example).substr(name.size()));
    if (tokens.size() != model.text.size()) return values;
    for (size_t k = 0; k < model.text.size(); ++k) {
        const auto found = ValuesOf(model.text[k], tokens[k], width, height);
        if (!found || static_cast<int>(found->size()) != HostCount(model, k)) continue;
        std::copy(found->begin(), found->end(), values.begin() + model.text[k].firstHost);
    }
    return values;
}

HostValue Clamped(HostType type, const HostValue &value) {
    HostValue safe{Unit(value[0]), 0, 0};
    if (type == HostType::kPosition || type == HostType::kColour) safe[1] = Unit(value[1]);
    if (type == HostType::kColour) safe[2] = Unit(value[2]);
    return safe;
}

std::string CommandText(const PluginModel &model, const std::vector<HostValue> &values,
                        int32_t width, int32_t height) {
    std::string text = model.row->name;
    for (const TextParam &param : model.text) {
        const auto value = [&](int k) -> const HostValue & {
            return values[static_cast<size_t>(param.firstHost + k)];
        };
        const double mapped = param.low + Unit(value(0)[0]) * (param.high - param.low);
        text += ' ';
        switch (param.letter) {
            case 'r':
            case 'n':
                text += NumberText(mapped);
                break;
            case 'i':
            case 'q':
                text += std::to_string(Rounded(mapped));
                break;
            case 'C':
                AppendList(text, {CoordinateText(value(0), width, height)});
                break;
            case 'R':
                AppendList(text, {CoordinateText(value(0), width, height),
                                  CoordinateText(value(1), width, height)});
                break;
            case 'S':
                AppendList(text, {std::to_string(Rounded(Unit(value(0)[0]) * width)),
                                  std::to_string(Rounded(Unit(value(0)[1]) * height))});
                break;
            case 'c':
                text += ColourText(value(0), value(1));
                break;
            case 'f':
                text += "(argb)";
                break;
        }
    }
    return text;
}

std::string NumberText(double value) {
    if (!std::isfinite(value)) value = 0;
    // Fixed-point, never an exponent (the command language has none); the
    // ranges keep values small, so 400 characters hold any of them.
    char buffer[400];
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (error != std::errc()) return "0";
    return std::string(buffer, end);
}

}  // namespace kvefrei0r
