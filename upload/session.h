// Opening a control connection ready for the walk: connect, greeting, TLS with "/e", login.
#ifndef VARDEK_UPLOAD_SESSION_H_
#define VARDEK_UPLOAD_SESSION_H_

#include "upload/control.h"
#include "upload/run_state.h"

// Connects the run's control connection and logs in, encrypted with "/e", saying so on the
// console; the failure, if any, as it would be reported. Every rule holds for every
// connection: TLS and the certificate check before USER, data connections protected.
Failure OpenSession(RunState& run);

#endif  // VARDEK_UPLOAD_SESSION_H_
