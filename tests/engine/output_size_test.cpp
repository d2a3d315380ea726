// The output frame the host declares bounds what an effect writes.
#include <gtest/gtest.h>

#include "support/frames.h"

namespace kve::test {
namespace {

// An effect whose output is the input size never writes past a smaller
// declared output frame: it draws nothing and says why.
TEST(OutputSize, InputSizedEffectRefusesASmallerDeclaredOutput) {
    Frame a = NoiseFrame(8, 6, 1), b = NoiseFrame(8, 6, 2);
    DiagCapture diag;
    const RunResult small = RunEffect("Add", {&a, &b}, 8, 6, 4, 3);
    EXPECT_EQ(small.result, 0);
    EXPECT_EQ(small.output, FilledFrame(4, 3, 0xDEADBEEF));
    ASSERT_EQ(diag.Lines().size(), 1u);
    EXPECT_EQ(diag.Lines()[0], "<Add> output frame smaller than the input frames");

    const RunResult oneShort = RunEffect("Negate", {&a}, 8, 6, 47, 1);
    EXPECT_EQ(oneShort.output, FilledFrame(47, 1, 0xDEADBEEF));
}

// A declared output at least as large (in pixels) as the inputs gets the
// input-sized frame at the front, as before; the rest is left alone.
TEST(OutputSize, LargerOrDefaultDeclaredOutputGetsTheInputSizedFrame) {
    Frame a = NoiseFrame(8, 6, 1);
    const RunResult same = RunEffect("Negate", {&a}, 8, 6);
    const RunResult large = RunEffect("Negate", {&a}, 8, 6, 10, 6);
    const RunResult transposed = RunEffect("Negate", {&a}, 8, 6, 6, 8);
    for (size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(same.output[i], ~a[i]);
        ASSERT_EQ(large.output[i], ~a[i]);
        ASSERT_EQ(transposed.output[i], ~a[i]);
    }
    for (size_t i = a.size(); i < large.output.size(); ++i)
        ASSERT_EQ(large.output[i], 0xDEADBEEF);
}

}  // namespace
}  // namespace kve::test
