// kve pipe: raw frames in, raw frames out, in FFmpeg's argb layout.
#include <fcntl.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "cli/runner.h"
#include "cli/status.h"

namespace kvecli {

// The library's pixel word holds alpha in its low byte, so on a little-endian
// machine its bytes run A, R, G, B: exactly FFmpeg's argb raw layout, and raw
// frames are read and written without any conversion.
static_assert(std::endian::native == std::endian::little, "raw frames are argb bytes");

namespace {

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ > STDERR_FILENO) close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int Get() const { return fd_; }

  private:
    int fd_;
};

// Fills `bytes` from `fd`; returns how many bytes came before the end of the
// stream (fewer than asked only at its end).
size_t ReadFull(int fd, void *bytes, size_t count, const std::string &name) {
    size_t got = 0;
    while (got < count) {
        const ssize_t n = read(fd, static_cast<char *>(bytes) + got, count - got);
        if (n > 0) {
            got += static_cast<size_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR || Interrupted()) {
            if (Interrupted()) throw Failure(Exit::kStopped, "interrupted");
            throw Failure(Exit::kIo, "cannot read " + name + ": " + std::strerror(errno));
        }
    }
    return got;
}

void WriteFull(int fd, const void *bytes, size_t count) {
    size_t put = 0;
    while (put < count) {
        const ssize_t n = write(fd, static_cast<const char *>(bytes) + put, count - put);
        if (n >= 0) {
            put += static_cast<size_t>(n);
        } else if (errno != EINTR || Interrupted()) {
            if (Interrupted()) throw Failure(Exit::kStopped, "interrupted");
            throw Failure(Exit::kIo,
                          std::string("cannot write to standard output: ") + std::strerror(errno));
        }
    }
}

}  // namespace

void Pipe(const PipeOptions &options) {
    const Size size = ParseSize(options.size, "--size");
    const Size outSize = options.outSize ? ParseSize(*options.outSize, "--out-size") : Size{0, 0};
    const kve::EffectRow &row = EffectOf(options.command);
    const int needed = ImagesNeeded(row);
    const bool sweeping = options.command.find("{p}") != std::string::npos;
    if (sweeping && options.frames < 1)
        throw Failure(Exit::kUsage, "{p} needs the stream's length: give --frames N");
    if (needed > 2)
        throw Failure(Exit::kUsage, std::string(row.name) + " takes " + std::to_string(needed) +
                                        " input frames; pipe feeds two at most (standard "
                                        "input and --second)");
    if (needed == 2 && !options.second)
        throw Failure(Exit::kUsage, std::string(row.name) +
                                        " takes two input frames: give the second stream with "
                                        "--second FILE");

    // The second input is a raw stream read frame by frame, or one still
    // picture (a PNG file, or FILE:N of a frame-sequence file) used for every
    // frame.
    std::vector<Image> inputs(static_cast<size_t>(std::max(needed, 1)),
                              Image(size.width, size.height));
    std::string secondName;
    int secondFd = -1;
    if (options.second && needed == 2) {
        secondName = *options.second;
        if (NamesStillFrame(secondName)) {
            inputs[1] = LoadInput(secondName);
            if (inputs[1].width != size.width || inputs[1].height != size.height)
                throw Failure(Exit::kIo, "input sizes disagree: --size is " + options.size + ", " +
                                             secondName + " is " +
                                             SizeText(inputs[1].width, inputs[1].height));
        } else {
            secondFd = open(secondName.c_str(), O_RDONLY | O_CLOEXEC);
            if (secondFd < 0)
                throw Failure(Exit::kIo, "cannot open " + secondName + ": " + std::strerror(errno));
        }
    }
    const Fd second(secondFd);

    const size_t frameBytes = inputs.front().ByteCount();
    ProgressBar bar("pipe", options.frames > 0 ? static_cast<size_t>(options.frames) : 0);
    Size written{0, 0};
    for (int index = 0;; ++index) {
        if (Interrupted()) throw Failure(Exit::kStopped, "interrupted");
        const size_t got =
            ReadFull(STDIN_FILENO, inputs[0].pixels.data(), frameBytes, "standard input");
        if (got == 0) break;
        if (got < frameBytes)
            throw Failure(Exit::kIo, "standard input ended inside frame " +
                                         std::to_string(index + 1) + " (" + std::to_string(got) +
                                         " of " + std::to_string(frameBytes) +
                                         " bytes; is --size " + options.size + " right?)");
        if (second.Get() >= 0) {
            const size_t more =
                ReadFull(second.Get(), inputs[1].pixels.data(), frameBytes, secondName);
            if (more < frameBytes)
                throw Failure(Exit::kIo, secondName + " ended before frame " +
                                             std::to_string(index + 1) + " of standard input");
        }
        const std::string command =
            sweeping ? WithProgress(options.command, ProgressText(index, options.frames))
                     : options.command;
        const Image output = RunCommand(command, inputs, outSize);
        if (index == 0) {
            written = {output.width, output.height};
            if (written.width != size.width || written.height != size.height)
                std::fprintf(stderr, "kve: output frames are %s\n",
                             SizeText(written.width, written.height).c_str());
        } else if (output.width != written.width || output.height != written.height) {
            throw Failure(Exit::kRefused, "the output size changed from " +
                                              SizeText(written.width, written.height) + " to " +
                                              SizeText(output.width, output.height) + " at frame " +
                                              std::to_string(index + 1));
        }
        WriteFull(STDOUT_FILENO, output.pixels.data(), output.ByteCount());
        bar.Advance();
    }
}

}  // namespace kvecli
