// The portable part of TLS: reading a certificate's fingerprint.
#include "net/tls.h"

#include <cctype>

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trimmed(const std::string& text) {
  const char* blanks = " \t\r\n";
  std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

bool ParseFingerprint(const std::string& text, std::string* digest) {
  std::string value = Trimmed(text);
  // What the openssl command prints, pasted whole.
  const std::string label = "sha256 fingerprint=";
  if (Lower(value.substr(0, label.size())) == label) value = Trimmed(value.substr(label.size()));
  std::string hex;
  for (char c : value) {
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
