// kve gallery: every effect of the table and every wipe number, drawn on the
// built-in frames, with an index.html contact sheet captioned by the command
// texts. Everything comes from the effect table and the wipe numbers, so new
// effects appear without changes here.
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "cli/commands.h"
#include "cli/files.h"
#include "cli/png_io.h"
#include "cli/runner.h"
#include "cli/status.h"
#include "effects/wipe/wipe.h"
#include "engine/effect_table.h"

namespace kvecli {

namespace {

struct Picture {
    std::string section, file, caption, command;  // no command: a built-in input
    int input = -1;
    std::string error;
    Exit code = Exit::kOk;
};

std::string Html(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::vector<Picture> Plan() {
    std::vector<Picture> pictures;
    static const char *const kInputs[] = {
        "A: first input (colour bars)", "B: second input (gradient)",
        "C: third input (matte, alpha shown as grey)", "D: fourth input (checkerboard)"};
    for (int k = 0; k < kSampleCount; ++k)
        pictures.push_back({"Inputs", std::string("input_") + char('A' + k) + ".png", kInputs[k],
                            "", k, "", Exit::kOk});
    for (const kve::EffectRow &row : kve::EffectTable()) {
        const std::string command = row.example && *row.example ? row.example : row.name;
        pictures.push_back({"Effects", std::string("effect_") + row.name + ".png", command, command,
                            -1, "", Exit::kOk});
    }
    if (kve::FindEffect("Wipe")) {
        for (const int32_t number : kve::WipeNumbers()) {
            char file[32];
            std::snprintf(file, sizeof file, "wipe_%03d.png", static_cast<int>(number));
            const std::string command = GalleryWipeCommand(number);
            pictures.push_back({"Wipes", file, command, command, -1, "", Exit::kOk});
        }
    }
    return pictures;
}

std::string IndexPage(const std::vector<Picture> &pictures, Size size) {
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<title>kve gallery</title>\n<style>\n"
        "body { font-family: sans-serif; background: #202020; color: #e8e8e8; margin: 1.5em; }\n"
        "section { display: grid; grid-template-columns: repeat(auto-fill, minmax(300px, 1fr));"
        " gap: 1em; }\n"
        "figure { margin: 0; padding: 0.5em; background: #303030; }\n"
        "img { display: block; max-width: 100%; height: auto; }\n"
        "figcaption { margin-top: 0.4em; font-size: 0.8em; }\n"
        "code { word-break: break-all; }\n.error { color: #ff8080; }\n"
        "</style>\n</head>\n<body>\n<h1>kve gallery</h1>\n<p>Every effect of the library on the"
        " built-in " +
        SizeText(size.width, size.height) +
        " frames. Each caption is the command text that drew the picture; <code>kve render "
        "\"COMMAND\" -o out.png</code> draws it again.</p>\n";
    std::string section;
    for (const Picture &picture : pictures) {
        if (picture.section != section) {
            if (!section.empty()) page += "</section>\n";
            section = picture.section;
            page += "<h2>" + Html(section) + "</h2>\n<section>\n";
        }
        page += "<figure>";
        if (picture.error.empty())
            page += "<img src=\"" + Html(picture.file) + "\" alt=\"" + Html(picture.caption) +
                    "\" loading=\"lazy\">";
        page += "<figcaption>";
        page += picture.command.empty() ? Html(picture.caption)
                                        : "<code>" + Html(picture.caption) + "</code>";
        if (!picture.error.empty())
            page += "<br><span class=\"error\">" + Html(picture.error) + "</span>";
        page += "</figcaption></figure>\n";
    }
    if (!section.empty()) page += "</section>\n";
    return page + "</body>\n</html>\n";
}

}  // namespace

std::string GalleryWipeCommand(int number) {
    // Half way, a soft edge of a tenth of the frame width, a thin warm border,
    // the pattern unscaled and unrotated about the centre, 32-pixel blocks.
    return "Wipe " + std::to_string(number) +
           " 0.5 0.1 [0 0] 1 1 0 [32 32] 0.02 [(argb) 255 255 200 0]";
}

void Gallery(const GalleryOptions &options) {
    const Size size = ParseSize(options.size, "--size");
    const std::filesystem::path directory(options.directory);
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error || !std::filesystem::is_directory(directory))
        throw Failure(Exit::kIo, "cannot make folder " + options.directory + ": " +
                                     (error ? error.message() : "not a folder"));

    const std::vector<Image> inputs = SampleFrames(size);
    std::vector<Picture> pictures = Plan();
    std::mutex lock;
    {
        ProgressBar bar("gallery", pictures.size());
        RunParallel(
            pictures.size(), options.jobs ? options.jobs : DefaultJobs(),
            [&](size_t i, const std::atomic<bool> &) {
                Picture &picture = pictures[i];
                // One picture failing does not stop the others; the sheet
                // shows what went wrong and the status reports it.
                try {
                    const Image image = picture.input >= 0
                                            ? inputs[static_cast<size_t>(picture.input)]
                                            : RunCommand(picture.command, inputs, Size{0, 0});
                    WritePng((directory / picture.file).string(), image, options.alpha);
                } catch (const Failure &failure) {
                    if (failure.Code() == Exit::kStopped) throw;
                    std::lock_guard<std::mutex> guard(lock);
                    picture.error = failure.what();
                    picture.code = failure.Code();
                }
            },
            [&] { bar.Advance(); });
    }

    const std::string index = (directory / "index.html").string();
    const std::string page = IndexPage(pictures, size);
    WriteFileAtomically(index, {reinterpret_cast<const unsigned char *>(page.data()), page.size()});

    size_t failed = 0;
    Exit firstCode = Exit::kOk;
    for (const Picture &picture : pictures) {
        if (picture.error.empty()) continue;
        if (!failed++) firstCode = picture.code;
        std::fprintf(stderr, "kve: gallery: %s: %s\n", picture.caption.c_str(),
                     picture.error.c_str());
    }
    std::printf("Contact sheet: %s (%zu pictures)\n",
                std::filesystem::absolute(index).lexically_normal().c_str(),
                pictures.size() - failed);
    if (failed)
        throw Failure(firstCode, std::to_string(failed) + " of " + std::to_string(pictures.size()) +
                                     " pictures failed");
}

}  // namespace kvecli
