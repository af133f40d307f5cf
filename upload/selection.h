// Which local files a run sends: the split of the local mask, the "/t" date filter, and whether a
// directory tree holds anything to send.
#ifndef VARDEK_UPLOAD_SELECTION_H_
#define VARDEK_UPLOAD_SELECTION_H_

#include <string>
#include <vector>

#include "upload/run_state.h"
#include "upload/listing.h"

#ifdef _WIN32
constexpr char kPathSeparators[] = "/:\\";
constexpr char kDirectoryJoin[] = "\\";
#else
constexpr char kPathSeparators[] = "/";
constexpr char kDirectoryJoin[] = "/";
#endif

struct SplitMask {
  std::string LocalDir;  // up to and including the last separator; may be empty
  std::string FileMask;
};
SplitMask SplitLocalMask(const std::string& mask, const char* separators = kPathSeparators);

bool IsTodayFile(const ListingEntry& entry, const LocalDate& today);
bool IsTodayFile(const ListingEntry& entry);

// Names beginning with "." (., .. and hidden files) are never used.
bool IsUsable(const ListingEntry& entry);
bool IsEligibleFile(const RunState& run, const ListingEntry& entry);

// The local directories from the top of the walk down to the current one. A link that leads back
// to one of them is not entered again, so a looping tree cannot recurse without end.
class DirectoryChain {
 public:
  // False, and nothing changes, when LocalDir is already on the chain.
  bool Enter(const std::string& LocalDir);
  void Leave() { ids_.pop_back(); }

 private:
  std::vector<DirectoryId> ids_;
};

// Whether LocalDir holds an eligible file matching FileMask, or (with "/s") a matching
// subdirectory does, however deep. Sends nothing and writes nothing.
bool HasEligibleFiles(const RunState& run, const std::string& LocalDir, const std::string& FileMask,
                      DirectoryChain& chain);

#endif  // VARDEK_UPLOAD_SELECTION_H_
