// Effects run on several threads at once give the pixels of a single-threaded
// run: every effect of the table with its example command, eight threads at a
// time, each with its own frames. CI runs this test under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <array>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "engine/effect_table.h"
#include "fuzz/harness.h"
#include "support/frames.h"

namespace kve::test {
namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 2;
constexpr int32_t kWidth = 61, kHeight = 37;  // odd, so no row is a multiple of a vector

thread_local int processRows = 0;

int CountProcessRow(MonitorInfo *, void *) {
    ++processRows;
    return 1;
}

int CountHookRow(MonitorInfo *, void *userData) {
    ++*static_cast<int *>(userData);
    return 1;
}

// Commands beyond the table's examples: the block wipes, whose map and random
// seed belong to the call and the thread, and the round wipes. 410 draws a
// fresh seed from the thread's random source and 409 reuses it.
const char *const kExtraCommands[] = {
    "Wipe 301 0.4 0.3 [0 0] 1 1 0 [4 4] 1.2 [(argb) 255 255 240 64]",
    "Wipe 328 0.6 0.05 [0 0] 1 1 0 [3 5] 0 [(argb) 255 0 0 0]",
    "Wipe 345 0.5 0.05 [0 0] 1 1 0 [2 2] 0 [(argb) 255 0 0 0]",
    "Wipe 410 0.5 0.5 [0 0] 1 1 0 [2 3] 1 [(argb) 255 9 9 9]",
    "Wipe 409 0.7 0.05 [0 0] 1 1 0 [2 3] 0 [(argb) 255 9 9 9]",
    "Wipe 119 0.5 0.1 [0.1 0] 1 1 0 [0 0] 0.02 [(argb) 255 255 200 0]",
    "Wipe 130 0.6 0.05 [0 0] 1.2 0.9 20 [0 0] 0.02 [(argb) 255 255 200 0]",
};

// One line per call: the command, its result, the rows it reported and the
// checksum of its output. The random source keeps one state per thread, so a
// thread that runs the same commands in the same order gets the same noise.
std::vector<std::string> RunEveryExample(bool useHook) {
    std::array<Frame, 4> frames = {PictureFrame(kWidth, kHeight, 0), NoiseFrame(kWidth, kHeight, 1),
                                   PictureFrame(kWidth, kHeight, 2),
                                   NoiseFrame(kWidth, kHeight, 3)};
    std::vector<uint32_t *> inputs;
    for (Frame &frame : frames)
        inputs.push_back(frame.data());
    inputs.push_back(nullptr);

    std::vector<std::string> commands;
    for (const EffectRow &row : EffectTable())
        commands.push_back(*row.example ? row.example : row.name);
    commands.insert(commands.end(), std::begin(kExtraCommands), std::end(kExtraCommands));

    std::vector<std::string> lines;
    for (int round = 0; round < kRounds; ++round) {
        for (const std::string &command : commands) {
            const fuzz::Size size = fuzz::HostOutputSize(command, kWidth, kHeight, 0, 0);
            Frame output(static_cast<size_t>(
                             size.width > 0 && size.height > 0 ? size.width * size.height : 0),
                         0xDEADBEEF);
            int hookRows = 0;
            MonitorHook hook{CountHookRow, &hookRows};
            processRows = 0;
            const int result = KVE_EffectBySize(command.c_str(), inputs.data(), kWidth, kHeight,
                                                output.data(), 0, 0, useHook ? &hook : nullptr);
            lines.push_back(command + " -> " + std::to_string(result) + " rows " +
                            std::to_string(useHook ? hookRows : processRows) + " " +
                            Checksum(output));
        }
    }
    return lines;
}

TEST(Threads, EveryEffectGivesTheSamePixelsOnEightThreads) {
    const MonitorHandler previous = KVE_SetMonitorHandler(CountProcessRow);
    std::vector<std::string> reference;
    std::thread([&] { reference = RunEveryExample(true); }).join();

    std::vector<std::vector<std::string>> results(kThreads);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            // Half the threads report through a per-call hook, half through
            // the process-wide handler.
            results[t] = RunEveryExample(t % 2 == 0);
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    KVE_SetMonitorHandler(previous);

    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(results[t], reference) << "thread " << t;
}

}  // namespace
}  // namespace kve::test
