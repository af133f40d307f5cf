// local/ is the local side of a run: masks, paths, listings and files on this machine, and which
// files a run sends; it knows nothing of FTP or the console. Here: one local directory listing,
// as the platform gives it, and the identity of a local directory. listing_posix.cpp and
// listing_win.cpp implement it.
#ifndef VARDEK_LOCAL_LISTING_H_
#define VARDEK_LOCAL_LISTING_H_

#include <cstdint>
#include <memory>
#include <string>

#include "local/local_path.h"

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
  // When the listing was asked for details: the local date of the last write, its time (UTC,
  // whole seconds since 1970) and the size.
  LocalDate written;
  std::int64_t modified = 0;
  std::int64_t size = -1;
  // The listing shows the entry, but what it is cannot be read.
  bool unreadable = false;
  // The name has no exact UTF-8 form (Windows: a lone surrogate), so no command can name the
  // entry; `name` is then only good for messages.
  bool unnamed = false;
};

// The entries of the directory whose names match FileMask, of every type, in name order. No
// entry matching is an empty listing; a directory that is not there or cannot be read is a
// failed one. An empty FileMask names no file: the listing is empty.
class Listing {
 public:
  Listing(const LocalPath& dir, const std::string& FileMask, bool with_details = true);
  ~Listing();
  Listing(const Listing&) = delete;
  Listing& operator=(const Listing&) = delete;

  bool Next(ListingEntry* entry);
  // The directory could not be listed, whole or in part; final once Next has returned false.
  bool Failed() const;

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
DirectoryId GetDirectoryId(const LocalPath& dir);

#endif  // VARDEK_LOCAL_LISTING_H_
