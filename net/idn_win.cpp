// Internationalised host names on Windows: IdnToAscii (IDNA 2008 on Windows 8 and later).
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "net/idn.h"

bool ToAsciiHostName(const std::string& name, std::string* ascii) {
  const int size = static_cast<int>(name.size());
  wchar_t wide[256];
  wchar_t converted[256];
  int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), size, wide, 255);
  if (length <= 0) return false;
  length = IdnToAscii(0, wide, length, converted, 255);
  if (length <= 0) return false;
  // The A-label form is ASCII by definition.
  ascii->assign(converted, converted + length);
  return true;
}
