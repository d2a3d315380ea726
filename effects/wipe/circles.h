// The round wipe shapes: circles under a shape matrix combined with straight
// edges, and the row generator that walks a row through their soft rings.
#pragma once

#include <cstdint>
#include <span>

#include "effects/wipe/patterns.h"
#include "effects/wipe/wipe.h"
#include "engine/cpu.h"

namespace kve {

// A ring about the pattern centre: for a pixel at (X, Y) from that centre,
// u = dx + (X, Y) through the shape matrix's first row, v = dy + through its
// second row, and o = c - k*sqrt(u^2 + v^2); the key is Ease(o): 1 well
// inside, 0 outside, soft over a ring 1/k wide inside the radius c/k.
struct CircleRecord {
    double dx = 0, dy = 0, c = 0, k = 0;
};

constexpr int kMaxCircles = 5;
constexpr int kMaxCircleLines = 4;
// Each circle gives up to two intervals, each line one.
constexpr int kMaxCircleIntervals = 2 * kMaxCircles + kMaxCircleLines;

// Built on the first row, read on every row of the same call.
struct WipeCircleState {
    int32_t number = 0;  // 0: no shape was built
    // A shape whose set-up gave no finite figure shows one key everywhere.
    bool uniform = false;
    double uniformKey = 0;
    double cx = 0, cy = 0;  // the pattern centre, in pixels
    bool transformed = false;
    double m11 = 1, m12 = 0, m21 = 0, m22 = 1;
    CircleRecord circle[kMaxCircles];
    int circles = 0;
    // Per circle, the squared distance u^2 + v^2 from which its key is 0 and
    // the one up to which it is 1, as its ramp computes them (NaN: none), so
    // the key loops can skip the square root where a ring is not crossed.
    double outsideFrom[kMaxCircles] = {}, insideTo[kMaxCircles] = {};
    EdgeRecord line[kMaxCircleLines];
    int lines = 0;
    // The row's soft intervals [lo, hi), pixels lo .. hi-1.
    int32_t lo[kMaxCircleIntervals] = {}, hi[kMaxCircleIntervals] = {};
    int intervals = 0;
    // The row's terms of the keys that do not change along it: each circle's
    // share of its matrix rows from Y, each line's b*y.
    double rowY = 0;
    double rowU[kMaxCircles] = {}, rowV[kMaxCircles] = {};
    double rowB[kMaxCircleLines] = {};
};

// Builds the shape of row.number; false for a number that is not round.
bool SetUpCircleShape(const WipeRowArgs &row, WipeCircleState &state);

// The key of pixel (x, y) of the built shape, in [0, 1].
double CircleKeyAt(const WipeCircleState &state, double x, double y);

// Finds the row's soft intervals into the state.
void FindCircleIntervals(WipeCircleState &state, int32_t width, int32_t y);

// Sets the row terms of row y.
void SetCircleRow(WipeCircleState &state, int32_t y);

// Writes keys[x] = CircleKeyAt(state, x, y) for x in [from, to] on the row
// set last: the plain per-pixel reference and the loop the generator runs,
// which must give identical keys.
using CircleKeyRange = void (*)(const WipeCircleState &state, int32_t from, int32_t to,
                                float *keys);
struct CircleKeyLoops {
    CircleKeyRange reference;
    CpuRows<CircleKeyRange> rows;  // the pair loop from SSE2 up
};
CircleKeyLoops CircleKeyLoopsOf(int32_t number);

// The round numbers, ascending.
std::span<const int32_t> CircleWipeNumbers();

}  // namespace kve
