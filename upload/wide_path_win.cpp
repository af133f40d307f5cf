// UTF-8, UTF-16, code pages and long paths on Windows.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "upload/wide_path.h"

namespace {

bool EndsInSeparator(const std::wstring& path) {
  return !path.empty() && (path.back() == L'\\' || path.back() == L'/' || path.back() == L':');
}

// The typed directory: an empty one (a bare mask) is the current directory.
std::wstring ResolvedDirectory(const std::string& typed) {
  std::wstring wide = ToWide(typed.empty() ? ".\\" : typed);
  // GetFullPathNameW resolves "d:", "..", forward slashes and the current directory, and has no
  // MAX_PATH limit; the "\\?\" form that follows is taken as it stands.
  DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return wide;
  std::wstring full(size, L'\0');
  size = GetFullPathNameW(wide.c_str(), size, &full[0], nullptr);
  full.resize(size);
  if (EndsInSeparator(wide) && !EndsInSeparator(full)) full += L'\\';
  if (full.compare(0, 4, L"\\\\?\\") == 0) return full;
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

}  // namespace

std::wstring LongPath(const LocalPath& dir, const std::string& name) {
  return ResolvedDirectory(dir.typed) + ToWide(dir.below + name);
}

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
