// Which local files a run sends: the split of the local mask, the "/t" date filter, the entries of
// a directory that count, and the pre-scan that tells whether a directory tree holds anything for
// the walk.
#ifndef VARDEK_LOCAL_SELECTION_H_
#define VARDEK_LOCAL_SELECTION_H_

#include <string>
#include <unordered_map>
#include <vector>

#include "local/listing.h"

// What the command line says about which files count.
struct SelectionRules {
  bool TodayOnly = false;  // "/t"
  bool Recurse = false;    // "/s"
  bool Utf8Names = false;  // "/u": names go to the server in UTF-8, so any UTF-8 name can be sent
  bool Details = false;    // dates and sizes are read ("/t" and "/d" need them)
  std::vector<std::string> Excludes;  // "/x": masks of names left alone
};

struct SplitMask {
  std::string LocalDir;  // up to and including the last separator; may be empty
  std::string FileMask;
};
SplitMask SplitLocalMask(const std::string& mask, const char* separators = kPathSeparators);

bool IsTodayFile(const ListingEntry& entry, const LocalDate& today);
bool IsTodayFile(const ListingEntry& entry);

// Names beginning with "." (., .. and hidden files) are never used.
bool IsUsable(const ListingEntry& entry);
// Whether the name matches one of the masks, as the local mask matches.
bool MatchesAnyMask(const std::string& name, const std::vector<std::string>& masks);
// A name that no command can give exactly: not UTF-8, or without "/u" not in the code page that
// the Windows build sends names in.
bool IsNameless(const SelectionRules& rules, const ListingEntry& entry);
bool IsEligibleFile(const SelectionRules& rules, const ListingEntry& entry);
// An entry that the run would use but cannot: its name or its type cannot be read. It is
// reported, never skipped in silence.
bool IsUnusable(const SelectionRules& rules, const ListingEntry& entry);

// The usable entries of the directory that match FileMask, in listing order, and apart those
// that an exclude matches; false when the directory could not be listed.
bool ReadDirectory(const SelectionRules& rules, const LocalPath& dir, const std::string& FileMask,
                   std::vector<ListingEntry>* entries,
                   std::vector<ListingEntry>* excluded = nullptr);

// The local directories from the top of the walk down to the current one. A link that leads back
// to one of them is not entered again, so a looping tree cannot recurse without end.
class DirectoryChain {
 public:
  // False, and nothing changes, when the directory is already on the chain.
  bool Enter(const LocalPath& dir);
  void Leave() { ids_.pop_back(); }

 private:
  std::vector<DirectoryId> ids_;
};

// What a local directory tree holds for the walk.
struct TreeContent {
  bool eligible = false;  // a file to send, here or (with "/s") in a matching subdirectory
  bool failed = false;    // something here or below that cannot be read, to be reported
};

// The pre-scan of one run: sends nothing and writes nothing. Each directory is listed at most
// once, and its answer kept until the walk takes it, so that what is kept at a time is only what
// lies ahead of the walk.
class TreeScan {
 public:
  TreeScan(const SelectionRules& rules, const std::string& FileMask)
      : rules_(rules), mask_(FileMask) {}

  // The answer for the directory, when a scan has given one; it is forgotten then.
  bool Take(const LocalPath& dir, TreeContent* content);
  // The content of the directory, whose entries the caller has read. The search stops at the
  // first eligible file, however deep.
  TreeContent ContentOf(const LocalPath& dir, const std::vector<ListingEntry>& entries,
                        DirectoryChain& chain);

 private:
  TreeContent Scan(const LocalPath& dir, DirectoryChain& chain);

  const SelectionRules rules_;
  const std::string mask_;
  std::unordered_map<std::string, TreeContent> known_;
};

#endif  // VARDEK_LOCAL_SELECTION_H_
