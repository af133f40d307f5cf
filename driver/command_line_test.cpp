#include "driver/command_line.h"

#include <gtest/gtest.h>

using Strings = std::vector<std::string>;

TEST(SplitCommandLine, FollowsTheConsoleRuntimeRules) {
  const struct {
    const char* text;
    Strings parameters;
  } cases[] = {
      {"", {}},
      {"vardek a b", {"vardek", "a", "b"}},
      {"  vardek\t a\x01" "b  ", {"vardek", "a", "b"}},
      {"vardek \"a b\" c", {"vardek", "a b", "c"}},
      {"vardek x\"a b\"y\"c\"", {"vardek", "xa byc"}},
      {"vardek \"unterminated run", {"vardek", "unterminated run"}},
      {"vardek \" \" p", {"vardek", " ", "p"}},
      // A pair of quotes at the start of a parameter is skipped, and the later ones move up.
      {"vardek mask host root \"\" /pub /s", {"vardek", "mask", "host", "root", "/pub", "/s"}},
      {"vardek \"\"\"\"x", {"vardek", "x"}},
      {"vardek a\"\"b", {"vardek", "ab"}},
      // A parameter that comes out empty ends the count.
      {"vardek \"\"\"", {"vardek"}},
      {"vardek \"\"\" a", {"vardek", " a"}},
      {"vardek \xC0\xFF \xE9", {"vardek", "\xC0\xFF", "\xE9"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.text), c.parameters) << c.text;
}

TEST(ParseCommandLine, NeedsFiveNonEmptyParameters) {
  CommandLine line;
  EXPECT_FALSE(ParseCommandLine({}, &line));
  EXPECT_FALSE(ParseCommandLine({"a", "b", "c", "d"}, &line));
  EXPECT_FALSE(ParseCommandLine({"a", "b", "c", "", "e", "/s"}, &line));
  ASSERT_TRUE(ParseCommandLine({"m", "h", "u", "p", "/s"}, &line));
  EXPECT_EQ(line.LocalMask + line.ServerHost + line.UserLogin + line.UserPassword, "mhup");
  EXPECT_EQ(line.RemotePath, "/s");  // a switch among the first five is a positional parameter
  EXPECT_FALSE(line.Recurse || line.TodayOnly || line.CreateDirs);
}

TEST(ParseCommandLine, RefusesLineBreaksThatWouldBecomeCommands) {
  CommandLine line;
  EXPECT_FALSE(ParseCommandLine({"m", "h", "u\r\nDELE x", "p", "/r"}, &line));
  EXPECT_FALSE(ParseCommandLine({"m", "h", "u", "p\n", "/r"}, &line));
  EXPECT_FALSE(ParseCommandLine({"m", "h", "u", "p", "/r\r"}, &line));
}

TEST(ParseCommandLine, ReadsSwitchesByTheirFirstTwoCharacters) {
  const struct {
    Strings switches;
    bool today, recurse, create, encrypt;
  } cases[] = {
      {{}, false, false, false, false},
      {{"/T"}, true, false, false, false},
      {{"-t"}, false, false, false, false},
      {{"/tx"}, true, false, false, false},
      {{"/sub", "/S"}, false, true, false, false},
      {{"/c", "junk", "/t"}, true, false, true, false},
      {{"/s", "", "/c"}, false, true, false, false},  // counting ends at the empty parameter
      {{"t/", "/"}, false, false, false, false},
      {{"/E"}, false, false, false, true},
      {{"/encrypt", "/s"}, false, true, false, true},
  };
  for (const auto& c : cases) {
    Strings parameters = {"m", "h", "u", "p", "/r"};
    parameters.insert(parameters.end(), c.switches.begin(), c.switches.end());
    CommandLine line;
    ASSERT_TRUE(ParseCommandLine(parameters, &line));
    EXPECT_EQ(line.TodayOnly, c.today) << ::testing::PrintToString(c.switches);
    EXPECT_EQ(line.Recurse, c.recurse) << ::testing::PrintToString(c.switches);
    EXPECT_EQ(line.CreateDirs, c.create) << ::testing::PrintToString(c.switches);
    EXPECT_EQ(line.Encrypt, c.encrypt) << ::testing::PrintToString(c.switches);
  }
}
