#include "upload/publish.h"

#include <gtest/gtest.h>

TEST(TemporaryName, KeepsTheDirectoryAndStaysWithin255Bytes) {
  EXPECT_EQ(TemporaryName("index.html", 0x3f9c2a), "index.html.3f9c2a.part");
  EXPECT_EQ(TemporaryName("a", 0xff000001), "a.000001.part");  // six hexadecimal digits
  const std::string long_name(300, 'x');
  const std::string cut = TemporaryName(long_name, 1);
  EXPECT_EQ(cut.size(), 255u);
  EXPECT_EQ(cut.substr(243), ".000001.part");
  // 242 bytes and then a two-byte character that would not fit whole.
  const std::string cyrillic = std::string(242, 'x') + "\xD0\xB6" + "tail";
  EXPECT_EQ(TemporaryName(cyrillic, 1), std::string(242, 'x') + ".000001.part");
  EXPECT_EQ(TemporaryName(std::string(243, 'x'), 1).size(), 255u);
}
