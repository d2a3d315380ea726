// kve: renders the library's effects from the command line.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <new>

#include "cli/commands.h"
#include "cli/runner.h"
#include "cli/status.h"

namespace kvecli {

const char *ExitStatusHelp() {
    return "Exit status:\n"
           "  0  done\n"
           "  1  unexpected failure (out of memory, a bug)\n"
           "  2  usage: wrong options, sizes, frame-name patterns or number of inputs\n"
           "  3  input/output: a file or stream could not be read or written, a PNG is\n"
           "     damaged, or the inputs differ in size\n"
           "  4  the effect refused its parameters (the library's message is shown)\n"
           "  5  unknown effect name\n"
           "  6  stopped by SIGINT or SIGTERM\n"
           "No output file is left half written: files appear complete or not at all.";
}

namespace {

constexpr const char *kCommandHelp =
    "Command text: an effect name and its parameters, e.g. \"Wipe 101 0.5 0.05 [0 0] 1 1 0 "
    "[0 0] 0 [(argb) 0 0 0 0]\" (kve list shows every effect)";

void AddRenderOptions(CLI::App &app, RenderOptions &options, const char *outputHelp) {
    app.add_option("command", options.command, kCommandHelp)->required();
    app.add_option("-i,--input", options.inputs,
                   "input frame: a PNG file, or FILE:N for frame N of a frame-sequence file; "
                   "repeat for each input (default: the built-in frames)");
    app.add_option("-o,--output", options.output, outputHelp)->required();
    app.add_option("--size", options.size, "size of the built-in frames, WxH (default 640x360)");
    app.add_option("--out-size", options.outSize,
                   "output size, WxH (default: the input size, or the size the effect sets)");
    app.add_flag("--alpha", options.alpha,
                 "keep alpha in the PNG (by default it is dropped: many effects write alpha 0)");
}

int Run(int argc, char **argv) {
    CLI::App app{
        "kve: video-frame effects and transitions from the command line.\n"
        "Every effect is driven by a command text; see 'kve list'.",
        "kve"};
    app.footer(ExitStatusHelp());
    app.require_subcommand(1);
    app.set_version_flag("--version", "kve 1.0.0");

    RenderOptions render;
    CLI::App *renderApp = app.add_subcommand("render", "render one effect into a PNG file");
    AddRenderOptions(*renderApp, render, "output PNG file");
    renderApp->footer(ExitStatusHelp());

    SweepOptions sweep;
    CLI::App *sweepApp = app.add_subcommand(
        "sweep", "render a transition as numbered PNG frames: {p} in the command runs 0 to 1");
    AddRenderOptions(*sweepApp, sweep.render,
                     "frame file names, printf-style with one number, e.g. 'out_%04d.png' "
                     "(frames are numbered from 0)");
    sweepApp->add_option("--frames", sweep.frames, "number of frames")
        ->required()
        ->check(CLI::PositiveNumber);
    sweepApp->add_option("--jobs", sweep.jobs, "frames rendered at once (default: the cores)")
        ->check(CLI::PositiveNumber);
    sweepApp->footer(ExitStatusHelp());

    PipeOptions pipe;
    CLI::App *pipeApp = app.add_subcommand(
        "pipe",
        "filter raw frames from standard input to standard output in FFmpeg's argb layout\n"
        "  e.g. ffmpeg -i in.mp4 -f rawvideo -pix_fmt argb - | kve pipe \"MirrorH\" --size "
        "1280x720 "
        "|\n       ffmpeg -f rawvideo -pix_fmt argb -s 1280x720 -i - out.mp4");
    pipeApp->add_option("command", pipe.command, kCommandHelp)->required();
    pipeApp->add_option("--size", pipe.size, "size of the input frames, WxH")->required();
    pipeApp->add_option("--out-size", pipe.outSize, "output size, WxH (default: the input size)");
    pipeApp->add_option("--second", pipe.second,
                        "the effect's second input: a file or FIFO of raw argb frames, or one "
                        "still picture (FILE.png, or FILE:N of a frame-sequence file)");
    pipeApp
        ->add_option("--frames", pipe.frames,
                     "number of frames in the stream: {p} runs from 0 to 1 over them, and a "
                     "progress bar is shown")
        ->check(CLI::PositiveNumber);
    pipeApp->footer(ExitStatusHelp());

    std::optional<std::string> listName;
    CLI::App *listApp =
        app.add_subcommand("list", "list the effects with their parameters in words");
    listApp->add_option("name", listName, "explain one effect and show an example");
    listApp->footer(ExitStatusHelp());

    GalleryOptions gallery;
    CLI::App *galleryApp = app.add_subcommand(
        "gallery", "render every effect and wipe on the built-in frames, with an index.html");
    galleryApp->add_option("-o,--output", gallery.directory, "folder for the pictures")->required();
    galleryApp->add_option("--size", gallery.size, "size of the built-in frames, WxH")
        ->capture_default_str();
    galleryApp->add_option("--jobs", gallery.jobs, "pictures rendered at once (default: the cores)")
        ->check(CLI::PositiveNumber);
    galleryApp->add_flag("--alpha", gallery.alpha, "keep alpha in the PNG files");
    galleryApp->footer(ExitStatusHelp());

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        if (error.get_exit_code() == 0) return app.exit(error);
        std::fprintf(stderr, "kve: %s\nRun 'kve --help' or 'kve SUBCOMMAND --help' for usage.\n",
                     error.what());
        return static_cast<int>(Exit::kUsage);
    }

    InstallProcessHooks();
    if (*renderApp) Render(render);
    if (*sweepApp) Sweep(sweep);
    if (*pipeApp) Pipe(pipe);
    if (*listApp) List(listName);
    if (*galleryApp) Gallery(gallery);
    return static_cast<int>(Exit::kOk);
}

}  // namespace

}  // namespace kvecli

int main(int argc, char **argv) {
    using kvecli::Exit;
    try {
        return kvecli::Run(argc, argv);
    } catch (const kvecli::Failure &failure) {
        std::fprintf(stderr, "kve: %s\n", failure.what());
        return static_cast<int>(failure.Code());
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "kve: out of memory\n");
    } catch (const std::exception &error) {
        std::fprintf(stderr, "kve: %s\n", error.what());
    }
    return static_cast<int>(Exit::kInternal);
}
