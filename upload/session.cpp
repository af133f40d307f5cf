// The control connection from the connect to the login, and where it stands.
#include "upload/session.h"

namespace {

// The greeting may be preceded by other replies (such as 120); it is over at a "220 " line. A
// server sending reply after reply gets one time-out for them all. How it failed: a server that
// turned the connection away for now ("421 Too many users") is no lost connection.
bool AwaitGreeting(TSocket& control, Failure::Kind* kind) {
  const TSocket::Clock::time_point deadline = control.ReadDeadline();
  *kind = Failure::Kind::kLost;
  for (;;) {
    Reply reply = ReadReplyBy(control, deadline);
    if (!reply.complete) return false;
    if (reply.last_line.compare(0, 4, "220 ") == 0) return true;
    if (reply.first_line()[0] == '4') *kind = Failure::Kind::kRefused;
  }
}

Failure Failed(const std::string& message, Failure::Kind kind) {
  return Failure({message}, kExitConnection, Walk::kGoesOn, kind);
}

// Why the run cannot go on encrypted; the control connection is closed, so that nothing more,
// least of all the login, goes out in the clear.
Failure RefuseClearText(RunState& run, const std::string& message, Failure::Kind kind) {
  run.ControlConnection->Close();
  return Failed(message, kind);
}

// RFC 4217: AUTH TLS before the login.
Failure SecureControlConnection(RunState& run) {
  const std::string& host = run.options.ServerHost;
  const std::string failed = "Не удалось установить шифрованное соединение с \"" + host + "\"";
  Reply reply = Exchange(run, "AUTH TLS");
  if (!reply.complete) return RefuseClearText(run, failed, Failure::Kind::kLost);
  if (!reply.IsPositive()) {
    return RefuseClearText(run, "Сервер \"" + host + "\" не поддерживает шифрование",
                           Failure::Kind::kPermanent);
  }
  const TlsSettings settings{CertificateName(run.options.ServerAddress),
                             run.options.ServerAddress.address, run.options.TlsPin};
  switch (run.ControlConnection->StartTls(settings)) {
    case TlsOutcome::kEstablished:
      return Failure();
    case TlsOutcome::kCertificateRefused:
      return RefuseClearText(run, "Сертификат сервера \"" + host + "\" не принят",
                             Failure::Kind::kPermanent);
    default:
      return RefuseClearText(run, failed, Failure::Kind::kLost);
  }
}

// Every data connection under TLS too: a server that will not have it gets no file.
Failure ProtectDataConnections(RunState& run) {
  for (const char* command : {"PBSZ 0", "PROT P"}) {
    const Reply reply = Exchange(run, command);
    if (reply.IsPositive()) continue;
    return RefuseClearText(
        run,
        "Сервер \"" + run.options.ServerHost + "\" не поддерживает шифрование передаваемых файлов",
        KindOf(reply));
  }
  return Failure();
}

Failure LogIn(RunState& run) {
  Exchange(run, "USER " + run.options.UserLogin);
  const Reply reply = Exchange(run, "PASS " + run.options.UserPassword);
  if (reply.IsPositive()) return Failure();
  return Failed("Авторизоваться на сервере \"" + run.options.ServerHost + "\" не удалось",
                KindOf(reply));
}

}  // namespace

Failure OpenSession(RunState& run) {
  if (run.Announce) {
    run.WriteMessage("Открываем соединение с узлом \"" + run.options.ServerHost + "\"");
  }
  run.BinaryType = false;
  run.RemoteDir.clear();
  Failure::Kind kind = Failure::Kind::kLost;
  if (!run.ControlConnection->Connect(run.options.ServerAddress, run.options.ServerPort) ||
      !AwaitGreeting(*run.ControlConnection, &kind)) {
    run.ControlConnection->Close();
    return Failed("Не удалось установить соединение с \"" + run.options.ServerHost + "\"", kind);
  }
  if (run.options.Encrypt) {
    Failure failure = SecureControlConnection(run);
    if (failure.failed()) return failure;
  }
  if (run.Announce) run.WriteMessage("Производим авторизацию");
  Failure failure = LogIn(run);
  if (!failure.failed() && run.options.Encrypt) failure = ProtectDataConnections(run);
  // A connection after the first, whose FEAT told that the server takes UTF-8 names.
  if (!failure.failed()) UseUtf8Names(run);
  return failure;
}

void UseUtf8Names(RunState& run) {
  if (run.options.Utf8Names && run.shared.Features.utf8) Exchange(run, "OPTS UTF8 ON");
}

Failure ChangeDirectory(RunState& run, const std::string& path, Walk walk) {
  const Reply reply = Exchange(run, "CWD " + path);
  if (reply.IsPositive()) {
    run.RemoteDir = path;
    return Failure();
  }
  return Failure({NotFoundMessage(path)}, kExitDirectory, walk, KindOf(reply));
}
