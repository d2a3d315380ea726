#include "cli/files.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "cli/status.h"

namespace kvecli {

namespace {

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string Reason() {
    return std::strerror(errno);
}

}  // namespace

std::vector<unsigned char> ReadWholeFile(const std::string &path) {
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) throw Failure(Exit::kIo, "cannot open " + path + ": " + Reason());
    std::vector<unsigned char> bytes;
    unsigned char chunk[65536];
    for (;;) {
        const size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
        bytes.insert(bytes.end(), chunk, chunk + got);
        if (got < sizeof chunk) break;
    }
    if (std::ferror(file.get())) throw Failure(Exit::kIo, "cannot read " + path + ": " + Reason());
    return bytes;
}

void WriteFileAtomically(const std::string &path, std::span<const unsigned char> bytes) {
    // A hidden name beside the target, so the rename stays on one file system;
    // the pid and a counter keep concurrent writers apart.
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path target(path);
    std::string tempFile = ".";
    tempFile += target.filename().string();
    tempFile += ".kve-";
    tempFile += std::to_string(getpid());
    tempFile += '-';
    tempFile += std::to_string(counter++);
    const std::filesystem::path temp = target.parent_path() / tempFile;
    const std::string tempName = temp.string();
    std::FILE *raw = std::fopen(tempName.c_str(), "wb");
    if (!raw) throw Failure(Exit::kIo, "cannot write " + path + ": " + Reason());
    FilePtr file(raw);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), raw) == bytes.size();
    std::string reason = written ? "" : Reason();
    const bool closed = std::fclose(file.release()) == 0;
    if (written && !closed) reason = Reason();
    if (written && closed && std::rename(tempName.c_str(), path.c_str()) == 0) return;
    if (reason.empty()) reason = Reason();
    std::remove(tempName.c_str());
    throw Failure(Exit::kIo, "cannot write " + path + ": " + reason);
}

}  // namespace kvecli
