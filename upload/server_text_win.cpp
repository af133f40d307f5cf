// Names on the control connection on Windows: UTF-8 with "/u", else the ANSI code page.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "upload/server_text.h"
#include "upload/wide_path.h"

std::string ToServerText(const std::string& text, bool utf8) {
  return utf8 ? text : ToCodePage(ToWide(text), CP_ACP);
}

std::string FromServerText(const std::string& text, bool utf8) {
  if (utf8) return text;
  std::string converted;
  ToUtf8(FromCodePage(text, CP_ACP), &converted);
  return converted;
}

bool FitsServerText(const std::string& name, bool utf8) {
  bool exact = true;
  if (!utf8) ToCodePage(ToWide(name), CP_ACP, &exact);
  return exact;
}
