// The library's random source: a linear congruential generator (multiplier
// 214013, increment 2531011, 15-bit results) with one state per thread,
// starting at 1. The noise effects and the block wipes reseed it at the top
// of every frame, so their output depends only on their parameters, and
// effects on other threads never disturb a thread's sequence.
#pragma once

#include <cstdint>

namespace kve {

// Sets this thread's state.
void Rand_Seed(uint32_t seed);
// Advances this thread's state and returns bits 16..30 of it, 0..32767.
int32_t Rand_Next();
// Rand_Next() / 32767, kept within [0.00001, 1].
double Rand_Unit();

}  // namespace kve
