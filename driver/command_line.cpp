// Command-line splitting and parameter parsing.
#include "driver/command_line.h"

#include "upload/control.h"

namespace {

bool IsSeparator(char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  return byte >= 1 && byte <= 32;
}

// Skips separators and any pairs of double quotes that stand at the start of a parameter.
std::size_t SkipToParameter(const std::string& text, std::size_t at) {
  for (;;) {
    while (at < text.size() && IsSeparator(text[at])) ++at;
    if (text.compare(at, 2, "\"\"") != 0) return at;
    at += 2;
  }
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& text) {
  std::vector<std::string> parameters;
  std::size_t at = 0;
  for (;;) {
    at = SkipToParameter(text, at);
    std::string parameter;
    while (at < text.size() && text[at] != '\0' && !IsSeparator(text[at])) {
      if (text[at] != '"') {
        parameter.push_back(text[at++]);
        continue;
      }
      for (++at; at < text.size() && text[at] != '"'; ++at) parameter.push_back(text[at]);
      if (at < text.size()) ++at;
    }
    if (parameter.empty()) return parameters;
    parameters.push_back(parameter);
  }
}

bool ParseCommandLine(const std::vector<std::string>& parameters, CommandLine* result) {
  std::size_t count = 0;
  while (count < parameters.size() && !parameters[count].empty()) ++count;
  if (count < 5) return false;
  for (std::size_t i = 0; i < count; ++i) {
    if (HasLineBreak(parameters[i])) return false;
  }
  *result = CommandLine();
  result->LocalMask = parameters[0];
  result->ServerHost = parameters[1];
  result->UserLogin = parameters[2];
  result->UserPassword = parameters[3];
  result->RemotePath = parameters[4];
  for (std::size_t i = 5; i < count; ++i) {
    std::string prefix = parameters[i].substr(0, 2);
    for (char& c : prefix) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (prefix == "/t") result->TodayOnly = true;
    if (prefix == "/s") result->Recurse = true;
    if (prefix == "/c") result->CreateDirs = true;
    if (prefix == "/e") result->Encrypt = true;
  }
  return true;
}
