// Colour fills, keys and mixes through command texts, beside the memcpy
// yardstick.
#include <string>

#include "bench_support.h"

namespace kve::bench {

// The fills name their output size, so the command carries the frame size.
void BM_Fill(benchmark::State &state, const char *head, const char *colours) {
    const int32_t w = static_cast<int32_t>(state.range(0)),
                  h = static_cast<int32_t>(state.range(1));
    std::string command = head;
    command += " (argb) [";
    command += std::to_string(w);
    command += ' ';
    command += std::to_string(h);
    command += "] ";
    command += colours;
    RunCommand(state, command, w, h);
}

BENCHMARK_CAPTURE(BM_Fill, Color1, "Color1", "[(argb) 255 40 90 200]") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Fill, Color4, "Color4",
                  "[(argb) 255 255 0 0] [(argb) 255 0 255 0] [(argb) 255 0 0 255] "
                  "[(argb) 255 255 255 255]")
KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, LumaKey, "LumaKey 0.5 0.2") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, ChromaKey, "ChromaKey [(argb) 255 40 200 40] 0.3") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, Extract, "Extract [(argb) 255 255 200 0] 0.8") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, Fade, "Fade 0.5") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, Dissolve, "Dissolve 0.3") KVE_BENCH_SIZES;
// The key is the bench's second frame, random words, so every key alpha
// occurs: both plain copies and the mixed pixels between them.
BENCHMARK_CAPTURE(BM_Command, Composite, "Composite 0.75 0.25") KVE_BENCH_SIZES;
BENCHMARK_CAPTURE(BM_Command, CompositeFull, "Composite  1.0  0.0") KVE_BENCH_SIZES;

}  // namespace kve::bench
