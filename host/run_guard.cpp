#include "host/run_guard.h"

#include <atomic>

#include "engine/diag.h"

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

}  // namespace kvehost
