// Console output on Windows: a console gets real characters; a file or pipe gets the OEM code
// page's bytes on a Russian system, as always, and UTF-8 elsewhere.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "console/console.h"
#include "text/wide.h"

namespace {

constexpr UINT kRussianOem = 866;

// False where standard output is no console (a file, a pipe, NUL, a terminal of another kind).
bool WriteConsoleWide(const std::wstring& text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(out, &mode)) return false;
  const wchar_t* at = text.data();
  DWORD left = static_cast<DWORD>(text.size());
  while (left > 0) {
    DWORD written = 0;
    if (!WriteConsoleW(out, at, left, &written, nullptr) || written == 0) break;
    at += written;
    left -= written;
  }
  return true;
}

}  // namespace

// On a Russian system the bytes of old: the text in the ANSI code page (1251, in which the
// program's messages always were), converted by CharToOemA. Elsewhere the OEM code page cannot
// hold Cyrillic, and UTF-8 is what Notepad and PowerShell read.
std::string ToConsoleText(const std::string& text) {
  if (GetOEMCP() != kRussianOem) return text;
  std::string converted = ToCodePage(ToWide(text), CP_ACP);
  converted.push_back('\0');
  CharToOemA(&converted[0], &converted[0]);
  converted.pop_back();
  return converted;
}

bool StdoutIsCharacterDevice() {
  return GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR;
}

bool WriteConsoleText(const std::string& text) { return WriteConsoleWide(ToWide(text)); }

void WriteStdout(const char* data, std::size_t size) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(out, data, static_cast<DWORD>(size), &written, nullptr) || written == 0) return;
    data += written;
    size -= written;
  }
}

// A console of any Windows: the old line overwritten with the new one and blanks, the cursor
// left at its start, where the next message begins.
bool WriteStatusLine(const std::string& text, std::size_t shown) {
  std::wstring line = L"\r" + ToWide(text);
  if (line.size() - 1 < shown) line.append(shown - (line.size() - 1), L' ');
  line += L"\r";
  return WriteConsoleWide(line);
}
