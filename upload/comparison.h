// upload/ is the run: options, shared state and exit codes, the walk, the pool of connections,
// retries, publishing a file ("/a", "/d"), the comparison and the summary; it decides what each
// failure of the protocol means. Here: "/d", whether the server's copy of a file can stand for
// the local one.
#ifndef VARDEK_UPLOAD_COMPARISON_H_
#define VARDEK_UPLOAD_COMPARISON_H_

#include <cstdint>

#include "ftp/reply.h"
#include "local/listing.h"

// How times are compared: exactly, where vardek sets the server's time to the local one after
// each file; where the server can set no time, a server's copy no older than the local file.
enum class TimeRule { kExact, kNotEarlier };

// False when the server has no such file (a directory of that name is none), its size differs,
// or its time is unknown or differs as the rule says. Times are whole seconds of UTC on both sides.
bool IsUnchanged(const ListingEntry& local, const RemoteFile* remote, TimeRule rule);

// Whether the listing alone cannot decide: the server has a file of the same size whose time it
// did not give to the second (a LIST listing), so that MDTM must tell it.
bool NeedsRemoteTime(const ListingEntry& local, const RemoteFile* remote);

#endif  // VARDEK_UPLOAD_COMPARISON_H_
