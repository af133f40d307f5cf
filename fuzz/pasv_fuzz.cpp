// Fuzzes the reading of PASV replies and of their integer fields.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ftp/reply.h"

#define CHECK(ok) ((ok) ? void() : std::abort())

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  int port = -1;
  if (ParsePassivePort(text, &port)) {
    CHECK(port >= 0 && port <= 65535);
    // The port written back into a reply of vsftpd's form reads the same.
    int again = -1;
    CHECK(ParsePassivePort("227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) +
                               "," + std::to_string(port % 256) + ").",
                           &again) &&
          again == port);
  }
  std::int64_t value = 0;
  if (ParseInteger(text, &value)) {
    CHECK(value >= INT32_MIN && value <= INT32_MAX);
    std::int64_t again = 0;
    CHECK(ParseInteger(std::to_string(value), &again) && again == value);
    // An accepted decimal text is what strtoll reads in it.
    if (text.find_first_of("$xX") == std::string::npos) {
      CHECK(value == std::strtoll(text.c_str(), nullptr, 10));
    }
  }
  return 0;
}
