// RunUpload and the reply convention of the control connection.
#include "upload/control.h"

#include <cctype>
#include <cstdlib>

#include "upload/walk.h"

namespace {

constexpr int kFtpPort = 21;

bool StartsMultiLineReply(const std::string& line) {
  return line.size() >= 4 && std::isdigit(static_cast<unsigned char>(line[0])) &&
         std::isdigit(static_cast<unsigned char>(line[1])) &&
         std::isdigit(static_cast<unsigned char>(line[2])) && line[3] == '-';
}

// The greeting may be preceded by other replies (such as 120); it is over at a "220 " line. A
// server sending reply after reply gets one time-out for them all.
bool AwaitGreeting(TSocket& control) {
  const TSocket::Clock::time_point deadline = control.ReadDeadline();
  for (;;) {
    Reply reply = ReadReplyBy(control, deadline);
    if (!reply.complete) return false;
    if (reply.last_line.compare(0, 4, "220 ") == 0) return true;
  }
}

bool OpenControlConnection(RunState& run) {
  std::string host;
  int port = kFtpPort;
  SplitHostPort(run.ServerHost, &host, &port);
  return run.ControlConnection->Connect(host, port) && AwaitGreeting(*run.ControlConnection);
}

bool LogIn(RunState& run) {
  Exchange(run, "USER " + run.UserLogin);
  return Exchange(run, "PASS " + run.UserPassword).IsPositive();
}

}  // namespace

// The whole reply, however many lines, must come within one time-out.
Reply ReadReply(TSocket& connection) { return ReadReplyBy(connection, connection.ReadDeadline()); }

Reply ReadReplyBy(TSocket& connection, TSocket::Clock::time_point deadline) {
  Reply reply;
  reply.first_line = connection.ReadLineBy(deadline);
  reply.last_line = reply.first_line;
  if (StartsMultiLineReply(reply.first_line)) {
    const std::string end = reply.first_line.substr(0, 3) + " ";
    do {
      reply.last_line = connection.ReadLineBy(deadline);
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

void SplitHostPort(const std::string& server, std::string* host, int* port) {
  *host = server;
  std::size_t colon = server.find(':');
  if (colon == std::string::npos || server.find(':', colon + 1) != std::string::npos) return;
  const std::string digits = server.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return;
  }
  int value = std::atoi(digits.c_str());
  if (value < 1 || value > 65535) return;
  *host = server.substr(0, colon);
  *port = value;
}

void RunUpload(RunState& run, const std::string& LocalMask, const std::string& RemotePath) {
  run.WriteMessage("Открываем соединение с узлом \"" + run.ServerHost + "\"");
  if (!OpenControlConnection(run)) {
    ReportFailure(run, {"Не удалось установить соединение с \"" + run.ServerHost + "\""},
                  kExitConnection);
    return;
  }
  run.WriteMessage("Производим авторизацию");
  if (!LogIn(run)) {
    ReportFailure(run, {"Авторизоваться на сервере \"" + run.ServerHost + "\" не удалось"},
                  kExitConnection);
    return;
  }
  run.WriteMessage("Начинаем пересылку файлов");
  UploadTree(run, LocalMask, RemotePath);
  run.WriteMessage("Пересылка файлов закончена");
}
