#include "engine/diag.h"

#include <mutex>
#include <string>

namespace kve {

namespace {

// Diagnostics are rare, so one lock around the sink costs nothing and keeps
// the sink and its user data consistent across threads.
std::mutex sinkLock;
DiagnosticSink currentSink = nullptr;
void *currentUserData = nullptr;

}  // namespace

DiagnosticSink SetDiagnosticSink(DiagnosticSink sink, void *userData) {
    std::lock_guard<std::mutex> guard(sinkLock);
    DiagnosticSink previous = currentSink;
    currentSink = sink;
    currentUserData = userData;
    return previous;
}

void Diag_Message(std::string_view text) {
    DiagnosticSink sink;
    void *userData;
    {
        std::lock_guard<std::mutex> guard(sinkLock);
        sink = currentSink;
        userData = currentUserData;
    }
    // Called outside the lock so a sink may itself install another sink.
    if (sink) sink(text, userData);
}

void Diag_Report(std::string_view prefix, int index, std::string_view typeName) {
    {
        std::lock_guard<std::mutex> guard(sinkLock);
        if (!currentSink) return;
    }
    std::string text(prefix);
    text += std::to_string(index);
    text += ": bad ";
    text += typeName;
    Diag_Message(text);
}

}  // namespace kve
