#include "app/main_form.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

TEST(ColumnScalingTest, RoundsToTheNearestPixelHalvesAwayFromZero) {
  EXPECT_EQ(ScaleColumnWidth(193, 1200, 1000), 232);  // 231.6
  EXPECT_EQ(ScaleColumnWidth(104, 1200, 1000), 125);  // 124.8
  EXPECT_EQ(ScaleColumnWidth(5, 3, 2), 8);            // 7.5
  EXPECT_EQ(ScaleColumnWidth(3, 3, 2), 5);            // 4.5, not the even 4
  EXPECT_EQ(ScaleColumnWidth(151, 1000, 1000), 151);
  EXPECT_EQ(ScaleColumnWidth(374, 500, 1000), 187);
}

}  // namespace
}  // namespace tarn
