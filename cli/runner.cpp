#include "cli/runner.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <exception>
#include <sstream>
#include <thread>

#include "cli/status.h"
#include "engine/diag.h"
#include "engine/effect_run.h"
#include "engine/scanner.h"
#include "libkve.h"

namespace kvecli {

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void OnSignal(int) {
    interrupted.store(true);
}

// The library reports diagnostics on the thread that runs the effect, so each
// call collects its own through a per-thread list; anything outside a call
// goes straight to standard error.
thread_local std::vector<std::string> *threadDiagnostics = nullptr;

void Sink(std::string_view text, void *) {
    if (threadDiagnostics)
        threadDiagnostics->emplace_back(text);
    else
        std::fprintf(stderr, "kve: %.*s\n", static_cast<int>(text.size()), text.data());
}

class DiagnosticScope {
  public:
    DiagnosticScope() : previous_(threadDiagnostics) { threadDiagnostics = &lines_; }
    ~DiagnosticScope() { threadDiagnostics = previous_; }
    DiagnosticScope(const DiagnosticScope &) = delete;
    DiagnosticScope &operator=(const DiagnosticScope &) = delete;
    const std::vector<std::string> &Lines() const { return lines_; }

  private:
    std::vector<std::string> lines_;
    std::vector<std::string> *previous_;
};

int Monitor(MonitorInfo *, void *userData) {
    const auto *cancel = static_cast<const std::atomic<bool> *>(userData);
    return interrupted.load() || (cancel && cancel->load()) ? 0 : 1;
}

[[noreturn]] void Unknown(const std::string &name) {
    throw Failure(Exit::kUnknownEffect,
                  name.empty() ? "empty command"
                               : "unknown effect \"" + name + "\" (kve list shows every effect)");
}

const char *KindOf(char letter) {
    switch (letter) {
        case 'C':
            return "a coordinate [x y]";
        case 'R':
            return "a rectangle [x1 y1 x2 y2]";
        case 'S':
            return "a size [width height]";
        case 'c':
            return "a colour [(argb) alpha red green blue]";
        case 'f':
            return "the format word (argb)";
        case 'i':
            return "a number (its integer part is used)";
        case 'q':
            return "a whole number";
        default:
            return "a number";
    }
}

// Turns "<Wipe>+3: bad real" into the parameter's name and what it must be.
// The number counts signature letters from the END of the signature.
std::string Explain(const kve::EffectRow &row, const std::string &line) {
    if (!row.signature) return line;
    const std::string head = std::string("<") + row.name + ">+";
    if (line.compare(0, head.size(), head) != 0) return line;
    size_t at = head.size();
    long index = 0;
    while (at < line.size() && at < head.size() + 6 && line[at] >= '0' && line[at] <= '9')
        index = index * 10 + (line[at++] - '0');
    if (at == head.size() || line.compare(at, 6, ": bad ") != 0) return line;
    const std::string_view signature = row.signature;
    const long position = static_cast<long>(signature.size()) - 1 - index;
    if (position < 0) return line;
    const char letter = signature[static_cast<size_t>(position)];
    if (letter == 'I') return line + " (an input frame is missing)";
    const auto textPosition = std::count_if(signature.begin(), signature.begin() + position,
                                            [](char c) { return c != 'I'; });
    const std::vector<std::string> names = SplitWords(row.params);
    std::string what = "parameter " + std::to_string(textPosition + 1);
    if (static_cast<size_t>(textPosition) < names.size())
        what += " (" + names[static_cast<size_t>(textPosition)] + ")";
    return line + ": " + what + " must be " + KindOf(letter);
}

[[noreturn]] void Refuse(const kve::EffectRow &row, const std::vector<std::string> &lines,
                         const std::string &fallback) {
    std::string message = std::string(row.name) + " refused its parameters";
    if (lines.empty()) message += " (" + fallback + ")";
    for (const std::string &line : lines)
        message += "\n  " + Explain(row, line);
    message += "\n  usage: " + UsageLine(row);
    throw Failure(Exit::kRefused, message);
}

}  // namespace

void InstallProcessHooks() {
    kve::SetDiagnosticSink(&Sink);
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

std::vector<std::string> SplitWords(std::string_view text) {
    std::vector<std::string> words;
    std::istringstream in{std::string(text)};
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

const kve::EffectRow &EffectOf(std::string_view command) {
    // The word the library's dispatcher reads: after spaces and tabs, up to
    // the next space or tab.
    while (!command.empty() && kve::IsBlank(command.front()))
        command.remove_prefix(1);
    const std::string name(command.substr(0, command.find_first_of(" \t")));
    const kve::EffectRow *row = kve::FindEffect(name);
    if (!row) Unknown(name);
    return *row;
}

int ImagesNeeded(const kve::EffectRow &row) {
    if (row.transition || !row.signature) return 2;
    const std::string_view signature = row.signature;
    return static_cast<int>(std::count(signature.begin(), signature.end(), 'I'));
}

std::string UsageLine(const kve::EffectRow &row) {
    std::string line = row.name;
    for (const std::string &word : SplitWords(row.params))
        line += " <" + word + ">";
    const int images = ImagesNeeded(row);
    if (images > 0)
        line += "   (" + std::to_string(images) + (images == 1 ? " input)" : " inputs)");
    return line;
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

    DiagnosticScope diagnostics;
    const kve::EffectCheck check = kve::CheckEffect(command.c_str(), list.data(), width, height,
                                                    outSize.width, outSize.height);
    if (check.status == kve::EffectCheck::kUnknownName) Unknown(row.name);
    if (check.status == kve::EffectCheck::kAbandoned)
        Refuse(row, diagnostics.Lines(),
               "a parameter is missing, a colour is not [(argb) a r g b], or the output is empty");
    if (int64_t{check.outWidth} * check.outHeight > (int64_t{1} << 28))
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
