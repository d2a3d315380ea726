// The built plugins through their entry points, as a host calls them, with no
// host: information, parameter round trips, construction at odd sizes and
// updates compared with the library run directly on the same pixels.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <bit>
#include <cctype>
#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/effect_run.h"
#include "engine/effect_table.h"
#include "frei0r/plugin_model.h"

extern "C" {
#include <frei0r.h>
}

namespace {

using kvefrei0r::HostType;

struct Entry {
    int (*init)();
    void (*deinit)();
    void (*pluginInfo)(f0r_plugin_info_t *);
    void (*paramInfo)(f0r_param_info_t *, int);
    f0r_instance_t (*construct)(unsigned, unsigned);
    void (*destruct)(f0r_instance_t);
    void (*setParam)(f0r_instance_t, f0r_param_t, int);
    void (*getParam)(f0r_instance_t, f0r_param_t, int);
    void (*update)(f0r_instance_t, double, const uint32_t *, uint32_t *);
    void (*update2)(f0r_instance_t, double, const uint32_t *, const uint32_t *, const uint32_t *,
                    uint32_t *);
};

std::string PluginPath(const char *effect) {
    std::string file = std::string("kve_") + effect;
    for (char &c : file)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return std::string(KVE_FREI0R_DIR) + "/" + file + ".so";
}

// A loaded plugin, closed when the test is done with it.
class Plugin {
  public:
    explicit Plugin(const char *effect) : handle_(dlopen(PluginPath(effect).c_str(), RTLD_NOW)) {}
    ~Plugin() {
        if (handle_) dlclose(handle_);
    }
    Plugin(const Plugin &) = delete;
    Plugin &operator=(const Plugin &) = delete;

    bool Loaded() const { return handle_ != nullptr; }
    void *Symbol(const char *name) const { return dlsym(handle_, name); }
    bool Bind(Entry &entry) const {
        const auto bind = [&](auto &function, const char *name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(Symbol(name));
            return function != nullptr;
        };
        return bind(entry.init, "f0r_init") && bind(entry.deinit, "f0r_deinit") &&
               bind(entry.pluginInfo, "f0r_get_plugin_info") &&
               bind(entry.paramInfo, "f0r_get_param_info") &&
               bind(entry.construct, "f0r_construct") && bind(entry.destruct, "f0r_destruct") &&
               bind(entry.setParam, "f0r_set_param_value") &&
               bind(entry.getParam, "f0r_get_param_value") && bind(entry.update, "f0r_update") &&
               bind(entry.update2, "f0r_update2");
    }

  private:
    void *handle_;
};

// Host frames of RGBA bytes with every byte varying, alpha included.
std::vector<uint32_t> HostFrame(unsigned width, unsigned height, uint32_t seed) {
    std::vector<uint32_t> frame(size_t{width} * height);
    uint32_t state = seed * 2654435761u + 1;
    for (uint32_t &word : frame) {
        state = state * 1664525u + 1013904223u;
        word = state;
    }
    return frame;
}

// What the plugin must draw: the library run directly on the same pixels.
std::vector<uint32_t> Expected(const kvefrei0r::PluginModel &model, unsigned width, unsigned height,
                               std::vector<std::vector<uint32_t>> inputs) {
    std::vector<uint32_t *> frames;
    for (auto &input : inputs) {
        for (uint32_t &word : input)
            word = std::rotl(word, 8);  // R, G, B, A bytes to A, R, G, B
        frames.push_back(input.data());
    }
    frames.push_back(nullptr);
    const int32_t w = static_cast<int32_t>(width), h = static_cast<int32_t>(height);
    const std::string command =
        kvefrei0r::CommandText(model, kvefrei0r::DefaultValues(model, w, h), w, h);
    std::vector<uint32_t> output(size_t{width} * height, 0);
    kve::Dispatch(command.c_str(), frames.data(), w, h, output.data(), 0, 0, nullptr);
    for (uint32_t &word : output)
        word = std::rotr(word, 8);
    return output;
}

TEST(Frei0rPlugins, OneBuiltPluginPerTableRowInTableOrder) {
    std::istringstream configured(KVE_FREI0R_EFFECTS);
    std::vector<std::string> names;
    for (std::string name; std::getline(configured, name, ',');)
        names.push_back(name);
    std::vector<std::string> rows;
    for (const kve::EffectRow &row : kve::EffectTable())
        rows.emplace_back(row.name);
    EXPECT_EQ(names, rows) << "the build enumerates other effects than the table holds";
}

TEST(Frei0rPlugins, EveryRowMakesAPlugin) {
    for (const kve::EffectRow &row : kve::EffectTable())
        EXPECT_TRUE(kvefrei0r::BuildModel(row).has_value()) << row.name;
}

class EachPlugin : public testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        row_ = kve::FindEffect(GetParam());
        ASSERT_NE(row_, nullptr);
        model_ = kvefrei0r::BuildModel(*row_);
        ASSERT_TRUE(model_);
        plugin_ = std::make_unique<Plugin>(row_->name);
        ASSERT_TRUE(plugin_->Loaded()) << dlerror();
        ASSERT_TRUE(plugin_->Bind(entry_)) << "an entry point is missing";
        ASSERT_EQ(entry_.init(), 1);
    }
    void TearDown() override {
        if (entry_.deinit) entry_.deinit();
    }

    const kve::EffectRow *row_ = nullptr;
    std::optional<kvefrei0r::PluginModel> model_;
    std::unique_ptr<Plugin> plugin_;
    Entry entry_{};
};

TEST_P(EachPlugin, DescribesItselfFromItsRow) {
    f0r_plugin_info_t info{};
    entry_.pluginInfo(&info);
    EXPECT_EQ(std::string(info.name), std::string("kve ") + row_->name);
    EXPECT_EQ(info.plugin_type, static_cast<int>(model_->kind));
    EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_RGBA8888);
    EXPECT_EQ(info.frei0r_version, FREI0R_MAJOR_VERSION);
    ASSERT_EQ(info.num_params, static_cast<int>(model_->host.size()));
    for (int k = 0; k < info.num_params; ++k) {
        f0r_param_info_t param{};
        entry_.paramInfo(&param, k);
        ASSERT_NE(param.name, nullptr);
        EXPECT_EQ(std::string(param.name), model_->host[size_t(k)].name);
        EXPECT_EQ(param.type, static_cast<int>(model_->host[size_t(k)].type));
        ASSERT_NE(param.explanation, nullptr);
        EXPECT_GT(std::string(param.explanation).size(), param.name ? 10u : 0u);
    }
    // Out-of-range indices are ignored.
    f0r_param_info_t untouched{"x", 9, "y"};
    entry_.paramInfo(&untouched, info.num_params);
    entry_.paramInfo(&untouched, -1);
    EXPECT_EQ(untouched.type, 9);
}

TEST_P(EachPlugin, ExportsOnlyTheEntryPoints) {
    EXPECT_EQ(plugin_->Symbol("KVE_EffectBySize"), nullptr);
    EXPECT_EQ(plugin_->Symbol("kve_frei0r_effect"), nullptr);
}

TEST_P(EachPlugin, ParametersRoundTripAndClamp) {
    f0r_instance_t instance = entry_.construct(7, 5);
    ASSERT_NE(instance, nullptr);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (size_t k = 0; k < model_->host.size(); ++k) {
        SCOPED_TRACE(model_->host[k].name);
        const int index = static_cast<int>(k);
        switch (model_->host[k].type) {
            case HostType::kColour: {
                f0r_param_color_t in{0.25f, 1.5f, -2.0f}, out{};
                entry_.setParam(instance, &in, index);
                entry_.getParam(instance, &out, index);
                EXPECT_EQ(out.r, 0.25f);
                EXPECT_EQ(out.g, 1.0f);
                EXPECT_EQ(out.b, 0.0f);
                break;
            }
            case HostType::kPosition: {
                f0r_param_position_t in{0.3125, nan}, out{};
                entry_.setParam(instance, &in, index);
                entry_.getParam(instance, &out, index);
                EXPECT_EQ(out.x, 0.3125);
                EXPECT_EQ(out.y, 0.0);
                break;
            }
            default: {
                double in = 0.7, out = -1;
                entry_.setParam(instance, &in, index);
                entry_.getParam(instance, &out, index);
                EXPECT_EQ(out, 0.7);
                in = 3;
                entry_.setParam(instance, &in, index);
                entry_.getParam(instance, &out, index);
                EXPECT_EQ(out, 1.0);
                break;
            }
        }
    }
    double ignored = 0.5;
    entry_.setParam(instance, &ignored, static_cast<int>(model_->host.size()));
    entry_.setParam(instance, &ignored, -1);
    entry_.setParam(instance, nullptr, 0);
    entry_.destruct(instance);
}

TEST_P(EachPlugin, UpdatesAtOddSizesExactlyAsTheLibraryDraws) {
    const unsigned sizes[][2] = {{1, 1}, {3, 5}, {17, 9}, {97, 55}};
    for (const auto &size : sizes) {
        const unsigned width = size[0], height = size[1];
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        f0r_instance_t instance = entry_.construct(width, height);
        ASSERT_NE(instance, nullptr);
        std::vector<std::vector<uint32_t>> inputs;
        for (int k = 0; k < model_->inputs; ++k)
            inputs.push_back(HostFrame(width, height, static_cast<uint32_t>(k + 1)));
        std::vector<uint32_t> output(size_t{width} * height, 0xDEADBEEF);
        const auto input = [&](int k) {
            return k < model_->inputs ? inputs[size_t(k)].data() : nullptr;
        };
        if (model_->kind == kvefrei0r::Kind::kFilter || model_->kind == kvefrei0r::Kind::kSource)
            entry_.update(instance, 0.0, input(0), output.data());
        else
            entry_.update2(instance, 0.0, input(0), input(1), input(2), output.data());
        entry_.destruct(instance);

        const std::vector<uint32_t> direct = Expected(*model_, width, height, inputs);
        const int32_t w = static_cast<int32_t>(width), h = static_cast<int32_t>(height);
        const std::string command =
            kvefrei0r::CommandText(*model_, kvefrei0r::DefaultValues(*model_, w, h), w, h);
        std::vector<uint32_t *> none(4, nullptr);
        std::vector<std::vector<uint32_t>> copies = inputs;
        for (size_t k = 0; k < copies.size(); ++k)
            none[k] = copies[k].data();
        const kve::EffectCheck check = kve::CheckEffect(command.c_str(), none.data(), w, h, 0, 0);
        // Effects that write another size are shown cut to the frame; the
        // library draws them only into their own size, so only the same-size
        // ones compare directly.
        if (check.outWidth == w && check.outHeight == h) {
            EXPECT_EQ(output, direct) << command;
        }
    }
}

TEST_P(EachPlugin, RefusesFramesItCannotHold) {
    EXPECT_EQ(entry_.construct(0, 10), nullptr);
    EXPECT_EQ(entry_.construct(10, 0), nullptr);
    EXPECT_EQ(entry_.construct(65536, 65536), nullptr);
}

// Hosts run instances on several threads at once (MLT keeps one per
// thread): each draws as it would alone, whatever the others do.
TEST(Frei0rPlugins, InstancesOnSeveralThreadsDrawAsEachDrawsAlone) {
    for (const char *effect : {"Wipe", "Add_Noise", "Push"}) {
        SCOPED_TRACE(effect);
        Plugin plugin(effect);
        ASSERT_TRUE(plugin.Loaded()) << dlerror();
        Entry entry{};
        ASSERT_TRUE(plugin.Bind(entry));
        ASSERT_EQ(entry.init(), 1);
        constexpr int kThreads = 4;
        const auto draw = [&](int thread) {
            const unsigned width = 31 + 2 * unsigned(thread), height = 17;
            f0r_instance_t instance = entry.construct(width, height);
            double progress = 0.2 * thread;
            entry.setParam(instance, &progress, 1);
            const auto a = HostFrame(width, height, 7), b = HostFrame(width, height, 9);
            std::vector<uint32_t> output(size_t{width} * height), first;
            for (int round = 0; round < 20; ++round) {
                entry.update2(instance, round, a.data(), b.data(), nullptr, output.data());
                if (round == 0) first = output;
                if (output != first) return std::vector<uint32_t>{};
            }
            entry.destruct(instance);
            return first;
        };
        std::vector<std::vector<uint32_t>> alone, together(kThreads);
        for (int t = 0; t < kThreads; ++t)
            alone.push_back(draw(t));
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] { together[size_t(t)] = draw(t); });
        for (std::thread &thread : threads)
            thread.join();
        for (int t = 0; t < kThreads; ++t) {
            EXPECT_FALSE(alone[size_t(t)].empty()) << "an instance drew differently twice";
            EXPECT_EQ(together[size_t(t)], alone[size_t(t)]) << "thread " << t;
        }
        entry.deinit();
    }
}

std::vector<std::string> PluginNames() {
    std::vector<std::string> names;
    for (const kve::EffectRow &row : kve::EffectTable())
        names.emplace_back(row.name);
    return names;
}

INSTANTIATE_TEST_SUITE_P(Table, EachPlugin, testing::ValuesIn(PluginNames()),
                         [](const testing::TestParamInfo<std::string> &info) {
                             return info.param;
                         });

}  // namespace
