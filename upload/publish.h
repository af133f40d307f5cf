// One file of the walk onto the server: stored under its own name, or with "/a" under a
// temporary one that is renamed into place once the file arrived whole; with "/d" its time set.
#ifndef VARDEK_UPLOAD_PUBLISH_H_
#define VARDEK_UPLOAD_PUBLISH_H_

#include <cstdint>
#include <string>

#include "local/listing.h"
#include "upload/failure.h"
#include "upload/run_state.h"

// The failure, if any, when the file did not arrive under its name; it stops the walk.
Failure PublishFile(RunState& run, const LocalPath& LocalDir, const ListingEntry& entry);

// "/a": deletes the temporary file that a lost connection kept from being deleted.
void RemoveLeftTemporary(RunState& run);

// "/a": the name, a random part and ".part": in the same directory, no one's real file, never
// hidden by a leading dot; the name is cut so that the whole stays within 255 bytes, never inside
// a UTF-8 character.
std::string TemporaryName(const std::string& name, std::uint32_t random);

#endif  // VARDEK_UPLOAD_PUBLISH_H_
