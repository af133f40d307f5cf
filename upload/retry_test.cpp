#include "upload/retry.h"

#include <gtest/gtest.h>

TEST(RetryWait, GrowsAndStaysBounded) {
  EXPECT_EQ(RetryWait(1, 900), 5);
  EXPECT_EQ(RetryWait(2, 900), 15);
  EXPECT_EQ(RetryWait(3, 900), 45);
  EXPECT_EQ(RetryWait(4, 900), 135);
  EXPECT_EQ(RetryWait(5, 900), 300);
  EXPECT_EQ(RetryWait(100, 900), 300);
  EXPECT_EQ(RetryWait(3, 20), 20);  // shortened with the time-out like every wait
  EXPECT_EQ(RetryWait(1, 2), 2);
}
