// The simple line driver and the progress monitor.
#include "engine/drivers.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/effect_run.h"
#include "support/frames.h"

namespace kve::test {
namespace {

struct Report {
    int32_t effectId, totalRows, currentRow;
    void *userData;
};

struct Recorder {
    std::vector<Report> reports;
    int stopAfter = -1;  // stop on this report (0-based), or never
    int answer = 1;      // what to answer when not stopping
};

int RecordReport(MonitorInfo *info, void *userData) {
    auto *recorder = static_cast<Recorder *>(userData);
    recorder->reports.push_back({info->effectId, info->totalRows, info->currentRow, userData});
    return static_cast<int>(recorder->reports.size()) - 1 == recorder->stopAfter ? 0
                                                                                 : recorder->answer;
}

Recorder *processRecorder = nullptr;
int RecordProcessReport(MonitorInfo *info, void *userData) {
    processRecorder->reports.push_back(
        {info->effectId, info->totalRows, info->currentRow, userData});
    return 1;
}

TEST(Monitor, ReportsEveryRowAndStopsWhenAsked) {
    Frame a = NoiseFrame(5, 7, 1);
    Recorder recorder;
    MonitorHook hook{RecordReport, &recorder};
    RunResult run = RunEffect("Negate", {&a}, 5, 7, 0, 0, 0xDEADBEEF, &hook);
    EXPECT_EQ(run.result, 0);
    ASSERT_EQ(recorder.reports.size(), 7u);
    for (int y = 0; y < 7; ++y) {
        EXPECT_EQ(recorder.reports[y].effectId, 34);
        EXPECT_EQ(recorder.reports[y].totalRows, 7);
        EXPECT_EQ(recorder.reports[y].currentRow, y);
        EXPECT_EQ(recorder.reports[y].userData, &recorder);
    }

    // Stopping on the first report: one row written, the rest untouched.
    Recorder stopper;
    stopper.stopAfter = 0;
    hook.userData = &stopper;
    run = RunEffect("Negate", {&a}, 5, 7, 0, 0, 0xDEADBEEF, &hook);
    EXPECT_EQ(run.result, -3);
    EXPECT_EQ(stopper.reports.size(), 1u);
    for (int x = 0; x < 5; ++x)
        EXPECT_EQ(run.output[x], ~a[x]);
    for (size_t i = 5; i < run.output.size(); ++i)
        EXPECT_EQ(run.output[i], 0xDEADBEEFu);

    // Any non-zero answer goes on.
    Recorder negative;
    negative.answer = -1;
    hook.userData = &negative;
    EXPECT_EQ(RunEffect("Negate", {&a}, 5, 7, 0, 0, 0, &hook).result, 0);
    EXPECT_EQ(negative.reports.size(), 7u);
}

TEST(Monitor, ProcessHandlerServesWhenTheHookHasNoCallback) {
    Frame a = NoiseFrame(4, 3, 1);
    Recorder global;
    processRecorder = &global;
    KVE_SetMonitorHandler(RecordProcessReport);

    MonitorHook empty{nullptr, &global};
    RunEffect("Negate", {&a}, 4, 3, 0, 0, 0, &empty);
    RunEffect("Negate", {&a}, 4, 3, 0, 0, 0, nullptr);
    ASSERT_EQ(global.reports.size(), 6u);
    for (const Report &r : global.reports) {
        EXPECT_EQ(r.userData, nullptr);
        EXPECT_EQ(r.totalRows, 3);
    }

    // A hook with a callback replaces the process handler for its call.
    Recorder own;
    MonitorHook hook{RecordReport, &own};
    RunEffect("Negate", {&a}, 4, 3, 0, 0, 0, &hook);
    EXPECT_EQ(own.reports.size(), 3u);
    EXPECT_EQ(global.reports.size(), 6u);

    KVE_SetMonitorHandler(nullptr);
    processRecorder = nullptr;
}

std::vector<int> firstFlags;
KVE_LINE_OP(RecordFirstLineOp) {
    firstFlags.push_back(first);
}

TEST(SimpleLineDriver, FirstIsSetOnRowZeroOnly) {
    EffectRow row{
        .name = "Probe", .signature = "I", .driver = SimpleLineDriver, .lineOp = RecordFirstLineOp};
    Frame a = NoiseFrame(3, 4, 1), out = FilledFrame(3, 4, 0);
    uint32_t *inputs[] = {a.data(), nullptr};
    firstFlags.clear();
    RunEffectRow(row, "", inputs, 3, 4, out.data(), 0, 0, nullptr);
    EXPECT_EQ(firstFlags, (std::vector<int>{1, 0, 0, 0}));
}

TEST(SimpleLineDriver, RowsOfAnyWidthAreAddressedWhole) {
    // Far beyond the 16384-pixel rows of older designs.
    const int32_t width = 40000, height = 2;
    Frame a = NoiseFrame(width, height, 1), b = NoiseFrame(width, height, 2);
    RunResult run = RunEffect("Xor", {&a, &b}, width, height);
    for (size_t i = 0; i < a.size(); ++i)
        ASSERT_EQ(run.output[i], a[i] ^ b[i]) << i;
}

}  // namespace
}  // namespace kve::test
