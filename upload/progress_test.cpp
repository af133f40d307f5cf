#include "upload/progress.h"

#include <gtest/gtest.h>

TEST(FormatProgress, SaysHowFarHowFastAndHowLong) {
  const std::int64_t MiB = 1 << 20;
  EXPECT_EQ(FormatProgress(412 * MiB, 1100 * MiB, 9.8 * MiB),
            "  37% 412 МиБ из 1,1 ГиБ  9,8 МиБ/с  осталось 1:11");
  EXPECT_EQ(FormatProgress(0, 3 * MiB, 0), "   0% 0 Б из 3,0 МиБ");
  EXPECT_EQ(FormatProgress(3 * MiB, 3 * MiB, 1024), " 100% 3,0 МиБ из 3,0 МиБ  1,0 КиБ/с  осталось 0:00");
  EXPECT_EQ(FormatProgress(1, 2LL << 40, 1024), "   0% 1 Б из 2,0 ТиБ  1,0 КиБ/с  осталось 596523:14:08");
  EXPECT_EQ(FormatBytes(1023), "1023 Б");
  EXPECT_EQ(FormatBytes(1024 * 1023.97), "1,0 МиБ");
  EXPECT_EQ(FormatBytes(10.0 * (1 << 20)), "10 МиБ");
  EXPECT_EQ(FormatBytes(9.96 * (1 << 20)), "10 МиБ");
}

// The line comes only after a second in flight, at most four times a second, sums the files in
// flight, and is erased when the last ends.
TEST(Progress, DrawsLateAndSeldomAndErases) {
  std::vector<std::string> drawn;
  Progress progress(true, [&drawn](const std::string& status) { drawn.push_back(status); });
  const int a = progress.Begin(1000);
  progress.Advance(a, 100);
  EXPECT_TRUE(drawn.empty());
  progress.End(a);
  EXPECT_TRUE(drawn.empty());  // nothing shown, nothing to erase
  Progress off(false, [&drawn](const std::string& status) { drawn.push_back(status); });
  const int b = off.Begin(10);
  off.Advance(b, 10);
  off.End(b);
  EXPECT_TRUE(drawn.empty());
}
