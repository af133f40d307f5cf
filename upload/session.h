// Opening a control connection ready for the walk, saying so on the console, and bringing it
// where the walk is.
#ifndef VARDEK_UPLOAD_SESSION_H_
#define VARDEK_UPLOAD_SESSION_H_

#include <string>

#include "upload/failure.h"
#include "upload/run_state.h"

// Connects the run's control connection and logs in, encrypted with "/e", saying so on the
// console; the failure, if any, as it would be reported. Every rule holds for every
// connection: TLS and the certificate check before USER, data connections protected.
Failure OpenSession(RunState& run);

// Makes an existing remote directory the connection's current one (a connection other than the
// walk's, or a new one after a lost one). A refusal is the directory's failure: the files of this
// directory must not land in another.
Failure EnterDirectory(RunState& run, const std::string& path, Walk walk);

#endif  // VARDEK_UPLOAD_SESSION_H_
