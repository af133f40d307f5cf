// The control connection's dialogue: command exchanges, and the one way every stage of the
// upload reports a failure.
#ifndef VARDEK_UPLOAD_CONTROL_H_
#define VARDEK_UPLOAD_CONTROL_H_

#include <initializer_list>
#include <string>
#include <vector>

#include "upload/reply.h"
#include "upload/run_state.h"

// Sends the command and CR LF on the control connection and reads its whole reply.
Reply Exchange(RunState& run, const std::string& command);

// Sends the commands in one go and reads their replies in order: a round trip for them all.
// After a reply cut short the rest are incomplete too.
std::vector<Reply> ExchangeAll(RunState& run, const std::vector<std::string>& commands);

// A text with a CR or LF byte would put commands of its own on the control connection.
bool HasLineBreak(const std::string& text);

// What the walk does after a reported failure: go on with the next file or directory, or stop
// at every level.
enum class Walk { kGoesOn, kStops };

// Writes the messages and "Продолжение работы невозможно", and leaves the code in ExitStatus.
void Report(RunState& run, std::initializer_list<std::string> messages, ExitCode code,
            Walk walk = Walk::kGoesOn);
// "The file was not sent", for a file or for a directory's files.
std::string NotSentMessage(const std::string& local_path);

#endif  // VARDEK_UPLOAD_CONTROL_H_
