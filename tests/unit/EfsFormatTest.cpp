#include <gtest/gtest.h>
#include "efs/EfsFormat.h"
TEST(EfsFormat, Placeholder) { EXPECT_LT(EfsCompareNames("a_b.txt", "ab.txt"), 0); }
