// Local file reading on Windows; the sharing mode matches the legacy compatibility mode, so a
// file that another program has locked against reading is refused.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "local/local_file.h"
#include "local/wide_path.h"

bool LocalFile::Open(const LocalPath& dir, const std::string& name) {
  Close();
  HANDLE file =
      CreateFileW(LongPath(dir, name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
    CloseHandle(file);
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  size_ = size.QuadPart;
  return true;
}

int LocalFile::Read(char* buffer, int size) {
  DWORD got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, static_cast<DWORD>(size), &got,
                nullptr)) {
    return -1;
  }
  return static_cast<int>(got);
}

bool LocalFile::Seek(std::int64_t offset) {
  LARGE_INTEGER at{};
  at.QuadPart = offset;
  return SetFilePointerEx(reinterpret_cast<HANDLE>(handle_), at, nullptr, FILE_BEGIN) != 0;
}

void LocalFile::Close() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}
