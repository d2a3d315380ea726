#include "cli/runner.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <exception>
#include <sstream>
#include <thread>

#include "cli/status.h"
#include "engine/effect_run.h"
#include "host/effect_words.h"
#include "host/run_guard.h"
#include "libkve.h"

namespace kvecli {

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void OnSignal(int) {
    interrupted.store(true);
}

int Monitor(MonitorInfo *, void *userData) {
    const auto *cancel = static_cast<const std::atomic<bool> *>(userData);
    return interrupted.load() || (cancel && cancel->load()) ? 0 : 1;
}

[[noreturn]] void Unknown(const std::string &name) {
    std::string message = kvehost::UnknownMessage(name);
    if (!name.empty()) message += " (kve list shows every effect)";
    throw Failure(Exit::kUnknownEffect, message);
}

[[noreturn]] void Refuse(const kve::EffectRow &row, const std::vector<std::string> &lines,
                         const std::string &fallback) {
    throw Failure(Exit::kRefused, kvehost::RefusalMessage(row, lines, fallback));
}

void PrintUnscoped(std::string_view text) {
    std::fprintf(stderr, "kve: %.*s\n", static_cast<int>(text.size()), text.data());
}

}  // namespace

void InstallProcessHooks() {
    kvehost::InstallDiagnosticCapture(&PrintUnscoped);
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking read of a pipe returns, and the tool stops.
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed output pipe is reported as a write error, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
}

bool Interrupted() {
    return interrupted.load();
}

const kve::EffectRow &EffectOf(std::string_view command) {
    const std::string name = kvehost::CommandWord(command);
    const kve::EffectRow *row = kve::FindEffect(name);
    if (!row) Unknown(name);
    return *row;
}

Image RunCommand(const std::string &command, std::span<const Image> inputs, Size outSize,
                 const std::atomic<bool> *cancel) {
    const kve::EffectRow &row = EffectOf(command);
    const int needed = ImagesNeeded(row);
    if (inputs.empty()) throw Failure(Exit::kInternal, "no input frame to take the size from");
    if (static_cast<int>(inputs.size()) < needed)
        throw Failure(Exit::kUsage, std::string(row.name) + " takes " + std::to_string(needed) +
                                        " input frames, " + std::to_string(inputs.size()) +
                                        " given");
    const int32_t width = inputs.front().width, height = inputs.front().height;
    std::vector<uint32_t *> list;
    for (const Image &input : inputs) {
        if (input.width != width || input.height != height)
            throw Failure(Exit::kIo, "input frames differ in size");
        // The library reads input frames through non-const pointers but never
        // writes them.
        list.push_back(const_cast<uint32_t *>(input.pixels.data()));
    }
    list.push_back(nullptr);

    kvehost::DiagnosticScope diagnostics;
    const kve::EffectCheck check = kve::CheckEffect(command.c_str(), list.data(), width, height,
                                                    outSize.width, outSize.height);
    if (check.status == kve::EffectCheck::kUnknownName) Unknown(row.name);
    if (check.status == kve::EffectCheck::kAbandoned)
        Refuse(row, diagnostics.Lines(), kvehost::kSilentRefusal);
    if (int64_t{check.outWidth} * check.outHeight > kvehost::kMaxOutputPixels)
        throw Failure(Exit::kRefused, std::string(row.name) + " would draw a " +
                                          SizeText(check.outWidth, check.outHeight) +
                                          " frame, more than the tool handles");

    Image output(check.outWidth, check.outHeight);
    MonitorHook hook{&Monitor, const_cast<std::atomic<bool> *>(cancel)};
    const int result = KVE_EffectBySize(command.c_str(), list.data(), width, height,
                                        output.pixels.data(), outSize.width, outSize.height, &hook);
    if (result == -4) Unknown(row.name);
    if (result == -3) throw Failure(Exit::kStopped, std::string(row.name) + " stopped");
    if (result == -2) Refuse(row, diagnostics.Lines(), "malformed parameters");
    if (!diagnostics.Lines().empty()) Refuse(row, diagnostics.Lines(), "");
    return output;
}

ProgressBar::ProgressBar(std::string label, size_t total)
    : label_(std::move(label)), total_(total), enabled_(total > 0 && isatty(STDERR_FILENO)) {
    if (enabled_) Draw();
}

ProgressBar::~ProgressBar() {
    if (enabled_) std::fprintf(stderr, "\r\033[K");
}

void ProgressBar::Advance() {
    std::lock_guard<std::mutex> guard(lock_);
    ++done_;
    if (enabled_) Draw();
}

void ProgressBar::Draw() {
    constexpr size_t kWidth = 30;
    const size_t filled = std::min(kWidth, done_ * kWidth / total_);
    std::fprintf(stderr, "\r%s [%s%s] %zu/%zu", label_.c_str(), std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, '.').c_str(), done_, total_);
    std::fflush(stderr);
}

void RunParallel(size_t count, unsigned jobs,
                 const std::function<void(size_t, const std::atomic<bool> &)> &task,
                 const std::function<void()> &done) {
    std::atomic<size_t> next{0};
    std::atomic<bool> cancel{false};
    std::mutex lock;
    std::exception_ptr firstFailure;
    const auto fail = [&](std::exception_ptr error) {
        std::lock_guard<std::mutex> guard(lock);
        if (!firstFailure) firstFailure = error;
        cancel = true;
    };
    const auto worker = [&] {
        for (;;) {
            if (cancel || interrupted) return;
            const size_t i = next++;
            if (i >= count) return;
            std::exception_ptr error;
            try {
                std::thread item([&] {
                    try {
                        task(i, cancel);
                    } catch (...) {
                        error = std::current_exception();
                    }
                });
                item.join();
            } catch (...) {
                error = std::current_exception();
            }
            if (error)
                fail(error);
            else if (done)
                done();
        }
    };
    const size_t workers = std::clamp<size_t>(jobs, 1, std::max<size_t>(1, count));
    std::vector<std::thread> threads;
    try {
        for (size_t k = 1; k < workers; ++k)
            threads.emplace_back(worker);
    } catch (...) {
        fail(std::current_exception());
    }
    worker();
    for (std::thread &thread : threads)
        thread.join();
    if (firstFailure) std::rethrow_exception(firstFailure);
    if (interrupted) throw Failure(Exit::kStopped, "interrupted");
}

unsigned DefaultJobs() {
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace kvecli
