// Directory listings on POSIX: readdir, filtered by the Windows-style wildcard mask and sorted.
// Types and dates come from the directory entry or from fstatat relative to the open directory,
// never from a lookup of the full path.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "local/listing.h"
#include "local/wildcard.h"

namespace {

LocalDate DateOf(time_t when) {
  tm local{};
  if (localtime_r(&when, &local) == nullptr) return {};
  int year = local.tm_year + 1900;
  if (year < 1980 || year > 2107) return {};
  return {year, local.tm_mon + 1, local.tm_mday};
}

ListingEntry EntryOf(int dir, const dirent& found, bool with_details) {
  ListingEntry entry;
  entry.name = found.d_name;
  if (!with_details && (found.d_type == DT_DIR || found.d_type == DT_REG)) {
    entry.is_directory = found.d_type == DT_DIR;
    return entry;
  }
  struct stat info {};
  // Links are followed, so a link to a directory is a directory; a broken link stays a file.
  if (fstatat(dir, found.d_name, &info, 0) != 0 &&
      fstatat(dir, found.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
    entry.unreadable = true;  // a directory that may be read but not searched
    return entry;
  }
  entry.is_directory = S_ISDIR(info.st_mode);
  entry.written = DateOf(info.st_mtime);
  entry.modified = info.st_mtime;
  entry.size = info.st_size;
  return entry;
}

// Without regard to ASCII case first, then by bytes, so that the order is total.
bool NameOrder(const ListingEntry& a, const ListingEntry& b) {
  int folded = CompareFoldedCase(a.name, b.name);
  return folded != 0 ? folded < 0 : a.name < b.name;
}

}  // namespace

struct Listing::State {
  std::vector<ListingEntry> entries;
  std::size_t next = 0;
  bool failed = false;
};

Listing::Listing(const LocalPath& path, const std::string& FileMask, bool with_details)
    : state_(new State) {
  if (FileMask.empty()) return;
  const std::string text = path.Text();
  DIR* dir = opendir(text.empty() ? "." : text.c_str());
  if (dir == nullptr) {
    state_->failed = true;
    return;
  }
  for (;;) {
    errno = 0;
    const dirent* found = readdir(dir);
    if (found == nullptr) {
      state_->failed = errno != 0;
      break;
    }
    if (MatchesMask(found->d_name, FileMask)) {
      state_->entries.push_back(EntryOf(dirfd(dir), *found, with_details));
    }
  }
  closedir(dir);
  // readdir's order depends on the file system; a run goes in name order, as on NTFS.
  std::sort(state_->entries.begin(), state_->entries.end(), NameOrder);
}

Listing::~Listing() = default;

bool Listing::Next(ListingEntry* entry) {
  if (state_->next >= state_->entries.size()) return false;
  *entry = std::move(state_->entries[state_->next++]);
  return true;
}

bool Listing::Failed() const { return state_->failed; }

LocalDate TodayLocalDate() { return DateOf(time(nullptr)); }

DirectoryId GetDirectoryId(const LocalPath& dir) {
  struct stat info {};
  // "dir/." names the directory itself, also when the path is empty.
  if (stat((dir.Text() + ".").c_str(), &info) != 0) return {};
  return {true, static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}
