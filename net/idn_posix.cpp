// Internationalised host names on Linux: libidn2, which the C library's own lookup of such names
// (AI_IDN) loads too, loaded only for a host name that is not ASCII.
#include <dlfcn.h>

#include "net/idn.h"

namespace {

// From idn2.h: normalise to NFC first, and IDNA 2008 without the transitional mappings.
constexpr int kNfcInput = 1;
constexpr int kNonTransitional = 8;
using ToAscii = int (*)(const char* input, char** output, int flags);
using Free = void (*)(void* pointer);

}  // namespace

bool ToAsciiHostName(const std::string& name, std::string* ascii) {
  static void* library = dlopen("libidn2.so.0", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return false;
  auto to_ascii = reinterpret_cast<ToAscii>(dlsym(library, "idn2_to_ascii_8z"));
  auto release = reinterpret_cast<Free>(dlsym(library, "idn2_free"));
  if (to_ascii == nullptr || release == nullptr) return false;
  const bool rooted = name.back() == '.';
  const std::string labels = rooted ? name.substr(0, name.size() - 1) : name;
  char* converted = nullptr;
  if (to_ascii(labels.c_str(), &converted, kNfcInput | kNonTransitional) != 0) return false;
  *ascii = std::string(converted) + (rooted ? "." : "");
  release(converted);
  return true;
}
