// Replays, through the fuzz target's host harness, every input the fuzzer
// once found a fault with, and the seed inputs made from the effect table.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz/harness.h"
#include "libkve.h"

namespace kve::fuzz {
namespace {

std::string RunBytes(const std::string &bytes) {
    return Run(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

TEST(FuzzRegressions, EveryStoredInputRunsClean) {
    int count = 0;
    for (const auto &entry : std::filesystem::directory_iterator(KVE_FUZZ_REGRESSIONS_DIR)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream file(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(file)), {});
        EXPECT_EQ(RunBytes(bytes), "") << entry.path().filename();
        ++count;
    }
    EXPECT_GT(count, 0);
}

TEST(FuzzRegressions, EverySeedRunsClean) {
    for (const auto &[name, bytes] : Seeds())
        EXPECT_EQ(RunBytes(bytes), "") << name;
}

TEST(FuzzHarness, SizeCodesCoverSmallNegativeAndWideSizes) {
    EXPECT_EQ(DecodeSize(0), 0);
    EXPECT_EQ(DecodeSize(1), 1);
    EXPECT_EQ(DecodeSize(47), 47);
    EXPECT_EQ(DecodeSize(48), 0);
    EXPECT_EQ(DecodeSize(240), -1);
    EXPECT_EQ(DecodeSize(251), 10001);
    EXPECT_EQ(DecodeSize(253), 16385);
}

TEST(FuzzHarness, HostAllocatesThePassedSizeOrTheInputSize) {
    const Size size = HostOutputSize("Add", 33, 17, 0, 0);
    EXPECT_EQ(size.width, 33);
    EXPECT_EQ(size.height, 17);
    const Size passed = HostOutputSize("  Add  ", 33, 17, 40, 0);
    EXPECT_EQ(passed.width, 40);
    EXPECT_EQ(passed.height, 17);
    const Size unknown = HostOutputSize("NoSuchEffect [9 9]", 5, 6, 0, 7);
    EXPECT_EQ(unknown.width, 5);
    EXPECT_EQ(unknown.height, 7);
}

// The harness itself must see a write outside a frame: an effect that writes
// an input-sized frame into a smaller declared output is refused by the
// library, and the harness reports the output guard as untouched.
TEST(FuzzHarness, DeclaredSmallerOutputIsRefusedNotOverrun) {
    Header header;
    header.width = 20;
    header.height = 9;
    header.outWidth = 21;
    header.outHeight = 2;
    EXPECT_EQ(RunBytes(Encode(header, "Sub")), "");
}

}  // namespace
}  // namespace kve::fuzz
