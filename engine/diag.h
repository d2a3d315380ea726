// Diagnostic hooks. Every diagnostic text of the library goes through one of
// these; they discard it unless a sink is installed. No result ever depends on
// them.
#pragma once

#include <string_view>

namespace kve {

// A refused parameter: `index` counts the failing signature letter from the
// END of the signature (the last letter is 0).
void Diag_Report(std::string_view prefix, int index, std::string_view typeName);
// An effect's own failure, e.g. "<ZoomPan> temp buffer allocation failure".
void Diag_Message(std::string_view text);

// Receives each diagnostic as one line of text. Not exported from the shared
// library: the tests and the command-line tool link the static library.
using DiagnosticSink = void (*)(std::string_view text, void *userData);

// Installs a process-wide sink (null discards again); returns the previous one.
// Safe to call while effects run on other threads.
DiagnosticSink SetDiagnosticSink(DiagnosticSink sink, void *userData = nullptr);

}  // namespace kve
