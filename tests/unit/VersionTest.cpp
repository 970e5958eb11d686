// Versions compared as dotted numbers: what decides that a setup would
// install an older version over a newer one.
#include <gtest/gtest.h>

#include "common/Version.h"

namespace {

TEST(Version, DottedNumbersCompareNumberByNumber) {
  EXPECT_LT(CompareVersions("1.9", "1.10"), 0);  // not as text
  EXPECT_GT(CompareVersions("2.0", "1.99.99"), 0);
  EXPECT_LT(CompareVersions("2.5.1", "2.5.2"), 0);
  EXPECT_EQ(0, CompareVersions("2.5", "2.5.0"));
  EXPECT_EQ(0, CompareVersions("2.5.0.0", "2.5"));
  EXPECT_LT(CompareVersions("2.5", "2.5.0.1"), 0);
  EXPECT_EQ(0, CompareVersions("3", "3"));
  EXPECT_EQ(0, CompareVersions("007.1", "7.1"));
}

TEST(Version, WhatIsNotANumberIsLeftOut) {
  // a part counts by the number it starts with
  EXPECT_EQ(0, CompareVersions("1.2-beta", "1.2"));
  EXPECT_LT(CompareVersions("1.2rc1", "1.3"), 0);
  EXPECT_EQ(0, CompareVersions("v2", "0"));
  // nothing to compare: neither is older
  EXPECT_EQ(0, CompareVersions("", "1.0"));
  EXPECT_EQ(0, CompareVersions("2.0", "  "));
  EXPECT_EQ(0, CompareVersions(" 1.0", "1.0 "));
  // a number too long for any counter neither overflows nor wraps
  EXPECT_GT(CompareVersions("99999999999999999999999.1", "1.1"), 0);
}

}  // namespace
