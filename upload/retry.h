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

// How a step ended.
enum class Tried {
  kDone,
  kFailed,  // for good; the failure is reported
  kLost,    // the connection was found dead and the work is to go on elsewhere; nothing reported
};

// Runs the step. After a failure of a lost connection or a 4xx reply, with "/r": says so, waits,
// opens a new connection, enters remote_dir (unless it is empty) and runs the step again, up to
// the count of "/r". With hand_on ("/p"), a connection found dead ends the tries at once
// (kLost), unless a file's data had started without "/r": that file failed, as on one
// connection. The failure that ended the tries, if any, in `last`.
Tried Attempt(RunState& run, const std::string& remote_dir, const Step& step, bool hand_on = false,
              Failure* last = nullptr);

// Whether the connection is dead: closed for good by a failure, or by the server.
bool IsLost(RunState& run);

// A dead connection opened again with "/r", saying so and waiting before each try, as many times
// as "/r" says. False, with the failure of the last try, when it could not be.
bool Reopen(RunState& run, Failure* failure);

// The wait before try `retry` (1, 2, ...) in seconds: 5, 15, 45 and so on, at most 300, and no
// more than the time-out.
int RetryWait(int retry, int timeout);

#endif  // VARDEK_UPLOAD_RETRY_H_
