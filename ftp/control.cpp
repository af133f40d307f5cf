// Command exchanges on a control connection.
#include "ftp/control.h"

#include <algorithm>
#include <chrono>

#include "ftp/server_text.h"

FtpConnection::FtpConnection(const FtpSettings& settings, ServerTraits& server)
    : Settings(settings), Server(server) {
  SetTimeout(*this, settings.Timeout);
  ControlConnection.KeepAlive = true;
  DataConnection.EndsAtInterrupt = true;
}

void SetTimeout(FtpConnection& ftp, int seconds) {
  for (TSocket* connection : {&ftp.DataConnection, &ftp.ControlConnection}) {
    connection->ReadTimeout = seconds;
    connection->WriteTimeout = seconds;
  }
}

void SendCommand(FtpConnection& ftp, const std::string& command) {
  ftp.ControlConnection.SendText(ToServerText(command, ftp.Settings.Utf8Names) + "\r\n");
}

Reply Exchange(FtpConnection& ftp, const std::string& command) {
  // Callers refuse such texts with their own messages; this is the last line of defence.
  if (HasLineBreak(command)) return Reply();
  if (!ftp.Deferred.empty()) return ExchangeAll(ftp, {command}).front();
  SendCommand(ftp, command);
  return ReadReply(ftp.ControlConnection);
}

void SendDeferred(FtpConnection& ftp) {
  if (ftp.Deferred.empty()) return;
  const std::string command = std::move(ftp.Deferred);
  ftp.Deferred.clear();
  ftp.DeferredReply = Exchange(ftp, command);
}

namespace {

using Clock = TSocket::Clock;

// How long a reply may take after the one before it while it is not known whether the server
// answers commands sent in one go: a few times the first reply's round trip, and a second at
// least.
Clock::duration ProbeWait(Clock::duration first_reply) {
  return std::max<Clock::duration>(std::chrono::seconds(1), 4 * first_reply);
}

// After a server dropped commands: NOOP, and every reply up to its own (200, or 500 or 502 from
// a server without NOOP), late ones of the dropped commands among them, so that the next reply
// read belongs to the next command.
bool Resynchronise(FtpConnection& ftp, std::size_t late) {
  ftp.ControlConnection.SendText("NOOP\r\n");
  for (std::size_t i = 0; i <= late; ++i) {
    const Reply reply = ReadReply(ftp.ControlConnection);
    if (!reply.complete) return false;
    const std::string code = reply.first_line().substr(0, 3);
    if (code == "200" || code == "500" || code == "502") return true;
  }
  return false;
}

}  // namespace

std::vector<Reply> ExchangeAll(FtpConnection& ftp, const std::vector<std::string>& commands) {
  if (!ftp.Deferred.empty()) {
    std::vector<std::string> all{std::move(ftp.Deferred)};
    ftp.Deferred.clear();
    all.insert(all.end(), commands.begin(), commands.end());
    std::vector<Reply> replies = ExchangeAll(ftp, all);
    ftp.DeferredReply = replies.front();
    replies.erase(replies.begin());
    return replies;
  }
  std::vector<Reply> replies;
  Pipelining known = ftp.Server.Pipelined;
  if (known == Pipelining::kLosesCommands || commands.size() < 2) {
    for (const std::string& command : commands) replies.push_back(Exchange(ftp, command));
    return replies;
  }
  std::string lines;
  for (const std::string& command : commands) {
    if (HasLineBreak(command)) return std::vector<Reply>(commands.size());
    lines += ToServerText(command, ftp.Settings.Utf8Names) + "\r\n";
  }
  TSocket& control = ftp.ControlConnection;
  const Clock::time_point sent = Clock::now();
  control.SendText(lines);
  replies.push_back(ReadReply(control));
  const Clock::duration wait = ProbeWait(Clock::now() - sent);
  while (replies.size() < commands.size()) {
    if (known == Pipelining::kUnknown && replies.back().complete &&
        !control.WaitForInput(Clock::now() + wait)) {
      ftp.Server.Pipelined = Pipelining::kLosesCommands;
      if (!Resynchronise(ftp, commands.size() - replies.size())) break;
      while (replies.size() < commands.size())
        replies.push_back(Exchange(ftp, commands[replies.size()]));
      return replies;
    }
    replies.push_back(ReadReply(control));
  }
  replies.resize(commands.size());  // incomplete after a reply cut short
  if (replies.back().complete && known == Pipelining::kUnknown) {
    ftp.Server.Pipelined = Pipelining::kWorks;
  }
  return replies;
}

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}
