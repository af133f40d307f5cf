// Directory listings on Windows: FindFirstFileA with the platform's own wildcard matching.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "upload/listing.h"

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

}  // namespace

struct Listing::State {
  HANDLE find = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAA data{};
  bool pending = false;  // FindFirstFileA's entry is still to be handed out
};

Listing::Listing(const std::string& LocalDir, const std::string& FileMask) : state_(new State) {
  state_->find = FindFirstFileA((LocalDir + FileMask).c_str(), &state_->data);
  state_->pending = state_->find != INVALID_HANDLE_VALUE;
}

Listing::~Listing() {
  if (state_->find != INVALID_HANDLE_VALUE) FindClose(state_->find);
}

bool Listing::Next(ListingEntry* entry) {
  if (state_->find == INVALID_HANDLE_VALUE) return false;
  if (!state_->pending && !FindNextFileA(state_->find, &state_->data)) return false;
  state_->pending = false;
  entry->name = state_->data.cFileName;
  entry->is_directory = (state_->data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  entry->written = DateOf(state_->data.ftLastWriteTime);
  return true;
}

LocalDate TodayLocalDate() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay};
}

DirectoryId GetDirectoryId(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  BY_HANDLE_FILE_INFORMATION info;
  DirectoryId id;
  if (GetFileInformationByHandle(handle, &info)) {
    id = {true, info.dwVolumeSerialNumber,
          (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  }
  CloseHandle(handle);
  return id;
}
