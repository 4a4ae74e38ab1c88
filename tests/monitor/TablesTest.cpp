#include <gtest/gtest.h>
#include "harness/SpoolerHarness.h"
TEST(Smoke, Loads) {
    EXPECT_EQ(zeltest::SpoolerHarness::Instance().Monitor().cbSize, 160u);
}
