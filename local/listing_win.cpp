// Directory listings on Windows: FindFirstFileW on the "\\?\" form of the path, so that paths of
// any length can be listed. Every entry is listed and matched by its long name here: the
// system's own matching also matches the 8.3 short names (INDEX~1.HTM for "*.htm"), which a
// volume may or may not have.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "local/listing.h"
#include "local/wide_path.h"
#include "local/wildcard.h"
#include "text/wide.h"

namespace {

// The local date at the instant of the write, with the daylight saving rule of that instant:
// the offset in force now would move a file written in the hour of a change to another day.
LocalDate DateOf(const FILETIME& written) {
  SYSTEMTIME utc;
  SYSTEMTIME local;
  if (!FileTimeToSystemTime(&written, &utc) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) || local.wYear < 1980 ||
      local.wYear > 2107) {
    return {};
  }
  return {local.wYear, local.wMonth, local.wDay};
}

// The directory itself: "\\?\C:\site", without the separator that only a root keeps.
std::wstring DirectoryItself(const LocalPath& dir) {
  std::wstring path = LongPath(dir);
  if (path.size() > 1 && path.back() == L'\\' && path[path.size() - 2] != L':') path.pop_back();
  return path;
}

bool IsDirectory(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// FILETIME counts 100 ns since 1601, in UTC already.
std::int64_t SecondsSince1970(const FILETIME& time) {
  const std::int64_t ticks = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  return ticks / 10000000 - 11644473600LL;
}

ListingEntry EntryOf(const WIN32_FIND_DATAW& data) {
  ListingEntry entry;
  entry.unnamed = !ToUtf8(data.cFileName, &entry.name);
  entry.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  entry.written = DateOf(data.ftLastWriteTime);
  entry.modified = SecondsSince1970(data.ftLastWriteTime);
  entry.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                         data.nFileSizeLow);
  return entry;
}

// An entry with its name as the file system has it, for the order.
struct Found {
  std::wstring name;
  ListingEntry entry;
};

// NTFS's own order (its names compared ordinally, without regard to case), whatever the order
// of the volume at hand.
bool NameOrder(const Found& a, const Found& b) {
  int order = CompareStringOrdinal(a.name.c_str(), -1, b.name.c_str(), -1, TRUE);
  return order != CSTR_EQUAL ? order == CSTR_LESS_THAN : a.name < b.name;
}

}  // namespace

struct Listing::State {
  std::vector<Found> entries;
  std::size_t next = 0;
  bool failed = false;
};

Listing::Listing(const LocalPath& dir, const std::string& FileMask, bool) : state_(new State) {
  if (FileMask.empty()) return;
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW((LongPath(dir) + L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    // No entry at all is an empty listing, but only in a directory that is there.
    DWORD error = GetLastError();
    state_->failed = (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES) ||
                     !IsDirectory(DirectoryItself(dir));
    return;
  }
  do {
    ListingEntry entry = EntryOf(data);
    if (MatchesMask(entry.name, FileMask)) state_->entries.push_back({data.cFileName, entry});
  } while (FindNextFileW(find, &data));
  state_->failed = GetLastError() != ERROR_NO_MORE_FILES;
  FindClose(find);
  std::sort(state_->entries.begin(), state_->entries.end(), NameOrder);
}

Listing::~Listing() = default;

bool Listing::Next(ListingEntry* entry) {
  if (state_->next >= state_->entries.size()) return false;
  *entry = std::move(state_->entries[state_->next++].entry);
  return true;
}

bool Listing::Failed() const { return state_->failed; }

LocalDate TodayLocalDate() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay};
}

DirectoryId GetDirectoryId(const LocalPath& dir) {
  HANDLE handle = CreateFileW(DirectoryItself(dir).c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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
