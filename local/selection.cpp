// Local file selection and the pre-scan.
#include "local/selection.h"

#include <utility>

#include "local/wildcard.h"
#include "text/encoding.h"

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

bool MatchesAnyMask(const std::string& name, const std::vector<std::string>& masks) {
  for (const std::string& mask : masks) {
    if (MatchesMask(name, mask)) return true;
  }
  return false;
}

bool IsNameless(const SelectionRules& rules, const ListingEntry& entry) {
  return entry.unnamed || (!rules.Utf8Names && !HasNarrowForm(entry.name));
}

bool IsEligibleFile(const SelectionRules& rules, const ListingEntry& entry) {
  return IsUsable(entry) && !entry.is_directory && !entry.unreadable && !IsNameless(rules, entry) &&
         (!rules.TodayOnly || IsTodayFile(entry));
}

bool IsUnusable(const SelectionRules& rules, const ListingEntry& entry) {
  if (!IsUsable(entry)) return false;
  if (entry.unreadable) return true;
  if (!IsNameless(rules, entry)) return false;
  return entry.is_directory ? rules.Recurse : !rules.TodayOnly || IsTodayFile(entry);
}

bool ReadDirectory(const SelectionRules& rules, const LocalPath& dir, const std::string& FileMask,
                   std::vector<ListingEntry>* entries, std::vector<ListingEntry>* excluded) {
  // Dates and sizes cost a call per entry on some platforms.
  Listing listing(dir, FileMask, rules.Details);
  ListingEntry entry;
  while (listing.Next(&entry)) {
    if (!IsUsable(entry)) continue;
    if (!MatchesAnyMask(entry.name, rules.Excludes)) {
      entries->push_back(std::move(entry));
    } else if (excluded != nullptr) {
      excluded->push_back(std::move(entry));
    }
  }
  return !listing.Failed();
}

bool DirectoryChain::Enter(const LocalPath& dir) {
  DirectoryId id = GetDirectoryId(dir);
  for (const DirectoryId& open : ids_) {
    if (id.known && open.known && id.volume == open.volume && id.file == open.file) return false;
  }
  ids_.push_back(id);
  return true;
}

bool TreeScan::Take(const LocalPath& dir, TreeContent* content) {
  auto found = known_.find(dir.Text());
  if (found == known_.end()) return false;
  *content = found->second;
  known_.erase(found);
  return true;
}

TreeContent TreeScan::ContentOf(const LocalPath& dir, const std::vector<ListingEntry>& entries,
                                DirectoryChain& chain) {
  TreeContent content;
  // The files first: they need no further listing.
  for (const ListingEntry& entry : entries) {
    if (IsEligibleFile(rules_, entry)) return {true, false};
    content.failed = content.failed || IsUnusable(rules_, entry);
  }
  if (!rules_.Recurse) return content;
  for (const ListingEntry& entry : entries) {
    if (!entry.is_directory || IsNameless(rules_, entry)) continue;
    const LocalPath subdir = dir.Child(entry.name);
    if (!chain.Enter(subdir)) continue;
    TreeContent below = Scan(subdir, chain);
    chain.Leave();
    if (below.eligible) return {true, false};
    content.failed = content.failed || below.failed;
  }
  return content;
}

TreeContent TreeScan::Scan(const LocalPath& dir, DirectoryChain& chain) {
  auto found = known_.find(dir.Text());
  if (found != known_.end()) return found->second;
  std::vector<ListingEntry> entries;
  TreeContent content{false, true};
  if (ReadDirectory(rules_, dir, mask_, &entries)) content = ContentOf(dir, entries, chain);
  known_[dir.Text()] = content;
  return content;
}
