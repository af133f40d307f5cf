#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>

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
      // A parameter may come out empty; counting ends there, splitting does not.
      {"vardek \"\"\"", {"vardek", ""}},
      {"vardek a x\"\" \"\"\" /e", {"vardek", "a", "x", " /e"}},
      {"vardek \"\"\" a", {"vardek", " a"}},
      {"vardek \xC0\xFF \xE9", {"vardek", "\xC0\xFF", "\xE9"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.text), c.parameters) << c.text;
}

CommandLineFault Parse(const Strings& parameters, Options* options) {
  return ParseCommandLine(parameters, options);
}

TEST(ParseCommandLine, NeedsFiveNonEmptyParameters) {
  Options line;
  EXPECT_EQ(Parse({}, &line), CommandLineFault::kUsage);
  EXPECT_EQ(Parse({"a", "b", "c", "d"}, &line), CommandLineFault::kUsage);
  EXPECT_EQ(Parse({"a", "b", "c", "", "e", "/s"}, &line), CommandLineFault::kUsage);
  ASSERT_EQ(Parse({"m", "h", "u", "p", "/s"}, &line), CommandLineFault::kNone);
  EXPECT_EQ(line.LocalMask + line.ServerHost + line.UserLogin + line.UserPassword, "mhup");
  EXPECT_EQ(line.RemotePath, "/s");  // a switch among the first five is a positional parameter
  EXPECT_FALSE(line.Recurse || line.TodayOnly || line.CreateDirs);
}

TEST(ParseCommandLine, RefusesLineBreaksThatWouldBecomeCommands) {
  Options line;
  EXPECT_EQ(Parse({"m", "h", "u\r\nDELE x", "p", "/r"}, &line), CommandLineFault::kUsage);
  EXPECT_EQ(Parse({"m", "h", "u", "p\n", "/r"}, &line), CommandLineFault::kUsage);
  EXPECT_EQ(Parse({"m", "h", "u", "p", "/r\r"}, &line), CommandLineFault::kUsage);
}

// "/e" promises a run in TLS or none: a command line that would lose it is refused.
TEST(ParseCommandLine, NeverLosesEncrypt) {
  const struct {
    Strings parameters;
    CommandLineFault fault;
  } cases[] = {
      {{"m", "h", "u", "p", "/e"}, CommandLineFault::kEncryptInPlace},
      {{"m", "h", "u", "p", "/E", "/s"}, CommandLineFault::kEncryptInPlace},
      {{"m", "h", "/e", "p", "/r"}, CommandLineFault::kEncryptInPlace},
      {{"m", "h", "u", "p", "/", "", "/e"}, CommandLineFault::kEncryptAfterEmpty},
      {{"m", "h", "u", "p", "/", "/s", "", "x", "/Encrypt"}, CommandLineFault::kEncryptAfterEmpty},
      {{"m", "h", "u", "p", "/e/"}, CommandLineFault::kNone},  // a directory named /e
      {{"m", "h", "u", "p", "/encrypted"}, CommandLineFault::kNone},
      {{"m", "h", "u", "p", "/", "", "/s"}, CommandLineFault::kNone},
      {{"m", "h", "u", "", "/", "/e"}, CommandLineFault::kUsage},
  };
  for (const auto& c : cases) {
    Options line;
    EXPECT_EQ(Parse(c.parameters, &line), c.fault) << ::testing::PrintToString(c.parameters);
  }
}

TEST(ParseSeconds, TakesAWholeNumberWithBlanksAround) {
  const struct {
    const char* text;
    int seconds;  // 0: refused
  } cases[] = {
      {"3", 3},  {"3 ", 3},   {" \t3\t ", 3}, {"0", 0},    {"", 0},        {" ", 0},
      {"3s", 0}, {"-3", 0},   {"+3", 0},      {"3.5", 0},  {"3 4", 0},     {"0x10", 0},
      {"007", 7}, {"86400", 86400}, {"99999999999999999999", 1000000},
  };
  for (const auto& c : cases) {
    int seconds = 0;
    EXPECT_EQ(ParseSeconds(c.text, &seconds), c.seconds != 0) << c.text;
    EXPECT_EQ(seconds, c.seconds) << c.text;
  }
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
    Options line;
    ASSERT_EQ(Parse(parameters, &line), CommandLineFault::kNone);
    EXPECT_EQ(line.TodayOnly, c.today) << ::testing::PrintToString(c.switches);
    EXPECT_EQ(line.Recurse, c.recurse) << ::testing::PrintToString(c.switches);
    EXPECT_EQ(line.CreateDirs, c.create) << ::testing::PrintToString(c.switches);
    EXPECT_EQ(line.Encrypt, c.encrypt) << ::testing::PrintToString(c.switches);
  }
}

// A switch may carry a value after a colon; it still counts by its first two characters.
TEST(ParseCommandLine, ReadsSwitchValuesAfterAColon) {
  const struct {
    const char* parameter;
    int retries;  // -1: the command line is refused
  } cases[] = {
      {"/r", 3},    {"/R", 3},      {"/r:5", 5},   {"/r:0", 0},    {"/r:100", 100},
      {"/retry", 3}, {"/r5", 3},    {"/r:", -1},   {"/r:x", -1},   {"/r:101", -1},
      {"/r:-1", -1}, {"/r:5 ", -1}, {"/r:1000", -1}, {"/s", 0},
  };
  for (const auto& c : cases) {
    Options line;
    const Strings parameters = {"m", "h", "u", "p", "/x", c.parameter};
    const CommandLineFault fault = Parse(parameters, &line);
    EXPECT_EQ(fault == CommandLineFault::kNone ? line.Retries : -1, c.retries) << c.parameter;
    EXPECT_EQ(BadSwitch(parameters), c.retries < 0 ? c.parameter : "") << c.parameter;
  }
}

// "/m" implies "/d" and takes a cap on deletions; "/n" changes nothing; "/v" checks.
TEST(ParseCommandLine, ReadsMirrorWithItsCapAndNoChanges) {
  const struct {
    const char* parameter;
    int cap;  // -1: refused; -2: no "/m"
    bool dry;
    bool verify = false;
  } cases[] = {
      {"/m", 0, false},        {"/M:5", 5, false},  {"/mirror", 0, false}, {"/m:1000000", 1000000, false},
      {"/m:0", -1, false},     {"/m:1000001", -1, false}, {"/m:", -1, false}, {"/n", -2, true},
      {"/nochange", -2, true}, {"/V", -2, false, true}, {"/verify:1", -2, false, true},
  };
  for (const auto& c : cases) {
    Options line;
    const CommandLineFault fault = Parse({"m", "h", "u", "p", "/x", c.parameter}, &line);
    ASSERT_EQ(fault == CommandLineFault::kNone, c.cap != -1) << c.parameter;
    if (c.cap == -1) continue;
    EXPECT_EQ(line.Mirror, c.cap >= 0) << c.parameter;
    EXPECT_EQ(line.Differs, c.cap >= 0) << c.parameter;
    EXPECT_EQ(line.MostDeletions, std::max(c.cap, 0)) << c.parameter;
    EXPECT_EQ(line.DryRun, c.dry) << c.parameter;
    EXPECT_EQ(line.Verify, c.verify) << c.parameter;
  }
}

// The scheduled-run switches take their values after a colon; without one they are refused.
TEST(ParseCommandLine, ReadsExcludesLogRateAndImplicitTls) {
  Options line;
  ASSERT_EQ(Parse({"m", "h", "u", "p", "/r", "/x:*.tmp", "/X:cache", "/l:C:\\j.log", "/b:100",
                   "/E:I"},
                  &line),
            CommandLineFault::kNone);
  EXPECT_EQ(line.Excludes, (Strings{"*.tmp", "cache"}));
  EXPECT_EQ(line.LogFile, "C:\\j.log");
  EXPECT_EQ(line.RateKiB, 100);
  EXPECT_TRUE(line.Encrypt && line.ImplicitTls);
  for (const char* refused : {"/x", "/x:", "/l", "/l:", "/b", "/b:0", "/b:x", "/e:", "/e:x"}) {
    EXPECT_EQ(Parse({"m", "h", "u", "p", "/r", refused}, &line), CommandLineFault::kBadValue)
        << refused;
  }
}
