// "/d": which of a directory's files the server does not hold as they are, and giving each
// stored file the local file's time, so that the next run finds it unchanged.
#ifndef VARDEK_UPLOAD_DIFFERS_H_
#define VARDEK_UPLOAD_DIFFERS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "ftp/remote_listing.h"
#include "local/listing.h"
#include "upload/failure.h"
#include "upload/run_state.h"

// What the server listed of the current remote directory, and how whole that was.
struct ServerListing {
  RemoteDirectory entries;
  Received received = Received::kFailed;
};

// Of the remote directory's files, those the server does not hold as they are, in their order,
// from one listing (and MDTM where it gave no times to the second); those it holds are counted
// unchanged. All of them where no listing can be had; a failure when that was for a lost
// connection, so that the listing can be asked again on a new one. A connection elsewhere enters
// the directory first, in one go with the listing: the directory's failure where it cannot.
// Where `known` points to a listing had in one go with others, it is taken instead of asking,
// once (the pointer is cleared), if it entered the directory and came whole.
Failure CompareListing(RunState& run, const std::string& path,
                       const std::vector<ListingEntry>& files, std::vector<ListingEntry>* changed,
                       ServerListing* listing, DirectoryListing** known = nullptr);
// The same for a directory listed in one go with others by a connection that is elsewhere now;
// false, with nothing judged, where that needs the directory's own connection: its listing did not
// come whole, or a time is to be asked or probed there.
bool CompareAway(RunState& run, DirectoryListing& known, const std::vector<ListingEntry>& files,
                 std::vector<ListingEntry>* changed, ServerListing* listing);

// Gives the stored file the local file's time. A server that turns the MDTM form down can set
// no time: the rest of the run compares times by kNotEarlier.
void SetRemoteTime(RunState& run, const std::string& name, std::int64_t modified);
// What became of the time that SetRemoteTime gave last on this connection, once its reply came
// with a later command's, or with `now` at once: before the connection waits or ends.
void SettleRemoteTime(RunState& run, bool now);

#endif  // VARDEK_UPLOAD_DIFFERS_H_
