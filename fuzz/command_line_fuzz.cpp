// Fuzzes SplitCommandLine and ParseCommandLine with arbitrary command-line text.
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/command_line.h"

#define CHECK(ok) ((ok) ? void() : std::abort())

// ParseCommandLine's result against the rules, for any list of parameters, empty ones included.
static void CheckParse(const std::vector<std::string>& parameters) {
  std::size_t count = 0;
  while (count < parameters.size() && !parameters[count].empty()) ++count;
  CommandLine want;
  bool line_break = false;
  for (std::size_t i = 0; i < count; ++i) {
    line_break |= parameters[i].find_first_of("\r\n") != std::string::npos;
    const char letter =
        parameters[i].size() > 1 && parameters[i][0] == '/' ? parameters[i][1] | 0x20 : 0;
    want.TodayOnly |= i >= 5 && letter == 't';
    want.Recurse |= i >= 5 && letter == 's';
    want.CreateDirs |= i >= 5 && letter == 'c';
  }
  CommandLine line;
  CHECK(ParseCommandLine(parameters, &line) == (count >= 5 && !line_break));
  if (count < 5 || line_break) return;
  CHECK(line.LocalMask == parameters[0] && line.ServerHost == parameters[1] &&
        line.UserLogin == parameters[2] && line.UserPassword == parameters[3] &&
        line.RemotePath == parameters[4] && line.TodayOnly == want.TodayOnly &&
        line.Recurse == want.Recurse && line.CreateDirs == want.CreateDirs);
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> parameters = SplitCommandLine(text);
  std::string quoted;
  for (const std::string& parameter : parameters) {
    // Splitting takes every quote away and never yields an empty parameter.
    CHECK(!parameter.empty() && parameter.find('"') == std::string::npos);
    quoted += " \"" + parameter + "\"";
  }
  CHECK(SplitCommandLine(quoted) == parameters);  // each parameter, quoted, comes back as it was
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
