// What a host needs around every effect call to run several at once and to
// report clearly: the library's diagnostics collected per call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvehost {

// The largest frame a host allocates for an effect's output (1 GiB of
// pixels): a sized fill may name a frame far larger than memory.
constexpr int64_t kMaxOutputPixels = int64_t{1} << 28;

// Installs the library's diagnostic sink. Diagnostics raised on a thread that
// has a DiagnosticScope open go to that scope; others go to `unscoped`
// (null discards them).
void InstallDiagnosticCapture(void (*unscoped)(std::string_view text));

// Collects the diagnostics of the calls made on this thread while it lives.
// The library reports on the thread that runs the effect, so concurrent
// calls never see each other's lines.
class DiagnosticScope {
  public:
    DiagnosticScope();
    ~DiagnosticScope();
    DiagnosticScope(const DiagnosticScope &) = delete;
    DiagnosticScope &operator=(const DiagnosticScope &) = delete;
    const std::vector<std::string> &Lines() const { return lines_; }

  private:
    std::vector<std::string> lines_;
    std::vector<std::string> *previous_;
};

}  // namespace kvehost
