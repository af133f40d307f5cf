// RunUpload: from the connection to the closing message.
#include "upload/run_upload.h"

#include "upload/control.h"
#include "upload/remote_listing.h"
#include "upload/remote_path.h"
#include "upload/reply.h"
#include "upload/walk.h"

namespace {

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
  return run.ControlConnection->Connect(run.options.ServerAddress, run.options.ServerPort) &&
         AwaitGreeting(*run.ControlConnection);
}

// Reports why the run cannot go on encrypted; the control connection is closed, so that nothing
// more, least of all the login, goes out in the clear.
bool RefuseClearText(RunState& run, const std::string& message) {
  run.ControlConnection->Close();
  Report(run, {message}, kExitConnection);
  return false;
}

// RFC 4217: AUTH TLS before the login.
bool SecureControlConnection(RunState& run) {
  const std::string failed =
      "Не удалось установить шифрованное соединение с \"" + run.options.ServerHost + "\"";
  Reply reply = Exchange(run, "AUTH TLS");
  if (!reply.complete) return RefuseClearText(run, failed);
  if (!reply.IsPositive()) {
    return RefuseClearText(run,
                           "Сервер \"" + run.options.ServerHost + "\" не поддерживает шифрование");
  }
  const TlsSettings settings{CertificateName(run.options.ServerAddress),
                             run.options.ServerAddress.address, run.options.TlsPin};
  switch (run.ControlConnection->StartTls(settings)) {
    case TlsOutcome::kEstablished:
      return true;
    case TlsOutcome::kCertificateRefused:
      return RefuseClearText(run,
                             "Сертификат сервера \"" + run.options.ServerHost + "\" не принят");
    default:
      return RefuseClearText(run, failed);
  }
}

// Every data connection under TLS too: a server that will not have it gets no file.
bool ProtectDataConnections(RunState& run) {
  if (Exchange(run, "PBSZ 0").IsPositive() && Exchange(run, "PROT P").IsPositive()) return true;
  return RefuseClearText(run, "Сервер \"" + run.options.ServerHost +
                                  "\" не поддерживает шифрование передаваемых файлов");
}

bool LogIn(RunState& run) {
  Exchange(run, "USER " + run.options.UserLogin);
  return Exchange(run, "PASS " + run.options.UserPassword).IsPositive();
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

// Digits in groups of three, as Russian text writes large numbers: 12 345.
std::string Grouped(std::int64_t number) {
  std::string digits = std::to_string(number);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(at, " ");
  return digits;
}

// "/d" says what it did, since it sends files in silence.
void WriteSummary(RunState& run) {
  run.WriteMessage("Отправлено файлов: " + Grouped(run.FilesSent) + " (" +
                   Grouped(run.BytesSent) + " байт), без изменений: " +
                   Grouped(run.FilesUnchanged));
}

}  // namespace

void RunUpload(RunState& run) {
  run.WriteMessage("Открываем соединение с узлом \"" + run.options.ServerHost + "\"");
  if (!OpenControlConnection(run)) {
    Report(run, {"Не удалось установить соединение с \"" + run.options.ServerHost + "\""},
           kExitConnection);
    return;
  }
  if (run.options.Encrypt && !SecureControlConnection(run)) return;
  run.WriteMessage("Производим авторизацию");
  if (!LogIn(run)) {
    Report(run, {"Авторизоваться на сервере \"" + run.options.ServerHost + "\" не удалось"},
           kExitConnection);
    return;
  }
  if (run.options.Encrypt && !ProtectDataConnections(run)) return;
  if (run.options.Differs) LearnFeatures(run);
  run.WriteMessage("Начинаем пересылку файлов");
  UploadTree(run, run.options.LocalMask, AbsoluteRemotePath(run, run.options.RemotePath));
  if (run.options.Differs) WriteSummary(run);
  run.WriteMessage("Пересылка файлов закончена");
}
