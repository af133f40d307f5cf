// The control connection's dialogue: whole replies, command exchanges and the reports of failures
// that every stage of the upload uses.
#ifndef VARDEK_UPLOAD_CONTROL_H_
#define VARDEK_UPLOAD_CONTROL_H_

#include <initializer_list>
#include <string>
#include <vector>

#include "upload/run_state.h"

// One whole reply: a multi-line reply (RFC 959, "123-" ... "123 ") is read up to its last line.
struct Reply {
  static constexpr std::size_t kKeptLines = 64;

  // The first kKeptLines lines, at least one, for the replies whose text is read (227, 229, 257);
  // an endless reply must not fill the memory.
  std::vector<std::string> lines = std::vector<std::string>(1);
  std::string last_line;
  // False when the connection closed, failed or went silent before the reply was whole.
  bool complete = false;

  const std::string& first_line() const { return lines.front(); }
  bool IsPositive() const { return complete && first_line().compare(0, 1, "2") == 0; }
};

// Within one time-out; a reply cut short leaves the connection closed.
Reply ReadReply(TSocket& connection);
Reply ReadReplyBy(TSocket& connection, TSocket::Clock::time_point deadline);
// Sends the command and CR LF on the control connection and reads its whole reply.
Reply Exchange(RunState& run, const std::string& command);

// A text with a CR or LF byte would put commands of its own on the control connection.
bool HasLineBreak(const std::string& text);

// Writes the messages and "Продолжение работы невозможно", and leaves the code in ExitStatus.
void ReportFailure(RunState& run, std::initializer_list<std::string> messages, ExitCode code);
// Reports a file (or a directory's files) as not sent; the walk goes on.
void ReportNotSent(RunState& run, const std::string& local_path);
// The same, and the walk stops.
void ReportFileNotSent(RunState& run, const std::string& local_path);

#endif  // VARDEK_UPLOAD_CONTROL_H_
