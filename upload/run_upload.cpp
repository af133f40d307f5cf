// RunUpload: from the connection to the closing message.
#include "upload/run_upload.h"

#include "net/address.h"
#include "upload/control.h"
#include "upload/walk.h"

namespace {

constexpr int kFtpPort = 21;

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
