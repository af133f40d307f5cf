// ANSI and wide paths on Windows.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "upload/wide_path.h"

std::wstring ToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int size = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(size, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
  return wide;
}

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

bool ToAnsi(const std::wstring& name, std::string* text) {
  text->clear();
  if (name.empty()) return true;
  const int length = static_cast<int>(name.size());
  BOOL used_default = FALSE;
  int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.data(), length, nullptr, 0,
                                 nullptr, &used_default);
  text->resize(size);
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.data(), length, &(*text)[0], size, nullptr,
                      &used_default);
  // The way back must give the same name, whatever the flag does on this system.
  return !used_default && ToWide(*text) == name;
}
