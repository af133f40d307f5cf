// "/r": a failure that a new connection may overcome is tried again, after a growing wait, a
// bounded number of times.
#ifndef VARDEK_UPLOAD_RETRY_H_
#define VARDEK_UPLOAD_RETRY_H_

#include <functional>
#include <string>

#include "upload/failure.h"
#include "upload/run_state.h"

using Step = std::function<Failure()>;

// Opens the run's first connection. False when it failed for good; the failure is reported.
bool OpenFirstSession(RunState& run);

// Runs the step. After a failure of a lost connection or a 4xx reply, with "/r": says so, waits,
// opens a new connection, enters remote_dir (unless it is empty) and runs the step again, up to
// the count of "/r". False when the step failed for good; the failure is reported.
bool Attempt(RunState& run, const std::string& remote_dir, const Step& step);

// The wait before try `retry` (1, 2, ...) in seconds: 5, 15, 45 and so on, at most 300, and no
// more than the time-out.
int RetryWait(int retry, int timeout);

#endif  // VARDEK_UPLOAD_RETRY_H_
