// What a frei0r plugin shows a host, derived from one row of the effect
// table: its kind (filter, mixer, source), its parameters in the interface's
// own types, and the command text a set of parameter values stands for.
//
// Hosts set every number as a double from 0 to 1. Each text parameter of the
// command maps to host parameters by its signature letter:
//   r, n  one double x; value = low + x * (high - low)
//   i, q  one double x; value = low + x * (high - low), rounded to a whole number
//   C     one position (x, y) in the frame: (0, 0) top-left, (1, 1) bottom-right
//   R     two positions, the rectangle's corners
//   S     one position read as a size: width = x * frame width, height = y * frame height
//   c     one colour (red, green, blue) and one double for its alpha, each 0..1 to 0..255
//   f     nothing: always the word "(argb)"
// low and high come from the row's `ranges` or the letter's default below.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/effect_table.h"

namespace kvefrei0r {

// Plugin kinds, numbered as the interface numbers them.
enum class Kind { kFilter = 0, kSource = 1, kMixer2 = 2, kMixer3 = 3 };

// Parameter types, numbered as the interface numbers them.
enum class HostType { kBool = 0, kDouble = 1, kColour = 2, kPosition = 3, kString = 4 };

// One parameter of the command text.
struct TextParam {
    char letter;
    std::string word;   // from the row's parameter words
    double low, high;   // the range 0..1 maps to (numbers only)
    int firstHost = 0;  // index of its first host parameter
};

// One parameter as the host sees it. Every value, whatever its type, is held
// in up to three doubles (a double in [0], a position in [0], [1], a colour
// in [0], [1], [2]).
struct HostParam {
    std::string name, explanation;
    HostType type;
    int text;  // index of the text parameter it feeds
};
using HostValue = std::array<double, 3>;

struct PluginModel {
    const kve::EffectRow *row = nullptr;
    Kind kind = Kind::kFilter;
    int inputs = 0;
    std::string explanation;
    std::vector<TextParam> text;
    std::vector<HostParam> host;
};

// The model of a row, or nothing when the row cannot be a plugin (more than
// three input frames, a letter the mapping does not know).
std::optional<PluginModel> BuildModel(const kve::EffectRow &row);

// The values that reproduce the row's example command on a width x height
// frame (as closely as the host types allow); parameters the example lacks
// take the value 0 where the range allows, the frame centre, the whole frame,
// or opaque black.
std::vector<HostValue> DefaultValues(const PluginModel &model, int32_t width, int32_t height);

// A host value made safe: each component clamped to 0..1, NaN taken as 0.
HostValue Clamped(HostType type, const HostValue &value);

// The command text the values stand for on a width x height frame.
std::string CommandText(const PluginModel &model, const std::vector<HostValue> &values,
                        int32_t width, int32_t height);

// A number as the command language reads it back exactly: the shortest
// fixed-point text that converts back to the same double ("0.25", "-3", "1").
std::string NumberText(double value);

}  // namespace kvefrei0r
