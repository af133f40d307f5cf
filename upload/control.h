// The control connection's dialogue: command exchanges, and the one way every stage of the
// upload reports a failure.
#ifndef VARDEK_UPLOAD_CONTROL_H_
#define VARDEK_UPLOAD_CONTROL_H_

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "upload/reply.h"
#include "upload/run_state.h"

// Sends the command and CR LF on the control connection and reads its whole reply.
Reply Exchange(RunState& run, const std::string& command);
// Sends the commands in one go and reads their replies in order: a round trip for them all. A
// server that drops the commands after the first is found out by a reply that does not come
// soon: the run sends one command at a time from then on, those unanswered again. After a reply
// cut short the rest are incomplete too.
std::vector<Reply> ExchangeAll(RunState& run, const std::vector<std::string>& commands);

// A text with a CR or LF byte would put commands of its own on the control connection.
bool HasLineBreak(const std::string& text);

// What the walk does after a reported failure: go on with the next file or directory, or stop
// at every level.
enum class Walk { kGoesOn, kStops };

// A failure as it is reported, and whether a new connection may overcome it ("/r").
struct Failure {
  enum class Kind {
    kPermanent,  // a refusal that another try would get again, or a local fault
    kLost,       // the connection closed, reset, fell silent, or could not be made
    kRefused,    // a 4xx reply: the server cannot for now (421 among them)
  };

  Failure() = default;
  Failure(std::vector<std::string> failure_messages, ExitCode failure_code, Walk failure_walk,
          Kind failure_kind = Kind::kPermanent)
      : messages(std::move(failure_messages)),
        code(failure_code),
        walk(failure_walk),
        kind(failure_kind) {}

  std::vector<std::string> messages;
  ExitCode code = kExitOk;  // kExitOk: no failure
  Walk walk = Walk::kGoesOn;
  Kind kind = Kind::kPermanent;

  bool failed() const { return code != kExitOk; }
};

// The kind of failure a reply that did not say yes stands for.
Failure::Kind KindOf(const Reply& reply);

// Writes the messages and "Продолжение работы невозможно", and leaves the code in ExitStatus.
void Report(RunState& run, const Failure& failure);
void Report(RunState& run, std::initializer_list<std::string> messages, ExitCode code,
            Walk walk = Walk::kGoesOn);
// "The file was not sent", for a file or for a directory's files.
std::string NotSentMessage(const std::string& local_path);
// "The directory is not on the server".
std::string NotFoundMessage(const std::string& remote_path);

#endif  // VARDEK_UPLOAD_CONTROL_H_
