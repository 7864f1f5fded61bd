#include <gtest/gtest.h>
#include "shell/text.h"
TEST(Smoke, HexToInt) { EXPECT_EQ(HexToInt("1F"), 31); }
