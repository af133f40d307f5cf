// One file of the walk onto the server: stored under its own name, or with "/a" under a
// temporary one that is renamed into place once the file arrived whole; with "/d" its time set.
#ifndef VARDEK_UPLOAD_PUBLISH_H_
#define VARDEK_UPLOAD_PUBLISH_H_

#include <cstdint>
#include <string>

#include "ftp/remote_listing.h"
#include "local/listing.h"
#include "upload/failure.h"
#include "upload/run_state.h"

// Whether a file may go on from what the server holds of it: after its transfer was lost
// ("/r"), and with "/a" from a part an earlier run left; `listed`: what the server's listing of
// the directory said, else SIZE asks.
struct Resumed {
  bool lost = false;
  const RemoteDirectory* listed = nullptr;
};

// The failure, if any, when the file did not arrive under its name; it stops the walk.
Failure PublishFile(RunState& run, const LocalPath& LocalDir, const ListingEntry& entry,
                    const Resumed& resumed = Resumed());

// "/a": deletes the temporary file that a lost connection kept from being deleted.
void RemoveLeftTemporary(RunState& run);

// "/a": the name, a key of six hexadecimal digits and ".part": in the same directory, no one's
// real file, never hidden by a leading dot; the name is cut so that the whole stays within 255
// bytes, never inside a UTF-8 character.
std::string TemporaryName(const std::string& name, std::uint32_t key);
// The key of a local file: of its name, size and last write time.
std::uint32_t PartKey(const ListingEntry& entry);

#endif  // VARDEK_UPLOAD_PUBLISH_H_
