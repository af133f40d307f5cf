// The passive-mode transfer of one local file into the current remote directory.
#ifndef VARDEK_UPLOAD_TRANSFER_H_
#define VARDEK_UPLOAD_TRANSFER_H_

#include <string>

#include "upload/listing.h"
#include "upload/reply.h"
#include "upload/run_state.h"

// Sends the entry's file of LocalDir into the current remote directory under remote_name with
// TYPE I, PASV and STOR; true when the server confirmed it whole, with the bytes it took. A
// failure is reported and stops the walk.
bool UploadFile(RunState& run, const LocalPath& LocalDir, const ListingEntry& entry,
                const std::string& remote_name, std::int64_t* bytes);
// TYPE I before every file; under "/d" once for the connection, which pays for the round trip
// that setting each file's time takes.
void UseBinaryType(RunState& run);

enum class DataOpen { kOpen, kPassiveRefused, kUnreachable };
// Asks for a passive data port (EPSV on an IPv6 control connection, PASV on an IPv4 one) and
// connects DataConnection to it, on the control connection's host.
DataOpen OpenDataConnection(RunState& run);

#endif  // VARDEK_UPLOAD_TRANSFER_H_
