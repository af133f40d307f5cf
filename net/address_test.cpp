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

TEST(ParseDottedQuad, TakesFourDecimalFieldsOnly) {
  const struct {
    const char* text;
    bool ok;
    std::uint8_t bytes[4];
  } cases[] = {
      {"127.0.0.1", true, {127, 0, 0, 1}},   {"255.255.255.255", true, {255, 255, 255, 255}},
      {"0.0.0.0", true, {0, 0, 0, 0}},       {"10.20.30.40", true, {10, 20, 30, 40}},
      {"127.1", false, {}},                  {"127.0.1", false, {}},
      {"127.000.000.010", false, {}},        {"010.0.0.1", false, {}},
      {"256.0.0.1", false, {}},              {"1.2.3.4.5", false, {}},
      {"1.2.3.", false, {}},                 {".1.2.3", false, {}},
      {"1..2.3", false, {}},                 {"1.2.3.4 ", false, {}},
      {"1.2.3.0004", false, {}},             {"2130706433", false, {}},
      {"", false, {}},
  };
  for (const auto& c : cases) {
    std::uint8_t bytes[4] = {};
    EXPECT_EQ(ParseDottedQuad(c.text, bytes), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(0, std::memcmp(bytes, c.bytes, 4)) << c.text;
    }
  }
}

// The host connected to is the host checked: an address literal is parsed once, a name kept for
// the lookup, and the certificate's name is the host's without a trailing dot.
TEST(ParseHost, TellsAddressesFromNames) {
  const struct {
    const char* text;
    int family;                // 0: a name; -1: refused
    const char* certificate;   // for a name
  } cases[] = {
      {"127.0.0.1", 4, ""},
      {"::1", 6, ""},
      {"fe80::1%1", 6, ""},
      {"ftp.example.test", 0, "ftp.example.test"},
      {"ftp.example.test.", 0, "ftp.example.test"},
      {"localhost", 0, "localhost"},
      {"127.1", -1, ""},
      {"127.000.000.010", -1, ""},
      {"12345", -1, ""},
      {"h:21x", 0, "h:21x"},
      {"", -1, ""},
  };
  for (const auto& c : cases) {
    Host host;
    const bool parsed = ParseHost(c.text, &host);
    EXPECT_EQ(parsed ? host.address.family : -1, c.family) << c.text;
    if (parsed) {
      EXPECT_EQ(CertificateName(host), c.certificate) << c.text;
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
