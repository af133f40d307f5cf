#include "net/address.h"

#include <gtest/gtest.h>

#include <cstring>

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

// The host connected to is the host checked: an address literal is parsed once, a name kept for
// the lookup, and the certificate's name is the host's without a trailing dot. Digits and dots
// are an IPv4 address in four decimal fields or nothing.
TEST(ParseHost, TellsAddressesFromNames) {
  const struct {
    const char* text;
    int family;               // 0: a name; -1: refused
    const char* certificate;  // for a name
    std::uint8_t bytes[4];    // of an IPv4 address
  } cases[] = {
      {"127.0.0.1", 4, "", {127, 0, 0, 1}},
      {"255.255.255.255", 4, "", {255, 255, 255, 255}},
      {"0.0.0.0", 4, "", {0, 0, 0, 0}},
      {"10.20.30.40", 4, "", {10, 20, 30, 40}},
      {"::1", 6, "", {}},
      {"fe80::1%1", 6, "", {}},
      {"ftp.example.test", 0, "ftp.example.test", {}},
      {"ftp.example.test.", 0, "ftp.example.test", {}},
      {"localhost", 0, "localhost", {}},
      {"h:21x", 0, "h:21x", {}},
      {"1.2.3.4 ", 0, "1.2.3.4 ", {}},  // no address: a name that no lookup finds
      {"127.1", -1, "", {}},        {"127.0.1", -1, "", {}},     {"127.000.000.010", -1, "", {}},
      {"010.0.0.1", -1, "", {}},    {"256.0.0.1", -1, "", {}},   {"1.2.3.4.5", -1, "", {}},
      {"1.2.3.", -1, "", {}},       {".1.2.3", -1, "", {}},      {"1..2.3", -1, "", {}},
      {"1.2.3.0004", -1, "", {}},   {"2130706433", -1, "", {}},  {"12345", -1, "", {}},
      {"", -1, "", {}},
  };
  for (const auto& c : cases) {
    Host host;
    const bool parsed = ParseHost(c.text, &host);
    EXPECT_EQ(parsed ? host.address.family : -1, c.family) << c.text;
    if (parsed) {
      EXPECT_EQ(CertificateName(host), c.certificate) << c.text;
    }
    if (c.family == 4) {
      EXPECT_EQ(0, std::memcmp(host.address.bytes, c.bytes, 4)) << c.text;
    }
  }
  Host zoned;
  ASSERT_TRUE(ParseHost("fe80::1%1", &zoned));
  EXPECT_EQ(zoned.address.scope, 1u);
}

// The A-label of an internationalised name is what the lookup and the certificate take.
TEST(ParseHost, TakesAnInternationalisedNameInItsAsciiForm) {
  Host host;
  ASSERT_TRUE(ParseHost("ftp.\xD0\xBF\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80.\xD1\x80\xD1\x84.", &host));
  EXPECT_EQ(host.name, "ftp.xn--e1afmkfd.xn--p1ai.");
  EXPECT_EQ(CertificateName(host), "ftp.xn--e1afmkfd.xn--p1ai");
}
