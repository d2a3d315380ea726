// Kernels of the resampling filter table. Each is written in the order its
// formula reads, in doubles, so every caller gets the same weights.
#include "effects/warp/filters.h"

#include <cmath>
#include <numbers>

namespace kve {

double FilterBox(double x) {
    return x > -0.5 && x <= 0.5 ? 1.0 : 0.0;
}

double FilterTriangle(double x) {
    const double a = std::fabs(x);
    return a < 1.0 ? 1.0 - a : 0.0;
}

double FilterBell(double x) {
    const double a = std::fabs(x);
    if (a < 0.5) return 0.75 - a * a;
    if (a < 1.5) {
        const double t = a - 1.5;
        return 0.5 * (t * t);
    }
    return 0.0;
}

double FilterBspline(double x) {
    const double a = std::fabs(x);
    if (a < 1.0) return 0.5 * a * a * a - a * a + 2.0 / 3.0;
    if (a < 2.0) {
        const double t = 2.0 - a;
        return t * t * t / 6.0;
    }
    return 0.0;
}

namespace {

double Sinc(double t) {
    if (t == 0.0) return 1.0;
    const double pt = std::numbers::pi * t;
    return std::sin(pt) / pt;
}

}  // namespace

double FilterLanczos3(double x) {
    const double a = std::fabs(x);
    return a < 3.0 ? Sinc(a) * Sinc(a / 3.0) : 0.0;
}

// Mitchell-Netravali cubic with B = C = 1/3.
double FilterMitchell(double x) {
    const double a = std::fabs(x);
    if (a < 1.0) return (7.0 * a * a * a - 12.0 * a * a + 16.0 / 3.0) / 6.0;
    if (a < 2.0) return (-7.0 / 3.0 * a * a * a + 12.0 * a * a - 20.0 * a + 32.0 / 3.0) / 6.0;
    return 0.0;
}

namespace {

constexpr FilterRow kFilters[] = {
    {"box", 0.5, FilterBox},        {"triangle", 1.0, FilterTriangle},
    {"bell", 1.5, FilterBell},      {"bspl", 2.0, FilterBspline},
    {"lanc3", 3.0, FilterLanczos3}, {"mitchell", 2.0, FilterMitchell},
};

}  // namespace

std::span<const FilterRow> FilterTable() {
    return kFilters;
}

const FilterRow *FilterAt(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kFilters))) return nullptr;
    return &kFilters[index];
}

}  // namespace kve
