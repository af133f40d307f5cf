#include "upload/transfer.h"

#include <gtest/gtest.h>

TEST(ParsePassivePort, TakesThePortFieldsOfAPasvReply) {
  const struct {
    const char* reply;
    int port;  // -1: malformed
  } cases[] = {
      {"227 Entering Passive Mode (192,168,1,2,19,137)", 19 * 256 + 137},
      {"227 Entering Passive Mode (10,0,0,5,4,1).", 1025},
      {"227 =127,0,0,1,4,1", -1},
      {"227 (127,0,0,1,4,1", -1},
      {"227 )127,0,0,1,4,1(", -1},
      {"227 (1,2,3,4,5)", -1},
      {"227 (1,2,3,4,5),6)", -1},
      {"227 (10,0,0,5,4,1,9)", -1},
      {"227 (10,0,0,5,4,1 )", -1},
      {"227 (192, 168, 1, 2, 19, 137)", 19 * 256 + 137},
      {"227 (,,,,0,21)", 21},
      {"227 (h,o,s,t,255,255)", 65535},
      {"227 (1,2,3,4,256,0)", -1},
      {"227 (1,2,3,4,-1,0)", -1},
      {"227 (1,2,3,4,x,0)", -1},
      {"227 (1,2,3,4,,0)", -1},
      {"227 (1,2,3,4,0x10,$ff)", 16 * 256 + 255},
      {"227 (1,2,3,4,99999999999999999999,1)", -1},
  };
  for (const auto& c : cases) {
    int port = -1;
    bool parsed = ParsePassivePort(c.reply, &port);
    EXPECT_EQ(parsed ? port : -1, c.port) << c.reply;
  }
}

TEST(ParseInteger, FollowsThePortFieldSyntax) {
  const struct {
    const char* text;
    bool ok;
    std::int64_t value;
  } cases[] = {
      {"19", true, 19},          {"  19", true, 19},         {"+7", true, 7},
      {"-7", true, -7},          {"0x1F", true, 31},         {"X1f", true, 31},
      {"$FF", true, 255},        {"0", true, 0},             {"019", true, 19},
      {"2147483647", true, 2147483647}, {"2147483648", false, 0},
      {"-2147483648", true, -2147483648LL}, {"0xFFFFFFFF", true, -1},
      {"0x100000000", false, 0}, {"", false, 0},             {"  ", false, 0},
      {"19 ", false, 0},         {"1,9", false, 0},          {"\t19", false, 0},
      {"0x", false, 0},          {"$", false, 0},            {"-0x5", false, 0},
      {"- 5", false, 0},         {"1e3", false, 0},          {"0x1G", false, 0},
  };
  for (const auto& c : cases) {
    std::int64_t value = 0;
    EXPECT_EQ(ParseInteger(c.text, &value), c.ok) << c.text;
    EXPECT_EQ(c.ok ? value : 0, c.value) << c.text;
  }
}

TEST(ParseExtendedPassivePort, TakesThePortBetweenRepeatedDelimiters) {
  const struct {
    const char* reply;
    int port;  // -1: malformed
  } cases[] = {
      {"229 Entering Extended Passive Mode (|||6446|)", 6446},
      {"229 (!!!1!)", 1},
      {"229 (|||65535|).", 65535},
      {"229 listen socket already exists (|||2121|)", 2121},
      {"229 (|||65536|)", -1},
      {"229 (|||0|)", -1},
      {"229 (||6446|)", -1},
      {"229 (|||6446)", -1},
      {"229 (|||6446| )", -1},
      {"229 (|||64a6|)", -1},
      {"229 (|||+64|)", -1},
      {"229 (|||99999999999999999999|)", -1},
      {"229 (111234551)", -1},  // a digit cannot delimit
      {"229 ( 6446 )", -1},
      {"229 (|||", -1},
      {"229 |||6446|", -1},
  };
  for (const auto& c : cases) {
    int port = -1;
    bool parsed = ParseExtendedPassivePort(c.reply, &port);
    EXPECT_EQ(parsed ? port : -1, c.port) << c.reply;
  }
}
