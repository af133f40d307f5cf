// What a failure means for the run: its messages, its exit code, whether the walk stops and
// whether a new connection may overcome it; and the one way it is reported.
#ifndef VARDEK_UPLOAD_FAILURE_H_
#define VARDEK_UPLOAD_FAILURE_H_

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "ftp/login.h"
#include "ftp/reply.h"
#include "ftp/transfer.h"
#include "upload/run_state.h"

// What the walk does after a reported failure: go on with the next file or directory, or stop
// at every level.
enum class Walk { kGoesOn, kStops };

// A failure as it is reported, carried as a value until then ("/r" may overcome it first).
struct Failure {
  Failure() = default;
  Failure(std::vector<std::string> failure_messages, ExitCode failure_code, Walk failure_walk,
          FailureKind failure_kind = FailureKind::kPermanent)
      : messages(std::move(failure_messages)),
        code(failure_code),
        walk(failure_walk),
        kind(failure_kind) {}

  std::vector<std::string> messages;
  ExitCode code = kExitOk;  // kExitOk: no failure
  Walk walk = Walk::kGoesOn;
  FailureKind kind = FailureKind::kPermanent;
  bool sent_data = false;  // a file's bytes had started to go
  bool mismatch = false;   // the server's copy differs from the file: its message says so

  bool failed() const { return code != kExitOk; }
};

// Opening a connection failed: the run has no connection to the server (exit code 2).
Failure LoginFailure(const Options& options, const LoginResult& result);
// A file did not arrive: the walk stops.
Failure TransferFailure(const Options& options, const TransferResult& result,
                        const std::string& local_path);
// A remote directory cannot be entered (exit code 3): its files must not land in another.
Failure DirectoryFailure(std::vector<std::string> messages, const Reply& refusal, Walk walk);

// The connection was lost, and no other is there to go on with (exit code 2).
Failure LostFailure(const Options& options);

// Writes the messages and "Продолжение работы невозможно", and leaves the code in ExitStatus: the
// latest failure's, or with "/p", where connections fail in no set order, the highest code
// reported, so that one story ends with one code (a file not sent outranks the rest).
void Report(RunState& run, const Failure& failure);
void Report(RunState& run, std::initializer_list<std::string> messages, ExitCode code,
            Walk walk = Walk::kGoesOn);
// "The file was not sent", for a file or for a directory's files.
std::string NotSentMessage(const std::string& local_path);
// "The directory is not on the server".
std::string NotFoundMessage(const std::string& remote_path);

#endif  // VARDEK_UPLOAD_FAILURE_H_
