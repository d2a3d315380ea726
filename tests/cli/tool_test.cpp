// The kve tool's pieces: sizes, frame names, progress texts, PNG files, the
// built-in frames and how commands fail.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/commands.h"
#include "cli/files.h"
#include "cli/image.h"
#include "cli/png_io.h"
#include "cli/runner.h"
#include "cli/status.h"
#include "engine/effect_table.h"
#include "support/frames.h"

namespace kvecli {
namespace {

template <class Body>
Exit FailureOf(Body body) {
    try {
        body();
    } catch (const Failure &failure) {
        return failure.Code();
    }
    return Exit::kOk;
}

TEST(ToolText, SizesParseOrFailAsUsage) {
    const Size size = ParseSize("640x360", "--size");
    EXPECT_EQ(size.width, 640);
    EXPECT_EQ(size.height, 360);
    EXPECT_EQ(ParseSize("1X1", "--size").height, 1);
    for (const char *bad : {"", "640", "640x", "x360", "0x10", "10x0", "-1x5", "64x36x2", "1e3x4",
                            "65536x1", "20000x20000", " 64x36"})
        EXPECT_EQ(FailureOf([&] { ParseSize(bad, "--size"); }), Exit::kUsage) << bad;
}

TEST(ToolText, ProgressRunsEvenlyFromZeroToOne) {
    EXPECT_EQ(ProgressText(0, 5), "0");
    EXPECT_EQ(ProgressText(1, 5), "0.25");
    EXPECT_EQ(ProgressText(2, 5), "0.5");
    EXPECT_EQ(ProgressText(4, 5), "1");
    EXPECT_EQ(ProgressText(1, 4), "0.333333");
    EXPECT_EQ(ProgressText(0, 1), "0");
    EXPECT_EQ(ProgressText(9, 5), "1");  // a stream longer than announced stays at the end
    EXPECT_EQ(WithProgress("Wipe 1 {p} {p}x", "0.5"), "Wipe 1 0.5 0.5x");
    EXPECT_EQ(WithProgress("Negate", "1"), "Negate");
}

TEST(ToolText, FrameNamesTakeExactlyOneNumber) {
    EXPECT_EQ(FramePath("out_%04d.png", 7), "out_0007.png");
    EXPECT_EQ(FramePath("f%d.png", 12), "f12.png");
    EXPECT_EQ(FramePath("f%3d.png", 5), "f  5.png");
    EXPECT_EQ(FramePath("100%%_%02d.png", 3), "100%_03.png");
    EXPECT_EQ(FramePath("a%02d", 123), "a123");
    for (const char *bad : {"out.png", "%d_%d.png", "%s.png", "%", "x%04", "%5x.png", "%.2d"})
        EXPECT_EQ(FailureOf([&] { FramePath(bad, 0); }), Exit::kUsage) << bad;
}

TEST(ToolText, GalleryWipeCommandFillsEveryWipeParameter) {
    // number, progress, softness, centre, x and y scale, rotation, block size,
    // border width and border colour: the ten text parameters of a Wipe.
    EXPECT_EQ(GalleryWipeCommand(101),
              "Wipe 101 0.5 0.1 [0 0] 1 1 0 [32 32] 0.02 [(argb) 255 255 200 0]");
}

Image Sample(int32_t width, int32_t height, uint32_t seed) {
    Image image(width, height);
    image.pixels = kve::test::NoiseFrame(width, height, seed);
    return image;
}

TEST(ToolPng, RoundTripsEveryByteWithAlphaAndDropsAlphaOtherwise) {
    for (const Size size : {Size{1, 1}, Size{3, 2}, Size{17, 5}}) {
        const Image image = Sample(size.width, size.height, 3);
        const Image kept = DecodePng(EncodePng(image, true), "kept");
        EXPECT_EQ(kept.width, size.width);
        EXPECT_EQ(kept.height, size.height);
        EXPECT_EQ(kept.pixels, image.pixels);
        const Image dropped = DecodePng(EncodePng(image, false), "dropped");
        ASSERT_EQ(dropped.pixels.size(), image.pixels.size());
        for (size_t i = 0; i < image.pixels.size(); ++i)
            EXPECT_EQ(dropped.pixels[i], image.pixels[i] | 0xFFu);
    }
}

TEST(ToolPng, DamagedFilesFailAsInputOutput) {
    const std::vector<unsigned char> png = EncodePng(Sample(40, 30, 1), true);
    for (const size_t keep : {size_t{0}, size_t{8}, size_t{30}, png.size() / 2}) {
        const std::vector<unsigned char> cut(png.begin(), png.begin() + static_cast<long>(keep));
        EXPECT_EQ(FailureOf([&] { DecodePng(cut, "cut"); }), Exit::kIo) << keep;
    }
    std::vector<unsigned char> flipped = png;
    flipped[png.size() / 2] ^= 0x40;  // the CRC of the chunk no longer matches
    EXPECT_EQ(FailureOf([&] { DecodePng(flipped, "flipped"); }), Exit::kIo);
    EXPECT_EQ(FailureOf([] { ReadPng("/nonexistent/kve/in.png"); }), Exit::kIo);
}

TEST(ToolFiles, AFailedWriteLeavesNothingBehind) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("kve_tool_test_" + std::to_string(getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder / "taken.png");
    const unsigned char bytes[] = {1, 2, 3};
    EXPECT_EQ(FailureOf([&] { WriteFileAtomically((folder / "taken.png").string(), bytes); }),
              Exit::kIo);
    WriteFileAtomically((folder / "fine.bin").string(), bytes);
    EXPECT_EQ(ReadWholeFile((folder / "fine.bin").string()),
              std::vector<unsigned char>(bytes, bytes + 3));
    // Only the folder that blocked the write and the file written remain.
    size_t entries = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(folder))
        ++entries;
    EXPECT_EQ(entries, 2u);
    std::filesystem::remove_all(folder);
}

TEST(ToolFrames, BuiltInFramesAreFixedPictures) {
    kve::test::GoldenFile golden("cli_sample_frames.txt");
    for (const Size size : {Size{640, 360}, Size{64, 36}, Size{1, 1}, Size{3, 200}}) {
        const std::vector<Image> frames = SampleFrames(size);
        ASSERT_EQ(frames.size(), static_cast<size_t>(kSampleCount));
        for (int k = 0; k < kSampleCount; ++k) {
            const Image &frame = frames[static_cast<size_t>(k)];
            ASSERT_EQ(frame.width, size.width);
            ASSERT_EQ(frame.height, size.height);
            const std::string key = std::string(1, static_cast<char>('A' + k)) + "_" +
                                    SizeText(size.width, size.height);
            const std::string sum = kve::test::Checksum(frame.pixels);
            EXPECT_EQ(golden.Expect(key, sum), sum) << key;
        }
        EXPECT_NE(frames[0].pixels, frames[1].pixels);
    }
}

TEST(ToolRun, CommandsFailWithTheirOwnStatus) {
    const std::vector<Image> frames = SampleFrames({8, 6});
    const std::span<const Image> one(frames.data(), 1);
    EXPECT_EQ(FailureOf([&] { RunCommand("Negatee", frames, {0, 0}); }), Exit::kUnknownEffect);
    EXPECT_EQ(FailureOf([&] { RunCommand("negate", frames, {0, 0}); }), Exit::kUnknownEffect);
    EXPECT_EQ(FailureOf([&] { RunCommand("   ", frames, {0, 0}); }), Exit::kUnknownEffect);
    EXPECT_EQ(FailureOf([&] { RunCommand("Negate\n", frames, {0, 0}); }), Exit::kUnknownEffect);
    EXPECT_EQ(RunCommand(" \tNegate\textra", frames, {0, 0}).width, 8);
    EXPECT_EQ(FailureOf([&] { RunCommand("Add", one, {0, 0}); }), Exit::kUsage);
    std::atomic<bool> cancel{true};
    EXPECT_EQ(FailureOf([&] { RunCommand("Negate", frames, {0, 0}, &cancel); }), Exit::kStopped);

    // Every effect with text parameters (the composite transitions read three
    // at most) refuses words that are not numbers, and refuses a command with
    // no parameters at all.
    for (const kve::EffectRow &row : kve::EffectTable()) {
        const std::string signature = row.signature ? row.signature : "";
        const auto words = row.transition ? 3
                                          : std::count_if(signature.begin(), signature.end(),
                                                          [](char c) { return c != 'I'; });
        if (words == 0) continue;
        std::string garbage = row.name;
        for (long k = 0; k < words; ++k)
            garbage += " zz";
        EXPECT_EQ(FailureOf([&] {
                      RunCommand(garbage, frames, {0, 0});
                  }),
                  Exit::kRefused)
            << garbage;
        EXPECT_EQ(FailureOf([&] {
                      RunCommand(row.name, frames, {0, 0});
                  }),
                  Exit::kRefused)
            << row.name;
    }
}

TEST(ToolRun, DrawsWhatTheLibraryDraws) {
    const std::vector<Image> frames = SampleFrames({33, 7});
    kve::test::Frame a = frames[0].pixels, b = frames[1].pixels;
    const Image drawn = RunCommand("Sub", frames, {0, 0});
    EXPECT_EQ(drawn.pixels, kve::test::RunEffect("Sub", {&a, &b}, 33, 7).output);
    const Image negated = RunCommand("Negate", frames, {0, 0});
    for (size_t i = 0; i < a.size(); ++i)
        ASSERT_EQ(negated.pixels[i], ~a[i]);
}

TEST(ToolRun, ParallelItemsMatchOneAtATime) {
    const std::vector<Image> frames = SampleFrames({24, 16});
    std::vector<std::string> commands;
    for (const kve::EffectRow &row : kve::EffectTable())
        commands.push_back(row.example && *row.example ? row.example : row.name);
    const auto render = [&](unsigned jobs) {
        std::vector<std::string> sums(commands.size());
        RunParallel(commands.size(), jobs, [&](size_t i, const std::atomic<bool> &cancel) {
            sums[i] = kve::test::Checksum(RunCommand(commands[i], frames, {0, 0}, &cancel).pixels);
        });
        return sums;
    };
    EXPECT_EQ(render(1), render(4));
}

TEST(ToolRun, TheFirstFailureStopsTheRest) {
    std::atomic<int> ran{0};
    EXPECT_EQ(FailureOf([&] {
                  RunParallel(50, 1, [&](size_t i, const std::atomic<bool> &) {
                      ++ran;
                      if (i == 3) throw Failure(Exit::kIo, "fourth");
                  });
              }),
              Exit::kIo);
    EXPECT_EQ(ran.load(), 4);
}

}  // namespace
}  // namespace kvecli
