#include "net/address.h"

#include <gtest/gtest.h>

TEST(SplitHostPort, TakesADecimalPortAfterOneColonOrAfterBrackets) {
  const struct {
    const char* server;
    const char* host;
    int port;
  } cases[] = {
      {"ftp.example.com", "ftp.example.com", 21}, {"127.0.0.1:2121", "127.0.0.1", 2121},
      {"h:1", "h", 1},           {"h:65535", "h", 65535}, {"h:65536", "h:65536", 21},
      {"h:0", "h:0", 21},        {"h:", "h:", 21},        {"h:21x", "h:21x", 21},
      {"h:+21", "h:+21", 21},    {"::1", "::1", 21},      {"h:1:2", "h:1:2", 21},
      {"h:000021", "h:000021", 21},
      {"[::1]", "::1", 21},      {"[::1]:2121", "::1", 2121}, {"[::1]:", "[::1]:", 21},
      {"[::1]x", "[::1]x", 21},  {"[::1", "[::1", 21},       {"fe80::1%lo", "fe80::1%lo", 21},
      {"[h]:0", "[h]:0", 21},    {"[127.0.0.1]:21", "127.0.0.1", 21},
  };
  for (const auto& c : cases) {
    std::string host;
    int port = 21;
    SplitHostPort(c.server, &host, &port);
    EXPECT_EQ(host, c.host) << c.server;
    EXPECT_EQ(port, c.port) << c.server;
  }
}
