// Fuzzes the reading of EPSV replies.
#include <cstdlib>
#include <string>

#include "ftp/reply.h"

#define CHECK(ok) ((ok) ? void() : std::abort())

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  int port = -1;
  if (ParseExtendedPassivePort(text, &port)) {
    CHECK(port >= 1 && port <= 65535);
    // The port written back into a reply of the usual form reads the same.
    int again = -1;
    CHECK(ParseExtendedPassivePort(
              "229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|)", &again) &&
          again == port);
  }
  return 0;
}
