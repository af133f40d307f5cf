#include "net/tls.h"

#include <gtest/gtest.h>

TEST(ParseFingerprint, TakesWhatOpensslPrints) {
  const std::string hex =
      "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:"
      "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89";
  const struct {
    std::string text;
    bool ok;
  } cases[] = {
      {hex, true},
      {"sha256 Fingerprint=" + hex, true},  // OpenSSL 3
      {"SHA256 Fingerprint=" + hex, true},  // OpenSSL 1.1
      {"  sha256 Fingerprint=" + hex + "\n", true},
      {"abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789", true},
      {"sha1 Fingerprint=" + hex, false},
      {"Fingerprint=" + hex, false},
      {hex.substr(3), false},
      {hex + ":00", false},
      {"AB:CD", false},
      {"", false},
  };
  for (const auto& c : cases) {
    std::string digest;
    EXPECT_EQ(ParseFingerprint(c.text, &digest), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(digest.size(), 32u) << c.text;
    }
  }
}
