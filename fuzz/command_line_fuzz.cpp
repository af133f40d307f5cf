// Fuzzes SplitCommandLine and ParseCommandLine with arbitrary command-line text.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/command_line.h"

#define CHECK(ok) ((ok) ? void() : std::abort())

static char SwitchLetter(const std::string& parameter) {
  return parameter.size() > 1 && parameter[0] == '/' ? parameter[1] | 0x20 : 0;
}

// A switch value after a colon: none, or decimal digits (three at most, or as many as `high`
// has) naming low to high. A NUL byte is a character like any other.
static bool ValueFits(const std::string& parameter, int low, int high, int fallback, int* value) {
  *value = fallback;
  if (parameter.compare(2, 1, ":") != 0) return true;
  const std::string digits = parameter.substr(3);
  const std::size_t longest = std::max<std::size_t>(3, std::to_string(high).size());
  if (digits.empty() || digits.size() > longest ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *value = std::atoi(digits.c_str());
  return *value >= low && *value <= high;
}

// ParseCommandLine's result against the rules, for any list of parameters, empty ones included.
static void CheckParse(const std::vector<std::string>& parameters) {
  std::size_t count = 0;
  while (count < parameters.size() && !parameters[count].empty()) ++count;
  Options want;
  bool line_break = false;
  bool in_place = false;
  bool after_empty = false;
  bool bad_value = false;
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    const char letter = SwitchLetter(parameters[i]);
    after_empty |= i > count && letter == 'e';
    if (i >= count) continue;
    line_break |= parameters[i].find_first_of("\r\n") != std::string::npos;
    in_place |= i < 5 && (parameters[i] == "/e" || parameters[i] == "/E");
    want.TodayOnly |= i >= 5 && letter == 't';
    want.Recurse |= i >= 5 && letter == 's';
    want.CreateDirs |= i >= 5 && letter == 'c';
    want.Encrypt |= i >= 5 && letter == 'e';
    const bool valued = parameters[i].size() > 3 && parameters[i][2] == ':';
    if (i >= 5 && letter == 'e' && parameters[i].compare(2, 1, ":") == 0) {
      const bool implicit = parameters[i].size() == 4 && (parameters[i][3] | 0x20) == 'i';
      want.ImplicitTls |= implicit;
      bad_value |= !implicit;
    }
    if (i >= 5 && letter == 'x') {
      bad_value |= !valued;
      if (valued) want.Excludes.push_back(parameters[i].substr(3));
    }
    if (i >= 5 && letter == 'l') {
      bad_value |= !valued;
      if (valued) want.LogFile = parameters[i].substr(3);
    }
    if (i >= 5 && letter == 'b') {
      int rate = 0;
      bad_value |= !valued || !ValueFits(parameters[i], 1, 100000000, 0, &rate);
      want.RateKiB = rate;
    }
    want.Differs |= i >= 5 && letter == 'd';
    want.Atomic |= i >= 5 && letter == 'a';
    want.Utf8Names |= i >= 5 && letter == 'u';
    int value = 0;
    if (i >= 5 && letter == 'r') {
      bad_value |= !ValueFits(parameters[i], 0, 100, 3, &value);
      want.Retries = value;
    }
    if (i >= 5 && letter == 'p') {
      bad_value |= !ValueFits(parameters[i], 1, 16, 4, &value);
      want.Parallel = value;
    }
    want.DryRun |= i >= 5 && letter == 'n';
    want.Verify |= i >= 5 && letter == 'v';
    if (i >= 5 && letter == 'm') {
      bad_value |= !ValueFits(parameters[i], 1, 1000000, 0, &value);
      want.Mirror = want.Differs = true;
      want.MostDeletions = value;
    }
  }
  const CommandLineFault fault = count < 5 || line_break ? CommandLineFault::kUsage
                                 : in_place              ? CommandLineFault::kEncryptInPlace
                                 : after_empty           ? CommandLineFault::kEncryptAfterEmpty
                                 : bad_value             ? CommandLineFault::kBadValue
                                                         : CommandLineFault::kNone;
  Options line;
  CHECK(ParseCommandLine(parameters, &line) == fault);
  if (fault != CommandLineFault::kNone) return;
  CHECK(line.LocalMask == parameters[0] && line.ServerHost == parameters[1] &&
        line.UserLogin == parameters[2] && line.UserPassword == parameters[3] &&
        line.RemotePath == parameters[4] && line.TodayOnly == want.TodayOnly &&
        line.Recurse == want.Recurse && line.CreateDirs == want.CreateDirs &&
        line.Encrypt == want.Encrypt && line.Differs == want.Differs &&
        line.Atomic == want.Atomic && line.Utf8Names == want.Utf8Names &&
        line.Retries == want.Retries && line.Parallel == want.Parallel &&
        line.Mirror == want.Mirror && line.MostDeletions == want.MostDeletions &&
        line.DryRun == want.DryRun && line.Verify == want.Verify &&
        line.ImplicitTls == want.ImplicitTls && line.Excludes == want.Excludes &&
        line.LogFile == want.LogFile && line.RateKiB == want.RateKiB);
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> parameters = SplitCommandLine(text);
  std::string quoted;
  std::vector<std::string> whole;
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    // Splitting takes every quote away; only an unterminated quote at the end comes out empty.
    CHECK(parameters[i].find('"') == std::string::npos &&
          (!parameters[i].empty() || i + 1 == parameters.size()));
    if (parameters[i].empty()) break;
    quoted += " \"" + parameters[i] + "\"";
    whole.push_back(parameters[i]);
  }
  CHECK(SplitCommandLine(quoted) == whole);  // each parameter, quoted, comes back as it was
  CheckParse(parameters);
  std::vector<std::string> pieces(1);  // the text cut at NUL bytes, for lists with empty parameters
  for (char c : text) {
    if (c == '\0') {
      pieces.emplace_back();
    } else {
      pieces.back() += c;
    }
  }
  CheckParse(pieces);
  return 0;
}
