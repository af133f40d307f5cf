// The reply convention of the control connection, and failure reports.
#include "upload/control.h"

#include <cctype>

namespace {

bool StartsMultiLineReply(const std::string& line) {
  return line.size() >= 4 && std::isdigit(static_cast<unsigned char>(line[0])) &&
         std::isdigit(static_cast<unsigned char>(line[1])) &&
         std::isdigit(static_cast<unsigned char>(line[2])) && line[3] == '-';
}

}  // namespace

// The whole reply, however many lines, must come within one time-out.
Reply ReadReply(TSocket& connection) { return ReadReplyBy(connection, connection.ReadDeadline()); }

Reply ReadReplyBy(TSocket& connection, TSocket::Clock::time_point deadline) {
  Reply reply;
  reply.lines.front() = connection.ReadLineBy(deadline);
  reply.last_line = reply.first_line();
  if (StartsMultiLineReply(reply.first_line())) {
    const std::string end = reply.first_line().substr(0, 3) + " ";
    do {
      reply.last_line = connection.ReadLineBy(deadline);
      if (reply.lines.size() < Reply::kKeptLines) reply.lines.push_back(reply.last_line);
    } while (!reply.last_line.empty() && reply.last_line.compare(0, 4, end) != 0);
  }
  reply.complete = !reply.last_line.empty();
  // After a reply cut short, a late rest would pass for the reply to the next command: the
  // connection is of no more use, and its later commands fail at once instead of waiting again.
  if (!reply.complete) connection.Close();
  return reply;
}

Reply Exchange(RunState& run, const std::string& command) {
  // Callers refuse such texts with their own messages; this is the last line of defence.
  if (HasLineBreak(command)) return Reply();
  run.ControlConnection->SendText(command + "\r\n");
  return ReadReply(*run.ControlConnection);
}

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

void ReportFailure(RunState& run, std::initializer_list<std::string> messages, ExitCode code) {
  for (const std::string& message : messages) run.WriteMessage(message);
  run.WriteMessage("Продолжение работы невозможно");
  run.ExitStatus = code;
}

void ReportNotSent(RunState& run, const std::string& local_path) {
  ReportFailure(run, {"Не удалось отправить файл \"" + local_path + "\""}, kExitTransfer);
}

void ReportFileNotSent(RunState& run, const std::string& local_path) {
  ReportNotSent(run, local_path);
  run.TransferAborted = true;
}
