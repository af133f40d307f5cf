// The passive-mode transfer of one local file into the current remote directory.
#ifndef VARDEK_UPLOAD_TRANSFER_H_
#define VARDEK_UPLOAD_TRANSFER_H_

#include <string>

#include "upload/listing.h"
#include "upload/reply.h"
#include "upload/run_state.h"

// Sends the entry's file of LocalDir into the current remote directory with TYPE I, PASV and
// STOR; a failure stops the walk.
void UploadFile(RunState& run, const LocalPath& LocalDir, const ListingEntry& entry);
// EPSV on an IPv6 control connection, PASV on an IPv4 one.
const char* PassiveCommand(const RunState& run);
// Connects DataConnection to the port that a PASV or EPSV reply names, on the control
// connection's host.
bool OpenPassiveData(RunState& run, const Reply& reply);

#endif  // VARDEK_UPLOAD_TRANSFER_H_
