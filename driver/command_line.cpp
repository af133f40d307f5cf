// Command-line splitting and parameter parsing.
#include "driver/command_line.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "ftp/control.h"

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

// A switch counts by its first two characters, in any case.
std::string SwitchOf(const std::string& parameter) {
  std::string prefix = parameter.substr(0, 2);
  for (char& c : prefix) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return prefix;
}

constexpr int kDefaultRetries = 3;
constexpr int kMostRetries = 100;
constexpr int kDefaultConnections = 4;
constexpr int kMostConnections = 16;
constexpr int kMostDeletions = 1000000;
constexpr int kMostRate = 100000000;  // KiB per second: some 100 GB/s

// A switch's value: none gives the default; ":N" a decimal number from low to high.
bool SwitchValue(const std::string& parameter, int fallback, int low, int high, int* value) {
  *value = fallback;
  if (parameter.size() <= 2 || parameter[2] != ':') return true;
  const std::string digits = parameter.substr(3);
  // Three digits at most, as always ("/p:004"), or as many as the highest value has.
  const std::size_t longest = std::max<std::size_t>(3, std::to_string(high).size());
  if (digits.empty() || digits.size() > longest ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *value = std::atoi(digits.c_str());
  return *value >= low && *value <= high;
}

// Reads one switch after the five parameters; false when its value is refused.
bool ReadSwitch(const std::string& parameter, Options* read) {
  const std::string name = SwitchOf(parameter);
  if (name == "/t") read->TodayOnly = true;
  if (name == "/s") read->Recurse = true;
  if (name == "/c") read->CreateDirs = true;
  if (name == "/e") {
    // "/e:i": TLS from the first byte (implicit FTPS); "/e" alone: AUTH TLS.
    read->Encrypt = true;
    if (parameter.size() > 2 && parameter[2] == ':') {
      read->ImplicitTls = parameter.size() == 4 && (parameter[3] | 0x20) == 'i';
      return read->ImplicitTls;
    }
  }
  if (name == "/d") read->Differs = true;
  if (name == "/a") read->Atomic = true;
  if (name == "/u") read->Utf8Names = true;
  if (name == "/r") return SwitchValue(parameter, kDefaultRetries, 0, kMostRetries, &read->Retries);
  if (name == "/p") {
    return SwitchValue(parameter, kDefaultConnections, 1, kMostConnections, &read->Parallel);
  }
  if (name == "/n") read->DryRun = true;
  if (name == "/v") read->Verify = true;
  // "/x:MASK", once for each mask; "/l:FILE"; "/b:N" KiB per second.
  const bool valued = parameter.size() > 3 && parameter[2] == ':';
  if (name == "/x") {
    if (valued) read->Excludes.push_back(parameter.substr(3));
    return valued;
  }
  if (name == "/l") {
    if (valued) read->LogFile = parameter.substr(3);
    return valued;
  }
  if (name == "/b") return valued && SwitchValue(parameter, 0, 1, kMostRate, &read->RateKiB);
  if (name == "/m") {
    read->Mirror = read->Differs = true;
    return SwitchValue(parameter, 0, 1, kMostDeletions, &read->MostDeletions);
  }
  return true;
}

std::size_t CountOf(const std::vector<std::string>& parameters) {
  std::size_t count = 0;
  while (count < parameters.size() && !parameters[count].empty()) ++count;
  return count;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& text) {
  std::vector<std::string> parameters;
  std::size_t at = SkipToParameter(text, 0);
  while (at < text.size() && text[at] != '\0') {
    std::string parameter;
    while (at < text.size() && text[at] != '\0' && !IsSeparator(text[at])) {
      if (text[at] != '"') {
        parameter.push_back(text[at++]);
        continue;
      }
      for (++at; at < text.size() && text[at] != '"'; ++at) parameter.push_back(text[at]);
      if (at < text.size()) ++at;
    }
    parameters.push_back(parameter);
    at = SkipToParameter(text, at);
  }
  return parameters;
}

CommandLineFault ParseCommandLine(const std::vector<std::string>& parameters, Options* options) {
  const std::size_t count = CountOf(parameters);
  if (count < 5) return CommandLineFault::kUsage;
  for (std::size_t i = 0; i < count; ++i) {
    if (HasLineBreak(parameters[i])) return CommandLineFault::kUsage;
  }
  // Only "/e" carries a promise that a misplaced switch would break in silence; the others keep
  // their places ("/s" in fifth place is the remote path "/s").
  for (std::size_t i = 0; i < 5; ++i) {
    if (parameters[i] == "/e" || parameters[i] == "/E") return CommandLineFault::kEncryptInPlace;
  }
  for (std::size_t i = count; i < parameters.size(); ++i) {
    if (SwitchOf(parameters[i]) == "/e") return CommandLineFault::kEncryptAfterEmpty;
  }
  Options read;
  read.LocalMask = parameters[0];
  read.ServerHost = parameters[1];
  read.UserLogin = parameters[2];
  read.UserPassword = parameters[3];
  read.RemotePath = parameters[4];
  for (std::size_t i = 5; i < count; ++i) {
    if (!ReadSwitch(parameters[i], &read)) return CommandLineFault::kBadValue;
  }
  *options = read;
  return CommandLineFault::kNone;
}

std::string BadSwitch(const std::vector<std::string>& parameters) {
  Options ignored;
  for (std::size_t i = 5; i < CountOf(parameters); ++i) {
    if (!ReadSwitch(parameters[i], &ignored)) return parameters[i];
  }
  return std::string();
}

bool ParseSeconds(const std::string& text, int* seconds) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return false;
  const std::size_t end = text.find_last_not_of(" \t") + 1;
  const std::string digits = text.substr(first, end - first);
  if (digits.find_first_not_of("0123456789") != std::string::npos) return false;
  // Beyond this a wait is no bound at all, and its milliseconds would overflow.
  constexpr long long kLongest = 1000000;
  long long value = 0;
  for (char c : digits) value = std::min(value * 10 + (c - '0'), kLongest);
  if (value < 1) return false;
  *seconds = static_cast<int>(value);
  return true;
}
