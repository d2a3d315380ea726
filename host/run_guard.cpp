#include "host/run_guard.h"

#include <atomic>
#include <stdexcept>

#include "engine/diag.h"
#include "engine/scanner.h"
#include "host/effect_words.h"

namespace kvehost {

namespace {

thread_local std::vector<std::string> *threadDiagnostics = nullptr;

std::atomic<void (*)(std::string_view)> unscopedSink{nullptr};

void Sink(std::string_view text, void *) {
    if (threadDiagnostics)
        threadDiagnostics->emplace_back(text);
    else if (const auto unscoped = unscopedSink.load())
        unscoped(text);
}

std::mutex blockWipeLock;
thread_local bool blockWipeOnThisThread = false;

bool IsBlockWipe(std::string_view command) {
    const std::vector<std::string> words = SplitWords(command);
    return words.size() >= 2 && words[0] == "Wipe" && kve::IsNumber(words[1]) &&
           kve::IntegerValue(words[1]) > 300;
}

}  // namespace

void InstallDiagnosticCapture(void (*unscoped)(std::string_view text)) {
    unscopedSink.store(unscoped);
    kve::SetDiagnosticSink(&Sink);
}

DiagnosticScope::DiagnosticScope() : previous_(threadDiagnostics) {
    threadDiagnostics = &lines_;
}

DiagnosticScope::~DiagnosticScope() {
    threadDiagnostics = previous_;
}

ExclusiveRun::ExclusiveRun(std::string_view command) {
    if (!IsBlockWipe(command)) return;
    if (blockWipeOnThisThread)
        throw std::runtime_error("a block wipe cannot start while another runs on the same thread");
    lock_ = std::unique_lock<std::mutex>(blockWipeLock);
    blockWipeOnThisThread = true;
}

ExclusiveRun::~ExclusiveRun() {
    if (lock_.owns_lock()) blockWipeOnThisThread = false;
}

}  // namespace kvehost
