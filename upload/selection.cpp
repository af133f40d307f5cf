// Local file selection.
#include "upload/selection.h"

#include <cstring>

SplitMask SplitLocalMask(const std::string& mask, const char* separators) {
  std::size_t last = mask.find_last_of(separators);
  if (last == std::string::npos) return {"", mask};
  return {mask.substr(0, last + 1), mask.substr(last + 1)};
}

bool IsTodayFile(const ListingEntry& entry, const LocalDate& today) {
  const LocalDate& date = entry.written;
  return date.year != 0 && date.year == today.year && date.month == today.month &&
         date.day == today.day;
}

bool IsTodayFile(const ListingEntry& entry) { return IsTodayFile(entry, TodayLocalDate()); }

bool IsUsable(const ListingEntry& entry) { return entry.name.compare(0, 1, ".") != 0; }

bool IsEligibleFile(const RunState& run, const ListingEntry& entry) {
  return IsUsable(entry) && !entry.is_directory && (!run.TodayOnly || IsTodayFile(entry));
}

bool DirectoryChain::Enter(const std::string& LocalDir) {
  // "dir/." names the directory itself, also when LocalDir is empty or a bare drive ("d:").
  DirectoryId id = GetDirectoryId(LocalDir + ".");
  for (const DirectoryId& open : ids_) {
    if (id.known && open.known && id.volume == open.volume && id.file == open.file) return false;
  }
  ids_.push_back(id);
  return true;
}

bool HasEligibleFiles(const RunState& run, const std::string& LocalDir, const std::string& FileMask,
                      DirectoryChain& chain) {
  Listing listing(LocalDir, FileMask);
  ListingEntry entry;
  while (listing.Next(&entry)) {
    if (!entry.is_directory) {
      if (IsEligibleFile(run, entry)) return true;
      continue;
    }
    if (!run.Recurse || !IsUsable(entry)) continue;
    const std::string subdir = LocalDir + entry.name + kDirectoryJoin;
    if (!chain.Enter(subdir)) continue;
    bool found = HasEligibleFiles(run, subdir, FileMask, chain);
    chain.Leave();
    if (found) return true;
  }
  return false;
}
