// Long paths on Windows.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "local/wide_path.h"
#include "text/wide.h"

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
