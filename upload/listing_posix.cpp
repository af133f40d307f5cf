// Directory listings on POSIX: readdir, filtered by the Windows-style wildcard mask and sorted.
#include <dirent.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "upload/listing.h"
#include "upload/wildcard.h"

namespace {

LocalDate DateOf(time_t when) {
  tm local{};
  if (localtime_r(&when, &local) == nullptr) return {};
  int year = local.tm_year + 1900;
  if (year < 1980 || year > 2107) return {};
  return {year, local.tm_mon + 1, local.tm_mday};
}

ListingEntry EntryOf(const std::string& LocalDir, const char* name) {
  const std::string path = LocalDir + name;
  struct stat info {};
  // stat follows links, so a link to a directory is a directory; a broken link stays a file.
  if (stat(path.c_str(), &info) != 0 && lstat(path.c_str(), &info) != 0) info = {};
  ListingEntry entry;
  entry.name = name;
  entry.is_directory = S_ISDIR(info.st_mode);
  entry.written = DateOf(info.st_mtime);
  return entry;
}

// Without regard to ASCII case first, then by bytes, so that the order is total.
bool NameOrder(const ListingEntry& a, const ListingEntry& b) {
  return std::make_pair(FoldCase(a.name), a.name) < std::make_pair(FoldCase(b.name), b.name);
}

}  // namespace

struct Listing::State {
  std::vector<ListingEntry> entries;
  std::size_t next = 0;
};

Listing::Listing(const std::string& LocalDir, const std::string& FileMask) : state_(new State) {
  // An empty mask names no file, as on Windows.
  DIR* dir = FileMask.empty() ? nullptr : opendir(LocalDir.empty() ? "." : LocalDir.c_str());
  if (dir == nullptr) return;
  while (dirent* found = readdir(dir)) {
    if (MatchesMask(found->d_name, FileMask)) state_->entries.push_back(EntryOf(LocalDir, found->d_name));
  }
  closedir(dir);
  // readdir's order depends on the file system; a run goes in name order, as on NTFS.
  std::sort(state_->entries.begin(), state_->entries.end(), NameOrder);
}

Listing::~Listing() = default;

bool Listing::Next(ListingEntry* entry) {
  if (state_->next >= state_->entries.size()) return false;
  *entry = state_->entries[state_->next++];
  return true;
}

LocalDate TodayLocalDate() { return DateOf(time(nullptr)); }

DirectoryId GetDirectoryId(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return {};
  return {true, static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}
