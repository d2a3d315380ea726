// Exit statuses of the kve tool and the failure that carries one to main().
#pragma once

#include <stdexcept>
#include <string>

namespace kvecli {

// Distinct statuses, so scripts can tell a typo from a refused effect from a
// missing file. The same table is printed by --help and kept in the README.
enum class Exit : int {
    kOk = 0,
    kInternal = 1,       // unexpected failure (out of memory, a bug)
    kUsage = 2,          // wrong command line: options, sizes, patterns, input count
    kIo = 3,             // a file or stream could not be read or written, or inputs disagree
    kRefused = 4,        // the effect refused its parameters (its diagnostic is shown)
    kUnknownEffect = 5,  // no effect of that name
    kStopped = 6,        // interrupted (SIGINT/SIGTERM): the effect was stopped
};

// The exit-status table as shown by --help.
const char *ExitStatusHelp();

class Failure : public std::runtime_error {
  public:
    Failure(Exit code, const std::string &message) : std::runtime_error(message), code_(code) {}
    Exit Code() const { return code_; }

  private:
    Exit code_;
};

}  // namespace kvecli
