// Windows: the ANSI code page, as Windows programs always sent names.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "text/encoding.h"
#include "text/wide.h"

std::string ToNarrow(const std::string& text) { return ToCodePage(ToWide(text), CP_ACP); }

std::string FromNarrow(const std::string& text) {
  std::string converted;
  ToUtf8(FromCodePage(text, CP_ACP), &converted);
  return converted;
}

bool HasNarrowForm(const std::string& text) {
  bool exact = true;
  ToCodePage(ToWide(text), CP_ACP, &exact);
  return exact;
}
