#include "console/progress.h"

#include <gtest/gtest.h>

TEST(FormatProgress, SaysHowFarHowFastAndHowLong) {
  const std::int64_t MiB = 1 << 20;
  EXPECT_EQ(FormatProgress(412 * MiB, 1100 * MiB, 9.8 * MiB),
            "  37% 412 МиБ из 1,1 ГиБ  9,8 МиБ/с  осталось 1:11");
  EXPECT_EQ(FormatProgress(0, 3 * MiB, 0), "   0% 0 Б из 3,0 МиБ");
  EXPECT_EQ(FormatProgress(3 * MiB, 3 * MiB, 1024),
            " 100% 3,0 МиБ из 3,0 МиБ  1,0 КиБ/с  осталось 0:00");
  EXPECT_EQ(FormatProgress(1, 2LL << 40, 1024),
            "   0% 1 Б из 2,0 ТиБ  1,0 КиБ/с  осталось 596523:14:08");
  EXPECT_EQ(FormatBytes(1023), "1023 Б");
  EXPECT_EQ(FormatBytes(1024 * 1023.97), "1,0 МиБ");
  EXPECT_EQ(FormatBytes(10.0 * (1 << 20)), "10 МиБ");
  EXPECT_EQ(FormatBytes(9.96 * (1 << 20)), "10 МиБ");
}

// The line comes only after a second in flight, at most four times a second, sums the files in
// flight, and is erased when the last ends.
TEST(Progress, DrawsLateAndSeldomAndErases) {
  using std::chrono::milliseconds;
  const std::int64_t MiB = 1 << 20;
  Progress::Clock::time_point now;
  std::vector<std::string> drawn;
  const auto draw = [&drawn](const std::string& status) { drawn.push_back(status); };
  Progress progress(true, draw, [&now] { return now; });
  const int a = progress.Begin(1000);
  progress.Advance(a, 100);
  EXPECT_TRUE(drawn.empty());
  progress.End(a);
  EXPECT_TRUE(drawn.empty());  // nothing shown, nothing to erase

  const int big = progress.Begin(8 * MiB);
  now += milliseconds(999);
  progress.Advance(big, MiB);
  EXPECT_TRUE(drawn.empty());
  const int other = progress.Begin(2 * MiB);
  now += milliseconds(1);
  progress.Advance(other, MiB);  // a second since the first file began: both files' bytes
  ASSERT_EQ(drawn, std::vector<std::string>{"  20% 2,0 МиБ из 10 МиБ  2,0 МиБ/с  осталось 0:04"});
  now += milliseconds(249);
  progress.Advance(big, MiB);
  EXPECT_EQ(drawn.size(), 1u);
  now += milliseconds(1);
  progress.Advance(big, MiB);
  EXPECT_EQ(drawn.size(), 2u);
  progress.End(big);
  EXPECT_EQ(drawn.size(), 2u);  // a file still in flight keeps the line
  progress.End(other);
  EXPECT_EQ(drawn.back(), "");

  Progress off(false, draw, [&now] { return now; });
  const int b = off.Begin(10);
  now += milliseconds(5000);
  off.Advance(b, 10);
  off.End(b);
  EXPECT_EQ(drawn.size(), 3u);
}
