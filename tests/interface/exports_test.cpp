// The exported functions: frames, default size, frame-sequence files, crop
// sizes, the monitor handler, and null pointers at the door.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "interface/pixel.h"
#include "libkve.h"
#include "support/frames.h"

namespace kve::test {
namespace {

struct CropCase {
    float x1, y1, x2, y2;
    int32_t width, height, expectWidth, expectHeight;
};

TEST(Exports, CropSizeRoundsCornersHalfAwayFromZero) {
    const CropCase cases[] = {
        {-1, -1, 1, 1, 352, 240, 353, 353},  // y scales by half the width: -56..296
        {1, 1, -1, -1, 352, 240, 353, 353},  // corners in either order
        {0, 0, 0, 0, 352, 240, 1, 1},
        // On a 2-pixel frame hw = 1: a corner at exactly -0.5 pixels rounds
        // to -1, at +0.5 to 1, and one at 0 stays 0.
        {-1.5f, 0, -1, 0, 2, 2, 2, 1},
        {-0.5f, 0, -1, 0, 2, 2, 2, 1},
        {-1, 0, -1, 0, 2, 2, 1, 1},
    };
    for (const CropCase &c : cases) {
        int32_t w = -7, h = -7;
        KVE_GetCropSizeBySize(c.x1, c.y1, c.x2, c.y2, c.width, c.height, &w, &h);
        EXPECT_EQ(w, c.expectWidth) << c.x1 << " " << c.y1 << " " << c.x2 << " " << c.y2;
        EXPECT_EQ(h, c.expectHeight) << c.x1 << " " << c.y1 << " " << c.x2 << " " << c.y2;
    }
    // Null result pointers and absurd corners are answered, not followed.
    KVE_GetCropSizeBySize(0, 0, 1, 1, 352, 240, nullptr, nullptr);
    int32_t w = 0, h = 0;
    KVE_GetCropSizeBySize(-1e30f, -1e30f, 1e30f, std::numeric_limits<float>::quiet_NaN(), 352, 240,
                          &w, &h);
    EXPECT_GT(w, 0);
}

TEST(Exports, DefaultSizeDrivesFramesEffectsAndCropSize) {
    KVE_FrameSizeSet(720, 480);
    int32_t w = 0, h = 0;
    KVE_GetCropSize(-1, -1, 1, 1, &w, &h);
    EXPECT_EQ(w, 721);
    EXPECT_EQ(h, 721);

    uint32_t *in = KVE_FrameNew();
    uint32_t *out = KVE_FrameNew();
    ASSERT_TRUE(in && out);
    for (size_t i = 0; i < 720 * 480; ++i)
        in[i] = static_cast<uint32_t>(i * 2654435761u);
    uint32_t *inputs[] = {in, nullptr};
    EXPECT_EQ(KVE_Effect("Negate", inputs, out), 0);
    // The last word of a 720 x 480 frame was written: both sizes were 720 x 480.
    EXPECT_EQ(out[720 * 480 - 1], ~in[720 * 480 - 1]);
    KVE_FrameDelete(in);
    KVE_FrameDelete(out);
    KVE_FrameSizeSet(352, 240);
}

TEST(Exports, FrameNewBySizeRefusesSizesItCannotHold) {
    EXPECT_EQ(KVE_FrameNewBySize(-1, 10), nullptr);
    EXPECT_EQ(KVE_FrameNewBySize(10, -1), nullptr);
    // 65536 x 65536 x 4 wraps to 0 in 32 bits; it must never come back small.
    uint32_t *huge = KVE_FrameNewBySize(65536, 65536);
    if (huge) {
        huge[size_t{65536} * 65536 - 1] = 1;  // the whole block is really there
        KVE_FrameDelete(huge);
    }
    uint32_t *empty = KVE_FrameNewBySize(0, 0);
    EXPECT_NE(empty, nullptr);
    KVE_FrameDelete(empty);
    KVE_FrameDelete(nullptr);
}

class FrameSequenceFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/kve_seq_XXXXXX";
        fd_ = mkstemp(name);
        ASSERT_GE(fd_, 0);
        path_ = name;
    }
    void TearDown() override {
        close(fd_);
        std::remove(path_.c_str());
    }
    // Writes one frame of words starting at `first` into slot `frameNumber`.
    void WriteFrame(uint32_t frameNumber, uint32_t first, size_t words = 352 * 240) {
        std::vector<uint32_t> frame(words);
        for (size_t i = 0; i < words; ++i)
            frame[i] = first + static_cast<uint32_t>(i);
        const off_t offset = 65536 + off_t{frameNumber - 1} * 393216;
        ASSERT_EQ(pwrite(fd_, frame.data(), words * 4, offset), static_cast<ssize_t>(words * 4));
    }
    int fd_ = -1;
    std::string path_;
};

TEST_F(FrameSequenceFile, ReadsFramesFromTheirSlots) {
    WriteFrame(1, 1000);
    WriteFrame(2, 5000);
    std::vector<uint32_t> frame(352 * 240, 0);
    EXPECT_EQ(KVE_FrameGet(path_.c_str(), frame.data(), 1), 0);
    EXPECT_EQ(frame[0], 1000u);
    EXPECT_EQ(frame.back(), 1000u + 352 * 240 - 1);
    EXPECT_EQ(KVE_FrameGet(path_.c_str(), frame.data(), 2), 0);
    EXPECT_EQ(frame[0], 5000u);
    // Frame 0 would start inside the header; frame 3 is past the end.
    EXPECT_EQ(KVE_FrameGet(path_.c_str(), frame.data(), 0), 1);
    EXPECT_EQ(KVE_FrameGet(path_.c_str(), frame.data(), 3), 1);
    EXPECT_EQ(KVE_FrameGet("/nonexistent/kve.seq", frame.data(), 1), 1);
    EXPECT_EQ(KVE_FrameGet(nullptr, frame.data(), 1), 1);
    EXPECT_EQ(KVE_FrameGet(path_.c_str(), nullptr, 1), 1);
}

TEST_F(FrameSequenceFile, FrameEndingInsideTheFileFails) {
    WriteFrame(1, 7, 352 * 240 - 1);
    std::vector<uint32_t> frame(352 * 240, 0);
    EXPECT_EQ(KVE_FrameGet(path_.c_str(), frame.data(), 1), 1);
}

TEST_F(FrameSequenceFile, FramesBeyondFourGigabytesAreFoundByTheirOwnOffset) {
    // Frame 10923 starts past 2^32 bytes; the file is sparse, so this is cheap.
    WriteFrame(10923, 42);
    WriteFrame(1, 9);
    std::vector<uint32_t> frame(352 * 240, 0);
    ASSERT_EQ(KVE_FrameGet(path_.c_str(), frame.data(), 10923), 0);
    EXPECT_EQ(frame[0], 42u);
}

int CountingHandler(MonitorInfo *, void *) {
    return 1;
}
int OtherHandler(MonitorInfo *, void *) {
    return 1;
}

TEST(Exports, SetMonitorHandlerReturnsThePreviousOne) {
    EXPECT_EQ(KVE_SetMonitorHandler(CountingHandler), nullptr);
    EXPECT_EQ(KVE_SetMonitorHandler(OtherHandler), CountingHandler);
    EXPECT_EQ(KVE_SetMonitorHandler(nullptr), OtherHandler);
}

TEST(Exports, PackPixelClampsEachChannel) {
    const uint32_t p = PackPixel(300, -5, 128, 255);
    EXPECT_EQ(p, 255u | 0u << 8 | 128u << 16 | 255u << 24);
    EXPECT_EQ(PackRGB(300, -5, 128), 255u << 8 | 128u << 24);
}

TEST(Exports, NullPointersAreAnsweredNotFollowed) {
    Frame a = NoiseFrame(8, 4, 1);
    Frame out = FilledFrame(8, 4, 0xDEADBEEF);
    uint32_t *inputs[] = {a.data(), nullptr};
    EXPECT_EQ(KVE_EffectBySize(nullptr, inputs, 8, 4, out.data(), 0, 0, nullptr), -4);
    {
        DiagCapture diag;
        EXPECT_EQ(KVE_EffectBySize("Negate", nullptr, 8, 4, out.data(), 0, 0, nullptr), 0);
        EXPECT_EQ(KVE_EffectBySize("Add", inputs, 8, 4, out.data(), 0, 0, nullptr), 0);
        EXPECT_EQ(KVE_EffectBySize("Negate", inputs, 8, 4, nullptr, 0, 0, nullptr), 0);
        ASSERT_EQ(diag.Lines().size(), 3u);
        EXPECT_EQ(diag.Lines()[0], "<Negate>+0: bad image");
        EXPECT_EQ(diag.Lines()[1], "<Add>+1: bad image");
        EXPECT_EQ(diag.Lines()[2], "<Negate> no output frame");
    }
    EXPECT_EQ(out, FilledFrame(8, 4, 0xDEADBEEF));
}

TEST(Exports, SizesOfZeroOrLessDrawNothing) {
    Frame a = NoiseFrame(8, 4, 1);
    Frame out = FilledFrame(8, 4, 0xDEADBEEF);
    uint32_t *inputs[] = {a.data(), a.data(), nullptr};
    int reports = 0;
    MonitorHook hook{[](MonitorInfo *, void *count) {
                         ++*static_cast<int *>(count);
                         return 1;
                     },
                     &reports};
    const int32_t sizes[][2] = {{0, 4}, {8, 0}, {-8, 4}, {8, -4}, {-1, -1}, {INT32_MIN, 2}};
    for (const auto &size : sizes) {
        EXPECT_EQ(KVE_EffectBySize("Add", inputs, size[0], size[1], out.data(), 0, 0, &hook), 0);
        EXPECT_EQ(KVE_EffectBySize("Negate", inputs, size[0], size[1], out.data(), 0, 0, &hook), 0);
    }
    EXPECT_EQ(reports, 0);
    EXPECT_EQ(out, FilledFrame(8, 4, 0xDEADBEEF));
}

}  // namespace
}  // namespace kve::test
