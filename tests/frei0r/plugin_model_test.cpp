// The mapping from the interface's 0..1 values to command texts, worked by
// hand for rows whose letters cover every kind, and the byte shuffle.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <vector>

#include "engine/effect_run.h"
#include "engine/effect_table.h"
#include "frei0r/pixels.h"
#include "frei0r/plugin_model.h"

namespace {

using kvefrei0r::HostType;
using kvefrei0r::HostValue;
using kvefrei0r::Kind;

kvefrei0r::PluginModel ModelOf(const char *name) {
    const kve::EffectRow *row = kve::FindEffect(name);
    EXPECT_NE(row, nullptr) << name;
    auto model = kvefrei0r::BuildModel(*row);
    EXPECT_TRUE(model) << name;
    return *model;
}

std::vector<std::string> HostNames(const kvefrei0r::PluginModel &model) {
    std::vector<std::string> names;
    for (const auto &param : model.host)
        names.push_back(param.name);
    return names;
}

TEST(Frei0rModel, WipeIsAMixerWithOneHostParameterPerLetterAndAnAlphaForItsColour) {
    const auto model = ModelOf("Wipe");
    EXPECT_EQ(model.kind, Kind::kMixer2);
    EXPECT_EQ(model.inputs, 2);
    EXPECT_EQ(HostNames(model),
              (std::vector<std::string>{"number", "progress", "softness", "centre", "x-scale",
                                        "y-scale", "rotation", "block-size", "border",
                                        "border-colour", "border-colour-alpha"}));
    EXPECT_EQ(model.host[3].type, HostType::kPosition);
    EXPECT_EQ(model.host[7].type, HostType::kPosition);
    EXPECT_EQ(model.host[9].type, HostType::kColour);
    EXPECT_EQ(model.host[1].explanation, "progress: 0..1 gives 1..0");
    EXPECT_EQ(model.host[0].explanation, "number: 0..1 gives 0..1000, rounded to a whole number");
}

TEST(Frei0rModel, KindsFollowTheImageCount) {
    EXPECT_EQ(ModelOf("Negate").kind, Kind::kFilter);
    EXPECT_EQ(ModelOf("Composite").kind, Kind::kMixer3);
    EXPECT_EQ(ModelOf("Color1").kind, Kind::kSource);
    EXPECT_EQ(ModelOf("Push").kind, Kind::kMixer2);
    // The format word of the fills is fixed, not a parameter.
    EXPECT_EQ(HostNames(ModelOf("Color1")),
              (std::vector<std::string>{"size", "colour", "colour-alpha"}));
}

TEST(Frei0rModel, WipeValuesBecomeItsCommandText) {
    const auto model = ModelOf("Wipe");
    // On a 200 x 100 frame: centre (0.75, 0.25) is x = 0.5 and y = -0.5 * 100 / 200.
    const std::vector<HostValue> values = {
        {0.101, 0, 0}, {0.25, 0, 0},  {0.5, 0, 0},  {0.75, 0.25, 0}, {0.1, 0, 0}, {0.2, 0, 0},
        {0.5, 0, 0},   {0.1, 0.2, 0}, {0.03, 0, 0}, {1, 0.5, 0},     {0.2, 0, 0}};
    EXPECT_EQ(kvefrei0r::CommandText(model, values, 200, 100),
              "Wipe 101 0.75 0.5 [0.5 -0.25] 1 2 180 [20 20] 0.03 [(argb) 51 255 128 0]");
}

TEST(Frei0rModel, RectanglesTakeTwoCornersAndIntegersRoundHalvesUp) {
    const auto model = ModelOf("Crop");
    EXPECT_EQ(HostNames(model), (std::vector<std::string>{"rectangle-corner-1",
                                                          "rectangle-corner-2", "mode", "level"}));
    const std::vector<HostValue> values = {{0.25, 0.25, 0}, {1, 1, 0}, {0.625, 0, 0}, {0.5, 0, 0}};
    // mode 0.625 * 4 = 2.5 rounds to 3; y of the corners scale by 54 / 96.
    EXPECT_EQ(kvefrei0r::CommandText(model, values, 96, 54), "Crop [-0.5 -0.28125 1 0.5625] 3 0.5");
}

TEST(Frei0rModel, CompositeTransitionsUseTheirOwnLettersAndRunProgressBackwards) {
    EXPECT_EQ(kvefrei0r::CommandText(ModelOf("Push"), {{0.25, 0, 0}, {0.5, 0, 0}}, 10, 10),
              "Push 0.75 4");
    EXPECT_EQ(kvefrei0r::CommandText(ModelOf("Shadow"),
                                     {{0.5, 0.75, 0}, {0, 0, 1}, {1, 0, 0}, {0.125, 0, 0}}, 64, 32),
              "Shadow [0 0.25] [(argb) 255 0 0 255] 0.125");
}

TEST(Frei0rModel, DefaultsReproduceTheExamples) {
    // Numbers, sizes and colours of these examples survive the mapping exactly
    // on the frame size they are written for.
    for (const char *name : {"Wipe", "Fade", "Conceal", "Add_Noise", "ChromaKey"}) {
        const auto model = ModelOf(name);
        EXPECT_EQ(
            kvefrei0r::CommandText(model, kvefrei0r::DefaultValues(model, 352, 240), 352, 240),
            model.row->example);
    }
}

TEST(Frei0rModel, EveryDefaultCommandIsAcceptedAtOddSizes) {
    const int32_t sizes[][2] = {{33, 19}, {97, 55}};
    for (const kve::EffectRow &row : kve::EffectTable()) {
        const auto model = kvefrei0r::BuildModel(row);
        ASSERT_TRUE(model) << row.name;
        for (const auto &size : sizes) {
            const int32_t width = size[0], height = size[1];
            const std::string command = kvefrei0r::CommandText(
                *model, kvefrei0r::DefaultValues(*model, width, height), width, height);
            std::vector<uint32_t> frame(size_t(width) * size_t(height), 0);
            uint32_t *frames[] = {frame.data(), frame.data(), frame.data(), nullptr};
            EXPECT_EQ(kve::CheckEffect(command.c_str(), frames, width, height, 0, 0).status,
                      kve::EffectCheck::kReady)
                << command;
        }
    }
}

TEST(Frei0rModel, NumbersAreFixedPointTextsThatReadBackExactly) {
    EXPECT_EQ(kvefrei0r::NumberText(0.25), "0.25");
    EXPECT_EQ(kvefrei0r::NumberText(-3), "-3");
    EXPECT_EQ(kvefrei0r::NumberText(1e-7), "0.0000001");
    EXPECT_EQ(kvefrei0r::NumberText(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(kvefrei0r::NumberText(std::numeric_limits<double>::infinity()), "0");
}

TEST(Frei0rPixels, RgbaBytesBecomeAlphaRedGreenBlueWords) {
    const uint8_t rgba[4] = {0x11, 0x22, 0x33, 0x44};
    uint32_t word = 0, back = 0;
    std::memcpy(&word, rgba, 4);
    kvefrei0r::RgbaToLibrary(&word, &word, 1);
    EXPECT_EQ(word, 0x33221144u);  // alpha in bits 0-7, then red, green, blue
    kvefrei0r::LibraryToRgba(&word, &back, 1);
    EXPECT_EQ(std::memcmp(&back, rgba, 4), 0);
}

TEST(Frei0rPixels, FastShuffleEqualsThePlainOneAtEveryLengthAndStopsAtTheEnd) {
    constexpr uint32_t kGuard = 0xA5A5A5A5u;
    for (size_t count = 0; count <= 67; ++count) {
        for (size_t offset = 0; offset < 2; ++offset) {
            std::vector<uint32_t> in(count + offset + 1);
            for (size_t k = 0; k < in.size(); ++k)
                in[k] = static_cast<uint32_t>(k * 0x9E3779B9u + count);
            std::vector<uint32_t> fast(count + offset + 1, kGuard), plain = fast;
            kvefrei0r::RgbaToLibrary(in.data() + offset, fast.data() + offset, count);
            kvefrei0r::RgbaToLibraryScalar(in.data() + offset, plain.data() + offset, count);
            EXPECT_EQ(fast, plain) << count;
            EXPECT_EQ(fast.back(), kGuard);
            kvefrei0r::LibraryToRgba(fast.data() + offset, fast.data() + offset, count);
            kvefrei0r::LibraryToRgbaScalar(plain.data() + offset, plain.data() + offset, count);
            EXPECT_EQ(fast, plain) << count;
            EXPECT_TRUE(std::equal(fast.begin() + ptrdiff_t(offset),
                                   fast.begin() + ptrdiff_t(offset + count),
                                   in.begin() + ptrdiff_t(offset)))
                << "a round trip changes pixels";
        }
    }
}

}  // namespace
