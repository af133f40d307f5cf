// "/m": the server's copy made equal to the local tree for the names the mask selects. What the
// server holds and the local side no longer has is deleted, never on incomplete knowledge: a
// listing that failed or was cut short, a local listing that failed, an empty local selection,
// "/t", names that begin with a dot. With "/n" the deletions are said, not done.
#ifndef VARDEK_UPLOAD_MIRROR_H_
#define VARDEK_UPLOAD_MIRROR_H_

#include <string>
#include <vector>

#include "local/listing.h"
#include "upload/differs.h"
#include "upload/run_state.h"

// A local directory's names, of every kind and in any case (a server that ignores case must not
// lose a file whose name changed case): what is not gone.
class LocalNames {
 public:
  LocalNames(const std::string& FileMask, const std::vector<ListingEntry>& entries);

  bool HasFile(const std::string& name) const;
  bool HasDirectory(const std::string& name) const;
  // "/a"'s "name.XXXXXX.part" of a local file, that an earlier run left.
  bool IsLeftTemporary(const std::string& name) const;
  // The part of a file as it is, which a run goes on from: never deleted.
  bool IsOwnPart(const std::string& name) const;
  const std::string& mask() const { return mask_; }

 private:
  std::string mask_;
  std::vector<std::string> files_;  // folded, in order
  std::vector<std::string> directories_;
  std::vector<std::string> parts_;  // the temporary names of the files as they are, folded
};

// In the current remote directory `dir`, after its files were sent: deletes the files that the
// mask selects and the local side does not have, the temporary files of "/a" that an earlier
// run left, and with "/s" the selected directories that the local side does not have, depth
// first. Nothing when the listing was not whole: that is reported.
void DeleteGone(RunState& run, const std::string& dir, const LocalNames& local,
                const ServerListing& listing);

#endif  // VARDEK_UPLOAD_MIRROR_H_
