// Reading a server's name and port.
#include "net/address.h"

#include <cstdlib>

void SplitHostPort(const std::string& server, std::string* host, int* port) {
  *host = server;
  std::size_t colon = server.find(':');
  if (colon == std::string::npos || server.find(':', colon + 1) != std::string::npos) return;
  const std::string digits = server.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return;
  }
  int value = std::atoi(digits.c_str());
  if (value < 1 || value > 65535) return;
  *host = server.substr(0, colon);
  *port = value;
}
