#include "engine/effect_table.h"

#include "effects/colour/colour_ops.h"
#include "effects/point/point_ops.h"
#include "engine/drivers.h"

namespace kve {

namespace {

// Rows in the library's table order. An effect not listed here is an unknown
// name. Prefixes of diagnostics are derived from the name ("<Add>+").
constexpr EffectRow kEffects[] = {
    {.name = "Add",
     .id = 0,
     .signature = "II",
     .driver = SimpleLineDriver,
     .lineOp = AddLineOp,
     .example = "Add"},
    {.name = "And",
     .id = 2,
     .signature = "II",
     .driver = SimpleLineDriver,
     .lineOp = AndLineOp,
     .example = "And"},
    {.name = "ChromaKey",
     .id = 13,
     .signature = "Icn",
     .driver = SimpleLineDriver,
     .lineOp = ChromaKeyLineOp,
     .scratch = ChromaKeyScratch,
     .params = "key-colour tolerance",
     .example = "ChromaKey [(argb) 255 40 200 40] 0.3"},
    {.name = "Composite",
     .id = 9,
     .signature = "IIInn",
     .driver = SimpleLineDriver,
     .lineOp = CompositeLineOp,
     .scratch = CompositeScratch,
     .params = "upper lower",
     .example = "Composite 0.75 0.25"},
    {.name = "Dissolve",
     .id = 15,
     .signature = "IIn",
     .driver = SimpleLineDriver,
     .lineOp = DissolveLineOp,
     .scratch = DissolveScratch,
     .params = "mix",
     .example = "Dissolve 0.3"},
    {.name = "Extract",
     .id = 19,
     .signature = "Icn",
     .driver = SimpleLineDriver,
     .lineOp = ExtractLineOp,
     .scratch = ExtractScratch,
     .params = "colour strength",
     .example = "Extract [(argb) 255 255 200 0] 0.8"},
    {.name = "Fade",
     .id = 20,
     .signature = "In",
     .driver = SimpleLineDriver,
     .lineOp = FadeLineOp,
     .scratch = FadeScratch,
     .params = "level",
     .example = "Fade 0.5"},
    {.name = "LumaKey",
     .id = 22,
     .signature = "Inn",
     .driver = SimpleLineDriver,
     .lineOp = LumaKeyLineOp,
     .scratch = LumaKeyScratch,
     .params = "level tolerance",
     .example = "LumaKey 0.5 0.2"},
    {.name = "Max",
     .id = 24,
     .signature = "II",
     .driver = SimpleLineDriver,
     .lineOp = MaxLineOp,
     .example = "Max"},
    {.name = "Min",
     .id = 27,
     .signature = "II",
     .driver = SimpleLineDriver,
     .lineOp = MinLineOp,
     .example = "Min"},
    {.name = "Monochrome",
     .id = 31,
     .signature = "I",
     .driver = SimpleLineDriver,
     .lineOp = MonochromeLineOp,
     .example = "Monochrome"},
    {.name = "Mul",
     .id = 32,
     .signature = "II",
     .driver = SimpleLineDriver,
     .lineOp = MulLineOp,
     .example = "Mul"},
    {.name = "Negate",
     .id = 34,
     .signature = "I",
     .driver = SimpleLineDriver,
     .lineOp = NegateLineOp,
     .example = "Negate"},
    {.name = "Or",
     .id = 35,
     .signature = "II",
     .driver = SimpleLineDriver,
     .lineOp = OrLineOp,
     .example = "Or"},
    {.name = "Sub",
     .id = 49,
     .signature = "II",
     .driver = SimpleLineDriver,
     .lineOp = SubLineOp,
     .example = "Sub"},
    {.name = "Xor",
     .id = 58,
     .signature = "II",
     .driver = SimpleLineDriver,
     .lineOp = XorLineOp,
     .example = "Xor"},
};

}  // namespace

std::span<const EffectRow> EffectTable() {
    return kEffects;
}

const EffectRow *FindEffect(std::string_view name) {
    for (const EffectRow &row : kEffects)
        if (name == row.name) return &row;
    return nullptr;
}

}  // namespace kve
