// Trying again after a dropped connection or a server that cannot for now.
#include "upload/retry.h"

#include "ftp/file_commands.h"
#include "upload/publish.h"
#include "upload/session.h"

namespace {

constexpr int kFirstWait = 5;
constexpr int kLongestWait = 300;

bool Overcome(const RunState& run, const Failure& failure, int retry) {
  return failure.kind != FailureKind::kPermanent && retry <= run.options.Retries && !Interrupted();
}

// What happened and what follows, never a reply's text.
void AnnounceRetry(RunState& run, const Failure& failure, int retry) {
  const std::string& host = run.options.ServerHost;
  const int wait = RetryWait(retry, run.options.Timeout);
  run.shared.WriteMessages(
      {failure.mismatch                     ? failure.messages.front()
       : failure.kind == FailureKind::kLost ? "Связь с сервером \"" + host + "\" прервана"
                                            : "Сервер \"" + host + "\" временно отказал",
       "Повторная попытка " + std::to_string(retry) + " из " + std::to_string(run.options.Retries) +
           " через " + std::to_string(wait) + " с"});
  SleepUnlessInterrupted(wait);
}

// A new connection where the old one was: logged in as the first, in the same directory, and
// rid of a temporary file that the lost one could not delete.
Failure Reconnect(RunState& run, const std::string& remote_dir) {
  run.ftp().DataConnection.Close();
  run.ftp().ControlConnection.Close();
  Failure failure = OpenSession(run);
  // Without a connection there is nothing more to walk.
  failure.walk = Walk::kStops;
  if (failure.failed() || remote_dir.empty()) return failure;
  failure = EnterDirectory(run, remote_dir, Walk::kStops);
  if (failure.failed()) return failure;
  RemoveLeftTemporary(run);
  return failure;
}

}  // namespace

int RetryWait(int retry, int timeout) {
  int wait = kFirstWait;
  for (int i = 1; i < retry && wait < kLongestWait; ++i) wait *= 3;
  return std::min({wait, kLongestWait, timeout});
}

bool OpenFirstSession(RunState& run) {
  for (int retry = 1;; ++retry) {
    const Failure failure = OpenSession(run);
    if (!failure.failed()) return true;
    if (!Overcome(run, failure, retry)) {
      Report(run, failure);
      return false;
    }
    AnnounceRetry(run, failure, retry);
  }
}

bool IsLost(RunState& run) { return !run.ftp().ControlConnection.IsOpen(); }

Tried Attempt(RunState& run, const std::string& remote_dir, const Step& step, bool hand_on,
              Failure* last) {
  Failure failure = step();
  for (int retry = 1; failure.failed(); ++retry) {
    if (last != nullptr) *last = failure;
    if (hand_on && IsLost(run) && (!failure.sent_data || run.options.Retries > 0)) {
      return Tried::kLost;
    }
    if (!Overcome(run, failure, retry)) {
      Report(run, failure);
      return Tried::kFailed;
    }
    AnnounceRetry(run, failure, retry);
    failure = Reconnect(run, remote_dir);
    if (!failure.failed()) failure = step();
  }
  return Tried::kDone;
}

bool Reopen(RunState& run, Failure* failure) {
  for (int retry = 1;; ++retry) {
    if (!Overcome(run, *failure, retry)) return false;
    AnnounceRetry(run, *failure, retry);
    run.ftp().DataConnection.Close();
    run.ftp().ControlConnection.Close();
    *failure = OpenSession(run);
    if (!failure->failed()) return true;
  }
}
