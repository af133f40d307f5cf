// "/d": what the server holds in the current remote directory, and setting a stored file's time.
#ifndef VARDEK_UPLOAD_REMOTE_LISTING_H_
#define VARDEK_UPLOAD_REMOTE_LISTING_H_

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "upload/listing.h"
#include "upload/reply.h"
#include "upload/run_state.h"

// The plain files of a remote directory by name.
using RemoteDirectory = std::unordered_map<std::string, RemoteFile>;

// Asks FEAT what the server can do, and from it how times can be compared.
void LearnFeatures(RunState& run);

// One MLSD (or, where the server has none, LIST) of the current remote directory over a data
// connection like a file's. False when the listing could not be had whole: the directory's files
// are then sent as without "/d".
bool ReadRemoteDirectory(RunState& run, RemoteDirectory* files);

// "/d": of the current remote directory's files, those the server does not hold as they are, in
// their order, from one listing (and MDTM where it gave no times to the second); those it holds
// are counted unchanged. All of them where no listing can be had.
std::vector<ListingEntry> FilesToSend(RunState& run, const std::vector<ListingEntry>& files);

// Asks MDTM for the times of the files that the listing gave without one, several in flight at
// once; a file whose time the server does not tell keeps none.
void AskRemoteTimes(RunState& run, const std::vector<std::string>& names, RemoteDirectory* files);

// Where FEAT leaves it open (MDTM but no MFMT) and a file's times differ, learns once whether
// the server sets times, before the rule decides: the server's file is given the time it has
// already. A server that cannot is compared by kNotEarlier, rather than sent a file again on
// every run.
void LearnWhetherTimesCanBeSet(RunState& run, const std::string& name, std::int64_t remote_time);

// Gives the stored file the local file's time (MFMT, or vsftpd's two-argument MDTM), so that the
// next run finds it unchanged. A server that turns the MDTM form down can set no time: the rest
// of the run compares times by kNotEarlier.
void SetRemoteTime(RunState& run, const std::string& name, std::int64_t modified);

#endif  // VARDEK_UPLOAD_REMOTE_LISTING_H_
