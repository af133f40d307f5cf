// Reading a server's name and port.
#include "net/address.h"

#include <algorithm>
#include <cstdlib>

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
