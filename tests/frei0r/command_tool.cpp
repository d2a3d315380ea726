// kve_frei0r_command: what the plugins would do, for the end-to-end scripts.
//   kve_frei0r_command list
//       one line per plugin: file name, kind (filter, source, mixer2, mixer3)
//       and effect name
//   kve_frei0r_command command EFFECT WIDTHxHEIGHT [PARAMETERS]
//       the command text the plugin runs on such frames with these parameter
//       values, written as FFmpeg's frei0r filter takes them: values in
//       parameter order separated by '|', a position as x/y, a colour as
//       r/g/b; parameters left out or left empty keep their defaults
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine/effect_table.h"
#include "frei0r/plugin_model.h"

using kvefrei0r::HostType;
using kvefrei0r::HostValue;

namespace {

const char *KindName(kvefrei0r::Kind kind) {
    switch (kind) {
        case kvefrei0r::Kind::kFilter:
            return "filter";
        case kvefrei0r::Kind::kSource:
            return "source";
        case kvefrei0r::Kind::kMixer2:
            return "mixer2";
        default:
            return "mixer3";
    }
}

std::vector<std::string> Split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    if (text.empty()) return parts;
    size_t start = 0;
    while (true) {
        const size_t end = text.find(separator, start);
        parts.emplace_back(text.substr(start, end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

bool ReadValue(HostType type, const std::string &text, HostValue &value) {
    const std::vector<std::string> parts = Split(text, '/');
    const size_t wanted = type == HostType::kColour ? 3 : type == HostType::kPosition ? 2 : 1;
    if (parts.size() != wanted) return false;
    for (size_t k = 0; k < wanted; ++k) {
        const std::string &part = parts[k];
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value[k]);
        if (error != std::errc() || end != part.data() + part.size()) return false;
    }
    value = kvefrei0r::Clamped(type, value);
    return true;
}

int List() {
    for (const kve::EffectRow &row : kve::EffectTable()) {
        const auto model = kvefrei0r::BuildModel(row);
        if (!model) continue;
        std::string file = std::string("kve_") + row.name;
        for (char &c : file)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::printf("%s %s %s\n", file.c_str(), KindName(model->kind), row.name);
    }
    return 0;
}

int Command(const char *name, const char *size, const char *parameters) {
    const kve::EffectRow *row = kve::FindEffect(name);
    const auto model = row ? kvefrei0r::BuildModel(*row) : std::nullopt;
    int width = 0, height = 0;
    if (!model || std::sscanf(size, "%dx%d", &width, &height) != 2 || width <= 0 || height <= 0) {
        std::fprintf(stderr, "kve_frei0r_command: no plugin %s, or a bad size %s\n", name, size);
        return 2;
    }
    std::vector<HostValue> values = kvefrei0r::DefaultValues(*model, width, height);
    const std::vector<std::string> texts = Split(parameters, '|');
    for (size_t k = 0; k < texts.size() && k < values.size(); ++k)
        if (!texts[k].empty() && !ReadValue(model->host[k].type, texts[k], values[k])) {
            std::fprintf(stderr, "kve_frei0r_command: bad value '%s' for %s\n", texts[k].c_str(),
                         model->host[k].name.c_str());
            return 2;
        }
    std::printf("%s\n", kvefrei0r::CommandText(*model, values, width, height).c_str());
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 2 && std::strcmp(argv[1], "list") == 0) return List();
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "command") == 0)
        return Command(argv[2], argv[3], argc == 5 ? argv[4] : "");
    std::fprintf(stderr,
                 "usage: kve_frei0r_command list\n"
                 "       kve_frei0r_command command EFFECT WxH [PARAMETERS]\n");
    return 2;
}
