// "/d": which of a directory's files the server does not hold as they are, and giving each
// stored file the local file's time, so that the next run finds it unchanged.
#ifndef VARDEK_UPLOAD_DIFFERS_H_
#define VARDEK_UPLOAD_DIFFERS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "local/listing.h"
#include "upload/run_state.h"

// Of the current remote directory's files, those the server does not hold as they are, in
// their order, from one listing (and MDTM where it gave no times to the second); those it holds
// are counted unchanged. All of them where no listing can be had.
std::vector<ListingEntry> FilesToSend(RunState& run, const std::vector<ListingEntry>& files);

// Gives the stored file the local file's time. A server that turns the MDTM form down can set
// no time: the rest of the run compares times by kNotEarlier.
void SetRemoteTime(RunState& run, const std::string& name, std::int64_t modified);

#endif  // VARDEK_UPLOAD_DIFFERS_H_
