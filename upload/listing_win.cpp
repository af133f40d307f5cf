// Directory listings on Windows: FindFirstFileW on the "\\?\" form of the path, with the
// platform's own wildcard matching, so that paths of any length can be listed.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "upload/listing.h"
#include "upload/wide_path.h"

namespace {

LocalDate DateOf(const FILETIME& written) {
  FILETIME local;
  WORD date = 0;
  WORD time = 0;
  if (!FileTimeToLocalFileTime(&written, &local) || !FileTimeToDosDateTime(&local, &date, &time)) {
    return {};
  }
  return {(date >> 9) + 1980, (date >> 5) & 15, date & 31};
}

bool IsDirectory(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

struct Listing::State {
  HANDLE find = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW data{};
  bool pending = false;  // FindFirstFileW's entry is still to be handed out
  bool failed = false;
};

Listing::Listing(const std::string& LocalDir, const std::string& FileMask, bool)
    : state_(new State) {
  if (FileMask.empty()) return;
  const std::wstring dir = LongPath(LocalDir);
  state_->find = FindFirstFileW((dir + ToWide(FileMask)).c_str(), &state_->data);
  state_->pending = state_->find != INVALID_HANDLE_VALUE;
  if (state_->pending) return;
  // No entry matching is an empty listing, but only in a directory that is there.
  DWORD error = GetLastError();
  state_->failed =
      (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES) || !IsDirectory(dir);
}

Listing::~Listing() {
  if (state_->find != INVALID_HANDLE_VALUE) FindClose(state_->find);
}

bool Listing::Next(ListingEntry* entry) {
  if (state_->find == INVALID_HANDLE_VALUE) return false;
  if (!state_->pending && !FindNextFileW(state_->find, &state_->data)) {
    state_->failed = GetLastError() != ERROR_NO_MORE_FILES;
    return false;
  }
  state_->pending = false;
  entry->unnamed = !ToAnsi(state_->data.cFileName, &entry->name);
  entry->is_directory = (state_->data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  entry->written = DateOf(state_->data.ftLastWriteTime);
  entry->unreadable = false;
  return true;
}

bool Listing::Failed() const { return state_->failed; }

LocalDate TodayLocalDate() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay};
}

DirectoryId GetDirectoryId(const std::string& path) {
  HANDLE handle =
      CreateFileW(LongPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  BY_HANDLE_FILE_INFORMATION info;
  DirectoryId id;
  // Some network file systems give every file the index 0: that says nothing of identity.
  if (GetFileInformationByHandle(handle, &info) && (info.nFileIndexHigh | info.nFileIndexLow)) {
    id = {true, info.dwVolumeSerialNumber,
          (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  }
  CloseHandle(handle);
  return id;
}
