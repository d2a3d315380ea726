#include "effects/warp/filters.h"

#include <gtest/gtest.h>

namespace kve {
namespace {

TEST(FilterTable, KernelValuesAtTheirAnchors) {
    EXPECT_EQ(FilterBox(-0.5), 0.0);
    EXPECT_EQ(FilterBox(0.5), 1.0);
    EXPECT_EQ(FilterBox(0.0), 1.0);
    EXPECT_EQ(FilterTriangle(1.0), 0.0);
    EXPECT_EQ(FilterTriangle(-0.25), 0.75);
    EXPECT_EQ(FilterBell(0.5), 0.5);
    EXPECT_EQ(FilterBell(1.5), 0.0);
    EXPECT_DOUBLE_EQ(FilterBspline(0.0), 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(FilterBspline(1.0), 1.0 / 6.0);
    EXPECT_EQ(FilterBspline(2.0), 0.0);
    EXPECT_EQ(FilterLanczos3(0.0), 1.0);
    EXPECT_NEAR(FilterLanczos3(1.0), 0.0, 1e-15);
    EXPECT_EQ(FilterLanczos3(3.0), 0.0);
    EXPECT_DOUBLE_EQ(FilterMitchell(0.0), 8.0 / 9.0);
    EXPECT_NEAR(FilterMitchell(1.0), 1.0 / 18.0, 1e-15);
    EXPECT_EQ(FilterMitchell(-2.0), 0.0);
}

TEST(FilterTable, RowsInIndexOrderAndBadIndicesRefused) {
    const char *names[] = {"box", "triangle", "bell", "bspl", "lanc3", "mitchell"};
    const double supports[] = {0.5, 1.0, 1.5, 2.0, 3.0, 2.0};
    ASSERT_EQ(FilterTable().size(), 6u);
    for (int i = 0; i < 6; ++i) {
        ASSERT_NE(FilterAt(i), nullptr);
        EXPECT_STREQ(FilterAt(i)->name, names[i]);
        EXPECT_EQ(FilterAt(i)->support, supports[i]);
        // Every kernel is zero at and beyond its support, and symmetric.
        const FilterRow &row = *FilterAt(i);
        EXPECT_EQ(row.kernel(row.support + 1e-9), 0.0) << row.name;
        EXPECT_EQ(row.kernel(0.3), row.kernel(-0.3)) << row.name;
    }
    EXPECT_EQ(FilterAt(-1), nullptr);
    EXPECT_EQ(FilterAt(6), nullptr);
}

}  // namespace
}  // namespace kve
