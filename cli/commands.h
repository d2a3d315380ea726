// The subcommands of the kve tool. Each throws a Failure on error.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/image.h"

namespace kvecli {

struct RenderOptions {
    std::string command;
    std::vector<std::string> inputs;
    std::string output;
    std::optional<std::string> size, outSize;
    bool alpha = false;
};
void Render(const RenderOptions &options);

struct SweepOptions {
    RenderOptions render;  // `output` is the frame-name pattern
    int frames = 0;
    unsigned jobs = 0;
};
void Sweep(const SweepOptions &options);

struct PipeOptions {
    std::string command;
    std::string size;
    std::optional<std::string> outSize, second;
    int frames = 0;  // 0: unknown
};
void Pipe(const PipeOptions &options);

void List(const std::optional<std::string> &name);

struct GalleryOptions {
    std::string directory;
    std::string size = "640x360";
    unsigned jobs = 0;
    bool alpha = false;
};
void Gallery(const GalleryOptions &options);

// Helpers shared by the subcommands, exposed for the tests.

// The progress value of frame `index` of `count`, evenly from 0 to 1, as the
// shortest fixed-point text the command language reads ("0", "0.25", "1").
std::string ProgressText(int index, int count);
// `command` with every "{p}" replaced by `progress`.
std::string WithProgress(const std::string &command, const std::string &progress);
// A frame file name from a printf-style pattern with one integer conversion
// (%d, %4d, %04d; %% for a percent sign); throws a usage failure otherwise.
std::string FramePath(const std::string &pattern, int index);
// The Wipe command the gallery draws for one wipe number: progress 0.5, a
// soft edge and a border.
std::string GalleryWipeCommand(int number);

}  // namespace kvecli
