// The passive-mode transfer of one local file into the current remote directory.
#ifndef VARDEK_UPLOAD_TRANSFER_H_
#define VARDEK_UPLOAD_TRANSFER_H_

#include <cstdint>
#include <string>

#include "upload/control.h"
#include "upload/listing.h"
#include "upload/reply.h"
#include "upload/run_state.h"

// Sends the entry's file of LocalDir into the current remote directory under remote_name with
// TYPE I, PASV and STOR, and leaves the bytes the server took in `bytes`. The failure, if any,
// stops the walk.
Failure UploadFile(RunState& run, const LocalPath& LocalDir, const ListingEntry& entry,
                   const std::string& remote_name, std::int64_t* bytes);

// TYPE I before every file; under "/d" and "/p" once for the connection: a round trip a file
// saved, which pays for setting each file's time.
void UseBinaryType(RunState& run);

// Asks for a passive data port (EPSV on an IPv6 control connection, PASV on an IPv4 one) and
// connects DataConnection to it, on the control connection's host.
Failure OpenDataConnection(RunState& run);

#endif  // VARDEK_UPLOAD_TRANSFER_H_
