// RunUpload: from the connection to the closing message.
#include "upload/run_upload.h"

#include "net/address.h"
#include "upload/control.h"
#include "upload/remote_path.h"
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

bool OpenControlConnection(RunState& run, const std::string& host, int port) {
  return run.ControlConnection->Connect(host, port) && AwaitGreeting(*run.ControlConnection);
}

// Reports why the run cannot go on encrypted; the control connection is closed, so that nothing
// more, least of all the login, goes out in the clear.
bool RefuseClearText(RunState& run, const std::string& message) {
  run.ControlConnection->Close();
  ReportFailure(run, {message}, kExitConnection);
  return false;
}

// RFC 4217: AUTH TLS before the login.
bool SecureControlConnection(RunState& run, const std::string& host) {
  const std::string failed =
      "Не удалось установить шифрованное соединение с \"" + run.ServerHost + "\"";
  Reply reply = Exchange(run, "AUTH TLS");
  if (!reply.complete) return RefuseClearText(run, failed);
  if (!reply.IsPositive()) {
    return RefuseClearText(run, "Сервер \"" + run.ServerHost + "\" не поддерживает шифрование");
  }
  switch (run.ControlConnection->StartTls(TlsSettings{host, run.TlsPin})) {
    case TlsOutcome::kEstablished:
      return true;
    case TlsOutcome::kCertificateRefused:
      return RefuseClearText(run, "Сертификат сервера \"" + run.ServerHost + "\" не принят");
    default:
      return RefuseClearText(run, failed);
  }
}

// Every data connection under TLS too: a server that will not have it gets no file.
bool ProtectDataConnections(RunState& run) {
  if (Exchange(run, "PBSZ 0").IsPositive() && Exchange(run, "PROT P").IsPositive()) return true;
  return RefuseClearText(
      run, "Сервер \"" + run.ServerHost + "\" не поддерживает шифрование передаваемых файлов");
}

bool LogIn(RunState& run) {
  Exchange(run, "USER " + run.UserLogin);
  return Exchange(run, "PASS " + run.UserPassword).IsPositive();
}

// A path such as "www" names a directory in the login's own, but the walk changes directories,
// after which the server would resolve it elsewhere: it is made absolute once, from PWD.
std::string AbsoluteRemotePath(RunState& run, const std::string& RemotePath) {
  if (RemotePath.compare(0, 1, "/") == 0) return RemotePath;
  std::string home;
  Reply reply = Exchange(run, "PWD");
  if (!reply.IsPositive() || !DirectoryOfPwdReply(reply.first_line(), &home)) return RemotePath;
  return JoinRemotePath(home, RemotePath);
}

}  // namespace

void RunUpload(RunState& run, const std::string& LocalMask, const std::string& RemotePath) {
  run.WriteMessage("Открываем соединение с узлом \"" + run.ServerHost + "\"");
  std::string host;
  int port = kFtpPort;
  SplitHostPort(run.ServerHost, &host, &port);
  if (!OpenControlConnection(run, host, port)) {
    ReportFailure(run, {"Не удалось установить соединение с \"" + run.ServerHost + "\""},
                  kExitConnection);
    return;
  }
  if (run.Encrypt && !SecureControlConnection(run, host)) return;
  run.WriteMessage("Производим авторизацию");
  if (!LogIn(run)) {
    ReportFailure(run, {"Авторизоваться на сервере \"" + run.ServerHost + "\" не удалось"},
                  kExitConnection);
    return;
  }
  if (run.Encrypt && !ProtectDataConnections(run)) return;
  run.WriteMessage("Начинаем пересылку файлов");
  UploadTree(run, LocalMask, AbsoluteRemotePath(run, RemotePath));
  run.WriteMessage("Пересылка файлов закончена");
}
