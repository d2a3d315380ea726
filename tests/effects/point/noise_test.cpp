// The random source and the noise effects through command texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "effects/point/point_ops.h"
#include "effects/point/random.h"
#include "interface/pixel.h"
#include "support/cpu_levels.h"
#include "support/frames.h"

namespace kve::test {
namespace {

// The seed whose first draw leaves the generator in `next`: the inverse of
// state * 214013 + 2531011 modulo 2^32.
uint32_t SeedBefore(uint32_t next) {
    uint32_t inverse = 214013u;  // Newton's iteration doubles the good bits each step
    for (int i = 0; i < 5; ++i)
        inverse *= 2u - 214013u * inverse;
    return (next - 2531011u) * inverse;
}

TEST(RandomSourceTest, KnownSequence) {
    Rand_Seed(1);
    EXPECT_EQ(Rand_Next(), 41);
    EXPECT_EQ(Rand_Next(), 18467);
    Rand_Seed(1);
    EXPECT_EQ(Rand_Unit(), 41 * 0.00003051850947599719);
}

TEST(RandomSourceTest, UnitIsKeptWithinItsRange) {
    Rand_Seed(SeedBefore(0));  // a draw of 0
    EXPECT_EQ(Rand_Unit(), 0.00001);
    Rand_Seed(SeedBefore(0x7FFF0000u));  // a draw of 32767
    EXPECT_EQ(Rand_Unit(), 1.0);
    Rand_Seed(SeedBefore(0x7FFF0000u));
    EXPECT_EQ(Rand_Next(), 32767);
}

TEST(RandomSourceTest, EachThreadHasItsOwnState) {
    Rand_Seed(1);
    std::thread other([] {
        // A new thread starts at 1, whatever this thread did.
        EXPECT_EQ(Rand_Next(), 41);
        Rand_Seed(12345);
        for (int i = 0; i < 1000; ++i)
            Rand_Next();
    });
    other.join();
    EXPECT_EQ(Rand_Next(), 41);
}

// A black frame with varied alpha: with P = 1 and T = 0 every colour becomes
// the increment trunc(u * 255) of its draw.
Frame BlackFrame(int32_t w, int32_t h) {
    Frame frame(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<uint32_t>(i * 7 & 0xFF);
    return frame;
}

// What grey Add_Noise draws on a black frame after seeding with `seed`:
// increments trunc(u * P * P * 255) where |u * P| > T, saturating at 255.
Frame GreyGrain(const Frame &black, uint32_t seed, double p = 1, double t = 0) {
    Rand_Seed(seed);
    Frame out(black.size());
    for (size_t i = 0; i < black.size(); ++i) {
        const double d = Rand_Unit() * p;
        const double add = std::fabs(d) > t ? std::min(d * p * 255, 255.0) : 0.0;
        const int32_t a = static_cast<int32_t>(add);
        out[i] = PackPixel(AlphaOf(black[i]), a, a, a);
    }
    return out;
}

TEST(AddNoiseTest, SeedRuleTakesTheLowSixteenBitsOfSeedTimes30000) {
    Frame black = BlackFrame(16, 4);
    const struct {
        const char *seed;
        uint32_t state;
    } cases[] = {{"0.5", 15000},  {"3", 24464},
                 {"-0.5", 50536}, {"4096.5", 15000},  // 122895000 = 1875 * 65536 + 15000
                 {"0", 0},        {"0.00001", 0}};
    for (const auto &c : cases) {
        const std::string command = std::string("Add_Noise ") + c.seed + " 1 0 0";
        EXPECT_EQ(RunEffect(command, {&black}, 16, 4).output, GreyGrain(black, c.state)) << command;
    }
}

TEST(AddNoiseTest, IncrementFollowsAmplitudeAndThresholdForEveryDraw) {
    // 65536 draws reach nearly every one of the 32768 values.
    Frame black = BlackFrame(256, 256);
    const struct {
        const char *text;
        double p, t;
    } cases[] = {{"0.6 0.1", 0.6, 0.1},
                 {"-0.9 0.3", -0.9, 0.3},
                 {"1.7 0.5", 1.7, 0.5},
                 {"0.3 -1", 0.3, -1},
                 {"0.45 0.2", 0.45, 0.2}};
    for (const auto &c : cases) {
        const std::string command = std::string("Add_Noise 0.5 ") + c.text + " 0";
        EXPECT_EQ(RunEffect(command, {&black}, 256, 256).output, GreyGrain(black, 15000, c.p, c.t))
            << command;
    }
}

TEST(AddNoiseTest, AmplitudeZeroOrThresholdAboveChangesNothingButDrawsTheSame) {
    Frame picture = PictureFrame(33, 9, 1);
    for (const char *command : {"Add_Noise 0.7 0 0 1", "Add_Noise 0.7 0.5 0.5 1",
                                "Add_Noise 0.7 -0.5 0.6 0", "Add_Noise 0.7 0.5 9 0"}) {
        EXPECT_EQ(RunEffect(command, {&picture}, 33, 9).output, picture) << command;
    }
    // The refused increments still consume their draws: the thread's state
    // ends where it does when every increment is added.
    RunEffect("Add_Noise 0.7 0.5 9 1", {&picture}, 33, 9);
    const int32_t afterRefused = Rand_Next();
    RunEffect("Add_Noise 0.7 0.5 0 1", {&picture}, 33, 9);
    EXPECT_EQ(Rand_Next(), afterRefused);
}

TEST(AddNoiseTest, GreyModeRaisesTheThreeColoursAlike) {
    Frame dark = FilledFrame(40, 5, PackPixel(9, 10, 0, 20));
    const Frame out = RunEffect("Add_Noise 0.25 0.9 0 0", {&dark}, 40, 5).output;
    bool perChannelDiffers = false;
    const Frame perChannel = RunEffect("Add_Noise 0.25 0.9 0 1", {&dark}, 40, 5).output;
    for (size_t i = 0; i < out.size(); ++i) {
        const int32_t add = GreenOf(out[i]);
        EXPECT_LE(add, 206);  // at most trunc(0.81 * 255)
        EXPECT_EQ(out[i], PackPixel(9, 10 + add, add, 20 + add)) << i;
        const uint32_t p = perChannel[i];
        perChannelDiffers |= RedOf(p) - 10 != GreenOf(p) || BlueOf(p) - 20 != GreenOf(p);
        EXPECT_EQ(AlphaOf(p), 9);
    }
    EXPECT_TRUE(perChannelDiffers);
}

TEST(AddNoiseTest, HugeAmplitudeSaturates) {
    Frame picture = PictureFrame(20, 3, 2);
    Frame expected = picture;
    for (uint32_t &p : expected)
        p |= 0xFFFFFF00u;
    EXPECT_EQ(RunEffect("Add_Noise 1 1" + std::string(30, '0') + " 0 1", {&picture}, 20, 3).output,
              expected);
}

TEST(MulNoiseTest, StrengthZeroKeepsAndNegativeNeverBrightens) {
    Frame picture = PictureFrame(64, 32, 3);
    EXPECT_EQ(RunEffect("Mul_Noise 0.3 0", {&picture}, 64, 32).output, picture);
    const Frame darker = RunEffect("Mul_Noise 0.3 -1", {&picture}, 64, 32).output;
    bool changed = false;
    for (size_t i = 0; i < picture.size(); ++i) {
        const uint32_t p = picture[i], q = darker[i];
        EXPECT_EQ(AlphaOf(q), AlphaOf(p));
        EXPECT_LE(RedOf(q), RedOf(p));
        EXPECT_LE(GreenOf(q), GreenOf(p));
        EXPECT_LE(BlueOf(q), BlueOf(p));
        changed |= q != p;
    }
    EXPECT_TRUE(changed);
}

TEST(MulNoiseTest, ChannelsTakeFreshDrawsInOrder) {
    // Channel c of pixel i: trunc((u * 0.5 + 1) * 100) with u the (3i + c)-th draw.
    Frame grey = FilledFrame(5, 2, PackPixel(3, 100, 100, 100));
    Rand_Seed(15000);
    Frame expected(grey.size());
    for (uint32_t &p : expected) {
        const int32_t r = static_cast<int32_t>((Rand_Unit() * 0.5 + 1) * 100);
        const int32_t g = static_cast<int32_t>((Rand_Unit() * 0.5 + 1) * 100);
        const int32_t b = static_cast<int32_t>((Rand_Unit() * 0.5 + 1) * 100);
        p = PackPixel(3, r, g, b);
    }
    EXPECT_EQ(RunEffect("Mul_Noise 0.5 0.5", {&grey}, 5, 2).output, expected);
}

TEST(NoiseTest, RepeatableWhateverTheThreadsDo) {
    Frame picture = PictureFrame(80, 45, 4);
    const char *commands[] = {"Add_Noise 0.37 0.8 0.2 1", "Add_Noise 0.37 0.8 0.2 0",
                              "Mul_Noise 0.61 0.7", "Mul_Noise -2.5 -0.4"};
    std::vector<Frame> reference;
    for (const char *command : commands)
        reference.push_back(RunEffect(command, {&picture}, 80, 45).output);
    // Same thread, after other use of the random source.
    Rand_Seed(777);
    for (int i = 0; i < 12345; ++i)
        Rand_Next();
    for (size_t k = 0; k < reference.size(); ++k)
        EXPECT_EQ(RunEffect(commands[k], {&picture}, 80, 45).output, reference[k]) << commands[k];
    // Several threads at once, each running every command repeatedly while
    // another thread keeps drawing.
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                Rand_Seed(static_cast<uint32_t>(t * 1000 + round));
                for (size_t k = 0; k < reference.size(); ++k) {
                    const size_t which = (k + t) % reference.size();
                    if (RunEffect(commands[which], {&picture}, 80, 45).output != reference[which])
                        ++mismatches[t];
                    Rand_Next();
                }
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

TEST(NoiseTest, GoldenFrames) {
    GoldenFile golden("noise.txt");
    Frame picture = PictureFrame(101, 43, 5);
    for (const CpuLevel level : LevelsToTest()) {
        const CpuLevelCap cap(level);
        for (const char *command :
             {"Add_Noise 0.5 0.6 0.1 1", "Add_Noise 0.5 0.6 0.1 0", "Add_Noise 3 -0.3 0 1",
              "Mul_Noise 0.5 -0.4", "Mul_Noise -0.5 1.5"}) {
            const std::string sum = Checksum(RunEffect(command, {&picture}, 101, 43).output);
            EXPECT_EQ(sum, golden.Expect(GoldenKey(command), sum))
                << command << " " << CpuLevelName(level);
        }
    }
}

// Every level's rows against the references on every width: the same words,
// nothing written past the row, and the generator left in the same state.
TEST(NoiseTest, EveryLevelMatchesTheReferenceOnEveryWidth) {
    constexpr uint32_t kGuard = 0xA5A5A5A5;
    std::vector<uint8_t> increment(32768 + 3, 0);
    std::vector<double> factors[3] = {std::vector<double>(32768), std::vector<double>(32768),
                                      std::vector<double>(32768)};
    for (int32_t draw = 0; draw < 32768; ++draw) {
        increment[draw] = static_cast<uint8_t>(draw * 7 % 300 > 255 ? 255 : draw * 7 % 300);
        factors[0][draw] = draw * (1.7 / 32767) + 0.2;  // brightens and darkens, saturating
        factors[1][draw] = draw % 5 == 0 ? -1.0 : 300.0 / (draw + 1);
        factors[2][draw] = draw % 3 == 0 ? std::nan("") : 0.999999;
    }
    const NoiseKernels kernels = NoiseRowKernels();
    for (const CpuLevel level : LevelsToTest()) {
        for (int32_t n = 0; n < 256; ++n) {
            Frame src = NoiseFrame(n, 1, static_cast<uint32_t>(n));
            for (const AddNoiseKernel *k : {&kernels.addGrey, &kernels.addColour}) {
                Frame expect(n + 4, kGuard), got(n + 4, kGuard);
                uint32_t expectState = 12345u + n, gotState = expectState;
                k->reference(increment.data(), expectState, src.data(), expect.data(), n);
                k->rows.For(level)(increment.data(), gotState, src.data(), got.data(), n);
                ASSERT_EQ(got, expect) << CpuLevelName(level) << " Add_Noise width " << n;
                ASSERT_EQ(gotState, expectState) << CpuLevelName(level) << " width " << n;
            }
            for (const std::vector<double> &factor : factors) {
                Frame expect(n + 4, kGuard), got(n + 4, kGuard);
                uint32_t expectState = 999u * n, gotState = expectState;
                kernels.mul.reference(factor.data(), expectState, src.data(), expect.data(), n);
                kernels.mul.rows.For(level)(factor.data(), gotState, src.data(), got.data(), n);
                ASSERT_EQ(got, expect) << CpuLevelName(level) << " Mul_Noise width " << n;
                ASSERT_EQ(gotState, expectState) << CpuLevelName(level) << " width " << n;
            }
        }
    }
}

}  // namespace
}  // namespace kve::test
