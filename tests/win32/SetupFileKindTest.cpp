#include <gtest/gtest.h>
#include "driver/SetupFileKind.h"
TEST(SetupFileKind, Missing) { EXPECT_EQ(255, ReadSetupFileKind("C:\\no\\such\\file")); }
