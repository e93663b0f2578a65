// The general format of real numbers in report lines.

#include <gtest/gtest.h>

#include "analysers/number_format.h"

namespace tarnwick {
namespace {

TEST(FormatGeneralTest, ShortestFormWithFifteenDigits) {
  ASSERT_EQ(decimalSeparator(), '.');
  EXPECT_EQ(formatGeneral(24000.0 / 1001), "23.976023976024");
  EXPECT_EQ(formatGeneral(24000.0 / 1000), "24");
  EXPECT_EQ(formatGeneral(44100 / 1000.0), "44.1");
  EXPECT_EQ(formatGeneral(48000 / 1000.0), "48");
  EXPECT_EQ(formatGeneral(30000.0 / 1001), "29.97002997003");
  EXPECT_EQ(formatGeneral(0.5), "0.5");
  EXPECT_EQ(formatGeneral(-2.25), "-2.25");
  EXPECT_EQ(formatGeneral(1e20), "1E20");
  EXPECT_EQ(formatGeneral(0.00001), "1E-5");
}

TEST(FormatGeneralTest, LocaleSeparator) {
  setDecimalSeparator(',');
  EXPECT_EQ(formatGeneral(44.1), "44,1");
  setDecimalSeparator('.');
  EXPECT_EQ(formatGeneral(44.1), "44.1");
}

}  // namespace
}  // namespace tarnwick
