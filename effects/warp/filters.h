// The resampling filter table: separable one-dimensional kernels shared by
// the filtered zoom and the blurs (and by anything else that resamples along
// one axis). Each row names a kernel and its support: the kernel is zero for
// |x| >= support, except the box, which is 1 on (-0.5, 0.5] and 0 elsewhere.
#pragma once

#include <span>

namespace kve {

using FilterKernel = double (*)(double x);

struct FilterRow {
    const char *name;
    double support;
    FilterKernel kernel;
};

double FilterBox(double x);
double FilterTriangle(double x);
double FilterBell(double x);
double FilterBspline(double x);
double FilterLanczos3(double x);
double FilterMitchell(double x);

// The six filters in index order: box, triangle, bell, bspl, lanc3, mitchell.
std::span<const FilterRow> FilterTable();

// The row at `index`, or null outside 0..5, so callers refuse a bad index
// before reading anything.
const FilterRow *FilterAt(int index);

}  // namespace kve
