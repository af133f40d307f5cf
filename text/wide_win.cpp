// UTF-8, UTF-16 and code pages on Windows.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "text/wide.h"

std::wstring ToWide(const std::string& text) { return FromCodePage(text, CP_UTF8); }

bool ToUtf8(const std::wstring& text, std::string* utf8) {
  utf8->clear();
  if (text.empty()) return true;
  const int length = static_cast<int>(text.size());
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  utf8->resize(size > 0 ? size : 0);
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, &(*utf8)[0], size, nullptr, nullptr);
  }
  // A lone surrogate comes out as U+FFFD: the way back gives another name.
  return size > 0 && ToWide(*utf8) == text;
}

std::string ToCodePage(const std::wstring& text, unsigned code_page, bool* exact) {
  if (exact != nullptr) *exact = true;
  if (text.empty()) return std::string();
  const int length = static_cast<int>(text.size());
  BOOL used_default = FALSE;
  const DWORD flags = WC_NO_BEST_FIT_CHARS;
  int size = WideCharToMultiByte(code_page, flags, text.data(), length, nullptr, 0, nullptr,
                                 &used_default);
  std::string converted(size > 0 ? size : 0, '\0');
  if (size > 0) {
    WideCharToMultiByte(code_page, flags, text.data(), length, &converted[0], size, nullptr,
                        &used_default);
  }
  // The way back must give the same text, whatever the flag does on this system.
  if (exact != nullptr) {
    *exact = size > 0 && !used_default && FromCodePage(converted, code_page) == text;
  }
  return converted;
}

std::wstring FromCodePage(const std::string& text, unsigned code_page) {
  if (text.empty()) return std::wstring();
  const int length = static_cast<int>(text.size());
  int size = MultiByteToWideChar(code_page, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring wide(size, L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), length, &wide[0], size);
  return wide;
}
