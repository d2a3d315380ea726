// MirrorH and MirrorV through command texts, and MirrorV's own driver.
#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "support/frames.h"

namespace kve::test {
namespace {

TEST(MirrorHTest, ReversesEachRow) {
    Frame rows{1, 2, 3, 4, 5, 6};
    EXPECT_EQ(RunEffect("MirrorH", {&rows}, 3, 2).output, (Frame{3, 2, 1, 6, 5, 4}));
    Frame column{7, 8, 9};
    EXPECT_EQ(RunEffect("MirrorH", {&column}, 1, 3).output, column);
}

TEST(MirrorTest, TwiceIsTheIdentity) {
    for (int32_t width : {1, 2, 3, 17, 64}) {
        Frame picture = NoiseFrame(width, 5, static_cast<uint32_t>(width));
        for (const char *command : {"MirrorH", "MirrorV"}) {
            Frame once = RunEffect(command, {&picture}, width, 5).output;
            const bool identity = width == 1 && std::string_view(command) == "MirrorH";
            EXPECT_EQ(once == picture, identity) << command << " " << width;
            EXPECT_EQ(RunEffect(command, {&once}, width, 5).output, picture)
                << command << " " << width;
        }
    }
}

struct Reports {
    std::vector<MonitorInfo> seen;
    int stopAfter = -1;  // answer 0 after this many reports
    static int Callback(MonitorInfo *info, void *self) {
        auto &r = *static_cast<Reports *>(self);
        r.seen.push_back(*info);
        return static_cast<int>(r.seen.size()) == r.stopAfter ? 0 : 1;
    }
};

TEST(MirrorVTest, ReadsRowsBottomUpAndReportsEveryRow) {
    Frame picture = NoiseFrame(352, 240, 9);
    Reports reports;
    MonitorHook hook{&Reports::Callback, &reports};
    const auto run = RunEffect("MirrorV", {&picture}, 352, 240, 0, 0, 0xDEADBEEF, &hook);
    EXPECT_EQ(run.result, 0);
    for (int32_t y = 0; y < 240; ++y) {
        const Frame::const_iterator src = picture.begin() + (239 - y) * 352;
        ASSERT_TRUE(std::equal(src, src + 352, run.output.begin() + y * 352)) << y;
    }
    ASSERT_EQ(reports.seen.size(), 240u);
    for (int32_t y = 0; y < 240; ++y) {
        EXPECT_EQ(reports.seen[y].effectId, 30);
        EXPECT_EQ(reports.seen[y].totalRows, 240);
        EXPECT_EQ(reports.seen[y].currentRow, y);
    }
}

TEST(MirrorVTest, StopLeavesLaterRowsUntouched) {
    Frame picture = NoiseFrame(8, 6, 1);
    Reports reports;
    reports.stopAfter = 2;
    MonitorHook hook{&Reports::Callback, &reports};
    const auto run = RunEffect("MirrorV", {&picture}, 8, 6, 0, 0, 0xDEADBEEF, &hook);
    EXPECT_EQ(run.result, -3);
    Frame expected(picture.end() - 8, picture.end());                        // row 0 from row 5
    expected.insert(expected.end(), picture.end() - 16, picture.end() - 8);  // row 1 from row 4
    expected.resize(48, 0xDEADBEEF);
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(reports.seen.size(), 2u);
}

TEST(MirrorTest, GoldenFrames) {
    GoldenFile golden("mirrors.txt");
    Frame picture = PictureFrame(97, 61, 1);
    for (const char *command : {"MirrorH", "MirrorV"}) {
        const std::string sum = Checksum(RunEffect(command, {&picture}, 97, 61).output);
        EXPECT_EQ(sum, golden.Expect(command, sum)) << command;
    }
}

}  // namespace
}  // namespace kve::test
