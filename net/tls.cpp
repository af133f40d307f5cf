// The portable part of TLS: reading a certificate's fingerprint.
#include "net/tls.h"

#include <cctype>

bool ParseFingerprint(const std::string& text, std::string* digest) {
  std::string hex;
  for (char c : text) {
    if (c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    hex.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  if (hex.size() != 64) return false;
  digest->clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    digest->push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return true;
}
