// kve render and kve sweep: one frame, or a transition as numbered frames.
#include <cstdio>
#include <mutex>

#include "cli/commands.h"
#include "cli/png_io.h"
#include "cli/runner.h"
#include "cli/status.h"

namespace kvecli {

namespace {

// The inputs named with -i, or the built-in frames at --size.
std::vector<Image> Inputs(const RenderOptions &options) {
    if (options.inputs.empty())
        return SampleFrames(ParseSize(options.size.value_or("640x360"), "--size"));
    std::vector<Image> inputs = LoadInputs(options.inputs);
    if (options.size) {
        const Size size = ParseSize(*options.size, "--size");
        const Image &first = inputs.front();
        if (size.width != first.width || size.height != first.height)
            throw Failure(Exit::kUsage, "--size " + *options.size + " does not match the inputs (" +
                                            SizeText(first.width, first.height) +
                                            "); --size sets the size of the built-in frames");
    }
    return inputs;
}

Size OutSize(const std::optional<std::string> &text) {
    return text ? ParseSize(*text, "--out-size") : Size{0, 0};
}

}  // namespace

std::string ProgressText(int index, int count) {
    if (count <= 1 || index <= 0) return "0";
    if (index >= count - 1) return "1";
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", static_cast<double>(index) / (count - 1));
    std::string result(text);
    while (result.back() == '0')
        result.pop_back();
    if (result.back() == '.') result.pop_back();
    return result;
}

std::string WithProgress(const std::string &command, const std::string &progress) {
    std::string result;
    size_t from = 0;
    for (size_t at; (at = command.find("{p}", from)) != std::string::npos; from = at + 3)
        result += command.substr(from, at - from) + progress;
    return result + command.substr(from);
}

std::string FramePath(const std::string &pattern, int index) {
    std::string path;
    int conversions = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            path += pattern[i];
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            path += '%';
            ++i;
            continue;
        }
        size_t j = i + 1;
        const bool zero = j < pattern.size() && pattern[j] == '0';
        size_t width = 0;
        while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9' && width < 100)
            width = width * 10 + static_cast<size_t>(pattern[j++] - '0');
        if (j >= pattern.size() || pattern[j] != 'd' || width >= 100 || ++conversions > 1)
            throw Failure(Exit::kUsage, "-o " + pattern +
                                            ": the frame name needs exactly one %d-style number "
                                            "(e.g. out_%04d.png; %% for a percent sign)");
        std::string number = std::to_string(index);
        if (number.size() < width) number.insert(0, width - number.size(), zero ? '0' : ' ');
        path += number;
        i = j;
    }
    if (conversions != 1)
        throw Failure(Exit::kUsage, "-o " + pattern +
                                        ": the frame name needs a %d-style number, e.g. "
                                        "out_%04d.png");
    return path;
}

void Render(const RenderOptions &options) {
    const std::vector<Image> inputs = Inputs(options);
    const Image output = RunCommand(options.command, inputs, OutSize(options.outSize));
    WritePng(options.output, output, options.alpha);
}

void Sweep(const SweepOptions &options) {
    const RenderOptions &render = options.render;
    if (render.command.find("{p}") == std::string::npos)
        throw Failure(Exit::kUsage, "the command has no {p} to sweep from 0 to 1");
    if (options.frames < 1) throw Failure(Exit::kUsage, "--frames must be at least 1");
    FramePath(render.output, 0);  // a bad pattern fails before any work
    EffectOf(render.command);     // and so does an unknown effect
    const std::vector<Image> inputs = Inputs(render);
    const Size outSize = OutSize(render.outSize);

    std::mutex lock;
    std::vector<std::string> written;
    ProgressBar bar("sweep", static_cast<size_t>(options.frames));
    try {
        RunParallel(
            static_cast<size_t>(options.frames), options.jobs ? options.jobs : DefaultJobs(),
            [&](size_t i, const std::atomic<bool> &cancel) {
                const int index = static_cast<int>(i);
                const std::string command =
                    WithProgress(render.command, ProgressText(index, options.frames));
                const Image frame = RunCommand(command, inputs, outSize, &cancel);
                const std::string path = FramePath(render.output, index);
                WritePng(path, frame, render.alpha);
                std::lock_guard<std::mutex> guard(lock);
                written.push_back(path);
            },
            [&] { bar.Advance(); });
    } catch (...) {
        // A sweep is one piece of output: never leave part of it behind.
        for (const std::string &path : written)
            std::remove(path.c_str());
        throw;
    }
}

}  // namespace kvecli
