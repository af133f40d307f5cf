// Whether the server holds what was sent: its size after a file that went on from where it was
// cut, and with "/v" after every file, its digest too where the server computes one.
#ifndef VARDEK_UPLOAD_VERIFY_H_
#define VARDEK_UPLOAD_VERIFY_H_

#include <cstdint>
#include <string>

#include "ftp/reply.h"
#include "local/local_path.h"
#include "upload/failure.h"
#include "upload/run_state.h"

// A file as it was sent: stored under `stored` in the current remote directory, `size` bytes
// of the local file `name` of `dir`; `size_reply`: SIZE's reply where it came with the
// transfer's confirmation.
struct SentFile {
  const LocalPath& dir;
  const std::string& name;
  const std::string& stored;
  std::int64_t size;
  const Reply& size_reply;
};

// The failure of a copy that differs (tried again under "/r", from its first byte) or that a
// lost connection left unchecked. `digest`: the digest is compared too, where offered.
Failure CheckSent(RunState& run, const SentFile& sent, bool digest);

#endif  // VARDEK_UPLOAD_VERIFY_H_
