// Reading a server's name, port and host.
#include "net/address.h"

#include <algorithm>
#include <cstdlib>

#include "net/idn.h"

namespace {

// A decimal port from 1 to 65535, nothing else.
bool ReadPort(const std::string& digits, int* port) {
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  int value = std::atoi(digits.c_str());
  if (value < 1 || value > 65535) return false;
  *port = value;
  return true;
}

bool IsDigitsAndDots(const std::string& text) {
  return text.find_first_not_of("0123456789.") == std::string::npos;
}

// Four decimal fields from 0 to 255 without leading zeros: the one IPv4 form taken. The C
// library would read 127.1 as 127.0.0.1 and 127.000.000.010 as octal, while a certificate check
// reads the same text as decimal: the host connected to would not be the host checked.
bool ParseDottedQuad(const std::string& text, std::uint8_t bytes[4]) {
  std::size_t at = 0;
  for (int field = 0; field < 4; ++field) {
    if (field > 0 && (at >= text.size() || text[at++] != '.')) return false;
    std::size_t end = at;
    while (end < text.size() && end - at < 4 && text[end] >= '0' && text[end] <= '9') ++end;
    const std::string digits = text.substr(at, end - at);
    if (digits.empty() || digits.size() > 3 || (digits.size() > 1 && digits[0] == '0')) {
      return false;
    }
    int value = std::atoi(digits.c_str());
    if (value > 255) return false;
    bytes[field] = static_cast<std::uint8_t>(value);
    at = end;
  }
  return at == text.size();
}

}  // namespace

void SplitHostPort(const std::string& server, std::string* host, int* port) {
  *host = server;
  // "[::1]" and "[::1]:2121": the brackets that URLs put around an IPv6 address.
  if (server.compare(0, 1, "[") == 0) {
    std::size_t close = server.find(']');
    if (close == std::string::npos) return;
    const std::string rest = server.substr(close + 1);
    if (rest.empty() || (rest[0] == ':' && ReadPort(rest.substr(1), port))) {
      *host = server.substr(1, close - 1);
    }
    return;
  }
  // With more than one colon the whole text is an IPv6 address, such as "::1".
  if (std::count(server.begin(), server.end(), ':') != 1) return;
  std::size_t colon = server.find(':');
  if (ReadPort(server.substr(colon + 1), port)) *host = server.substr(0, colon);
}

bool ParseHost(const std::string& text, Host* host) {
  *host = Host();
  if (text.empty()) return false;
  if (IsDigitsAndDots(text)) {
    host->address.family = 4;
    return ParseDottedQuad(text, host->address.bytes);
  }
  // What is no IPv6 literal either is a name, which no lookup will find (h:21x): the connection
  // stage reports it.
  if (text.find(':') != std::string::npos && sockets::NumericAddress(text, &host->address)) {
    return true;
  }
  const bool ascii =
      std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
  if (!ascii) return ToAsciiHostName(text, &host->name);
  host->name = text;
  return true;
}

std::string CertificateName(const Host& host) {
  if (host.IsAddress() || host.name.empty() || host.name.back() != '.') return host.name;
  return host.name.substr(0, host.name.size() - 1);
}
