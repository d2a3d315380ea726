// The frei0r entry points of one effect's plugin. Every plugin is this file
// and the library; only the effect's name differs (kve_frei0r_effect, one
// small source per plugin). Everything about the effect comes from its row
// of the effect table through the plugin model; this file only translates:
// parameter values in, RGBA bytes to pixel words and back, no exception out.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "engine/effect_run.h"
#include "frei0r/pixels.h"
#include "frei0r/plugin_model.h"

// The interface's header declares its functions without C linkage.
extern "C" {
#include <frei0r.h>
}

extern "C" const char kve_frei0r_effect[];

namespace kvefrei0r {

namespace {

// Frames above this many pixels are refused at construction, as the tool
// refuses them: their byte counts stay far inside every size type.
constexpr int64_t kMaxPixels = int64_t{1} << 28;

struct Plugin {
    std::optional<PluginModel> model;
    std::string name;
};

// Built once, on first use, and never changed after: instances on several
// threads share it read-only.
const Plugin &ThePlugin() {
    static const Plugin plugin = [] {
        Plugin p;
        p.name = std::string("kve ") + kve_frei0r_effect;
        if (const kve::EffectRow *row = kve::FindEffect(kve_frei0r_effect))
            p.model = BuildModel(*row);
        return p;
    }();
    return plugin;
}

// One instance: its frame size, parameter values and frames in the
// library's layout. Nothing in it is shared with other instances.
struct Instance {
    const PluginModel *model;
    int32_t width, height;
    size_t pixels;
    std::vector<HostValue> values;
    std::array<std::vector<uint32_t>, 3> inputs;
    std::vector<uint32_t> output, sized;
};

Instance *Construct(unsigned width, unsigned height) {
    const Plugin &plugin = ThePlugin();
    if (!plugin.model || width == 0 || height == 0) return nullptr;
    if (int64_t{width} * int64_t{height} > kMaxPixels) return nullptr;
    auto instance = std::make_unique<Instance>();
    instance->model = &*plugin.model;
    instance->width = static_cast<int32_t>(width);
    instance->height = static_cast<int32_t>(height);
    instance->pixels = size_t{width} * height;
    instance->values = DefaultValues(*plugin.model, instance->width, instance->height);
    for (int k = 0; k < plugin.model->inputs; ++k)
        instance->inputs[static_cast<size_t>(k)].resize(instance->pixels);
    instance->output.resize(instance->pixels);
    return instance.release();
}

// Draws the command into `output` (the frame's size). An effect that writes
// another size (a cut-out Crop, a Resize) draws into a frame of its own size,
// whose top-left part the output shows; a refused command leaves the output
// transparent black, as do rows an effect does not write.
void Draw(Instance &instance, const std::string &command, uint32_t *const *frames) {
    std::fill(instance.output.begin(), instance.output.end(), 0u);
    const kve::EffectCheck check =
        kve::CheckEffect(command.c_str(), frames, instance.width, instance.height, 0, 0);
    if (check.status != kve::EffectCheck::kReady) return;
    if (check.outWidth == instance.width && check.outHeight == instance.height) {
        kve::Dispatch(command.c_str(), frames, instance.width, instance.height,
                      instance.output.data(), 0, 0, nullptr);
        return;
    }
    if (check.outWidth <= 0 || check.outHeight <= 0 ||
        int64_t{check.outWidth} * check.outHeight > kMaxPixels)
        return;
    instance.sized.assign(size_t(check.outWidth) * size_t(check.outHeight), 0u);
    kve::Dispatch(command.c_str(), frames, instance.width, instance.height, instance.sized.data(),
                  check.outWidth, check.outHeight, nullptr);
    const size_t columns = size_t(std::min(check.outWidth, instance.width));
    const int32_t rows = std::min(check.outHeight, instance.height);
    for (int32_t y = 0; y < rows; ++y)
        std::copy_n(instance.sized.begin() + ptrdiff_t(y) * check.outWidth, columns,
                    instance.output.begin() + ptrdiff_t(y) * instance.width);
}

void Update(Instance &instance, std::array<const uint32_t *, 3> frames, uint32_t *out) {
    std::array<uint32_t *, 4> inputs{};
    for (size_t k = 0; k < size_t(instance.model->inputs); ++k) {
        std::vector<uint32_t> &input = instance.inputs[k];
        if (frames[k])
            RgbaToLibrary(frames[k], input.data(), instance.pixels);
        else
            std::fill(input.begin(), input.end(), 0u);
        inputs[k] = input.data();
    }
    const std::string command =
        CommandText(*instance.model, instance.values, instance.width, instance.height);
    Draw(instance, command, inputs.data());
    LibraryToRgba(instance.output.data(), out, instance.pixels);
}

}  // namespace

}  // namespace kvefrei0r

using kvefrei0r::HostType;
using kvefrei0r::HostValue;
using kvefrei0r::Instance;
using kvefrei0r::ThePlugin;

// The interface is C: nothing may throw out of these functions. The few that
// allocate catch everything and report failure the interface's way.
extern "C" {

int f0r_init(void) {
    try {
        return ThePlugin().model ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

void f0r_deinit(void) {}

void f0r_get_plugin_info(f0r_plugin_info_t *info) {
    if (!info) return;
    try {
        const auto &plugin = ThePlugin();
        info->name = plugin.name.c_str();
        info->author = "libkve";
        info->plugin_type = plugin.model ? static_cast<int>(plugin.model->kind) : 0;
        info->color_model = F0R_COLOR_MODEL_RGBA8888;
        info->frei0r_version = FREI0R_MAJOR_VERSION;
        info->major_version = 1;
        info->minor_version = 0;
        info->num_params = plugin.model ? static_cast<int>(plugin.model->host.size()) : 0;
        info->explanation = plugin.model ? plugin.model->explanation.c_str() : "";
    } catch (...) {
        std::memset(info, 0, sizeof *info);
    }
}

void f0r_get_param_info(f0r_param_info_t *info, int index) {
    if (!info) return;
    try {
        const auto &model = ThePlugin().model;
        if (!model || index < 0 || size_t(index) >= model->host.size()) return;
        const auto &param = model->host[size_t(index)];
        info->name = param.name.c_str();
        info->type = static_cast<int>(param.type);
        info->explanation = param.explanation.c_str();
    } catch (...) {
    }
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    try {
        return kvefrei0r::Construct(width, height);
    } catch (...) {
        return nullptr;
    }
}

void f0r_destruct(f0r_instance_t instance) {
    delete static_cast<Instance *>(instance);
}

void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    auto *self = static_cast<Instance *>(instance);
    if (!self || !param || index < 0 || size_t(index) >= self->values.size()) return;
    const HostType type = self->model->host[size_t(index)].type;
    HostValue value{};
    if (type == HostType::kColour) {
        const auto *colour = static_cast<const f0r_param_color_t *>(param);
        value = {colour->r, colour->g, colour->b};
    } else if (type == HostType::kPosition) {
        const auto *position = static_cast<const f0r_param_position_t *>(param);
        value = {position->x, position->y, 0};
    } else {
        value[0] = *static_cast<const double *>(param);
    }
    self->values[size_t(index)] = kvefrei0r::Clamped(type, value);
}

void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    auto *self = static_cast<Instance *>(instance);
    if (!self || !param || index < 0 || size_t(index) >= self->values.size()) return;
    const HostType type = self->model->host[size_t(index)].type;
    const HostValue &value = self->values[size_t(index)];
    if (type == HostType::kColour) {
        *static_cast<f0r_param_color_t *>(param) = {static_cast<float>(value[0]),
                                                    static_cast<float>(value[1]),
                                                    static_cast<float>(value[2])};
    } else if (type == HostType::kPosition) {
        *static_cast<f0r_param_position_t *>(param) = {value[0], value[1]};
    } else {
        *static_cast<double *>(param) = value[0];
    }
}

void f0r_update2(f0r_instance_t instance, double, const uint32_t *inframe1,
                 const uint32_t *inframe2, const uint32_t *inframe3, uint32_t *outframe) {
    auto *self = static_cast<Instance *>(instance);
    if (!self || !outframe) return;
    try {
        kvefrei0r::Update(*self, {inframe1, inframe2, inframe3}, outframe);
    } catch (...) {
        // Out of memory while formatting the command: a blank frame.
        std::memset(outframe, 0, self->pixels * sizeof(uint32_t));
    }
}

void f0r_update(f0r_instance_t instance, double time, const uint32_t *inframe, uint32_t *outframe) {
    f0r_update2(instance, time, inframe, nullptr, nullptr, outframe);
}

}  // extern "C"
