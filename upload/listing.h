// One local directory listing, as the platform gives it, and the identity of a local directory.
// listing_posix.cpp and listing_win.cpp implement it.
#ifndef VARDEK_UPLOAD_LISTING_H_
#define VARDEK_UPLOAD_LISTING_H_

#include <cstdint>
#include <memory>
#include <string>

// A calendar date in local time; year 0 when the time has no valid date (DOS dates run from
// 1980 to 2107).
struct LocalDate {
  int year = 0;
  int month = 0;
  int day = 0;
};

struct ListingEntry {
  std::string name;
  bool is_directory = false;  // a link to a directory counts as one
  LocalDate written;          // of the last write
};

// The entries that match LocalDir + FileMask, of every type, in the platform's order. A listing
// that cannot start (no match, no such directory, an invalid pattern) is empty.
class Listing {
 public:
  Listing(const std::string& LocalDir, const std::string& FileMask);
  ~Listing();
  Listing(const Listing&) = delete;
  Listing& operator=(const Listing&) = delete;

  bool Next(ListingEntry* entry);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

LocalDate TodayLocalDate();

// Identifies a directory however it is reached (through links too); known is false when the
// platform cannot tell.
struct DirectoryId {
  bool known = false;
  std::uint64_t volume = 0;
  std::uint64_t file = 0;
};
DirectoryId GetDirectoryId(const std::string& path);

#endif  // VARDEK_UPLOAD_LISTING_H_
