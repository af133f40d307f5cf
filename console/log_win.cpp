// The log file on Windows: FILE_APPEND_DATA, so that two runs' lines never overwrite each other,
// and LockFileEx on one byte far beyond any end of the file, which appends never touch and which
// the system drops with the process.
#include <windows.h>

#include <cstdio>

#include "console/log.h"
#include "text/wide.h"

namespace {

HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

bool LockFarByte(HANDLE file) {
  OVERLAPPED where = {};
  where.OffsetHigh = 0x7FFFFFFF;
  return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where);
}

}  // namespace

RunLog::Opened RunLog::Open(const std::string& path) {
  Close();
  const HANDLE file = CreateFileW(ToWide(path).c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Opened::kFailed;
  handle_ = reinterpret_cast<std::intptr_t>(file);
  if (LockFarByte(file)) return Opened::kOpen;
  const DWORD error = GetLastError();
  return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? Opened::kBusy
                                                                    : Opened::kFailed;
}

bool RunLog::Append(const std::string& bytes) {
  DWORD wrote = 0;
  return WriteFile(Handle(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &wrote,
                   nullptr) &&
         wrote == bytes.size();
}

void RunLog::Close() {
  if (handle_ != -1) CloseHandle(Handle(handle_));
  handle_ = -1;
}

std::string LocalTimeStamp() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u ", now.wYear, now.wMonth,
                now.wDay, now.wHour, now.wMinute, now.wSecond);
  return text;
}
