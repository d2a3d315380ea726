// Running command texts through the library: checks and clear failures,
// diagnostics per thread, stopping on a signal, several frames at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/image.h"
#include "engine/effect_table.h"
#include "host/effect_words.h"

namespace kvecli {

// Installs the library's diagnostic sink and the SIGINT/SIGTERM handlers that
// stop running effects at their next row. Called once from main().
void InstallProcessHooks();
bool Interrupted();

// The effect row a command names (the word at its head), or an
// unknown-effect failure.
const kve::EffectRow &EffectOf(std::string_view command);
using kvehost::ImagesNeeded;
using kvehost::SplitWords;
using kvehost::UsageLine;

// Runs one command on `inputs` (all one size; the effect takes as many as it
// needs) and returns the frame it drew, sized as the effect sizes it (Crop,
// Resize and sized fills differ from the input). `outSize` of 0 x 0 means the
// input size. Throws a Failure for an unknown effect, too few inputs, refused
// parameters (with the library's diagnostics explained), or a stop. `cancel`,
// when set, stops the effect at its next row.
Image RunCommand(const std::string &command, std::span<const Image> inputs, Size outSize,
                 const std::atomic<bool> *cancel = nullptr);

// A one-line progress bar on standard error, drawn only when standard error
// is a terminal. Safe to advance from several threads.
class ProgressBar {
  public:
    ProgressBar(std::string label, size_t total);
    ~ProgressBar();
    ProgressBar(const ProgressBar &) = delete;
    ProgressBar &operator=(const ProgressBar &) = delete;
    void Advance();

  private:
    void Draw();
    std::mutex lock_;
    std::string label_;
    size_t total_, done_ = 0;
    bool enabled_;
};

// Calls task(i) for every i below `count`, at most `jobs` at a time. Each call
// runs on a thread of its own, so the library's per-thread random source
// starts afresh for every item and the results do not depend on `jobs` or on
// scheduling. The first failure cancels the items still running (through
// `cancel`, which tasks pass to RunCommand) and is rethrown; other items'
// failures are dropped. `done` is called after each successful item.
void RunParallel(size_t count, unsigned jobs,
                 const std::function<void(size_t, const std::atomic<bool> &)> &task,
                 const std::function<void()> &done = {});

unsigned DefaultJobs();

}  // namespace kvecli
