// "/d": what the server holds in the current remote directory, and setting a stored file's time.
#ifndef VARDEK_UPLOAD_REMOTE_LISTING_H_
#define VARDEK_UPLOAD_REMOTE_LISTING_H_

#include <cstdint>
#include <string>
#include <vector>

#include "upload/listing.h"
#include "upload/run_state.h"

// Asks FEAT what the server can do, and from it how times can be compared.
void LearnFeatures(RunState& run);

// "/d": of the current remote directory's files, those the server does not hold as they are, in
// their order, from one listing (and MDTM where it gave no times to the second); those it holds
// are counted unchanged. All of them where no listing can be had.
std::vector<ListingEntry> FilesToSend(RunState& run, const std::vector<ListingEntry>& files);

// Gives the stored file the local file's time (MFMT, or vsftpd's two-argument MDTM), so that the
// next run finds it unchanged. A server that turns the MDTM form down can set no time: the rest
// of the run compares times by kNotEarlier.
void SetRemoteTime(RunState& run, const std::string& name, std::int64_t modified);

#endif  // VARDEK_UPLOAD_REMOTE_LISTING_H_
