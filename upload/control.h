// The FTP control dialogue: connection, greeting, login, and the reading of whole replies that
// every later exchange on the control connection uses.
#ifndef VARDEK_UPLOAD_CONTROL_H_
#define VARDEK_UPLOAD_CONTROL_H_

#include <initializer_list>
#include <string>

#include "driver/run_state.h"

// One whole reply: a multi-line reply (RFC 959, "123-" ... "123 ") is read up to its last line.
struct Reply {
  std::string first_line;
  std::string last_line;
  // False when the connection closed, failed or went silent before the reply was whole.
  bool complete = false;

  bool IsPositive() const { return complete && !first_line.empty() && first_line[0] == '2'; }
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

// "host:port" (one colon, a decimal port 1 to 65535) names a port other than 21.
void SplitHostPort(const std::string& server, std::string* host, int* port);

// The whole upload: connection, greeting, login, then the walk of LocalMask into RemotePath.
void RunUpload(RunState& run, const std::string& LocalMask, const std::string& RemotePath);

#endif  // VARDEK_UPLOAD_CONTROL_H_
