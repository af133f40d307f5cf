// Console output on Windows: messages are ANSI (Windows-1251) text, the console shows OEM text.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "upload/console.h"

std::string ToConsoleText(const std::string& text) {
  std::string converted = text;
  converted.push_back('\0');
  CharToOemA(&converted[0], &converted[0]);
  converted.pop_back();
  return converted;
}

bool StdoutIsCharacterDevice() {
  return GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR;
}

void WriteStdout(const char* data, std::size_t size) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(out, data, static_cast<DWORD>(size), &written, nullptr) || written == 0) return;
    data += written;
    size -= written;
  }
}
