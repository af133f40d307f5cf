// The control connection from the connect to the login.
#include "ftp/login.h"

namespace {

// The greeting may be preceded by other replies (such as 120); it is over at a "220 " line. A
// server sending reply after reply gets one time-out for them all. How it failed: a server that
// turned the connection away for now ("421 Too many users") is no lost connection.
bool AwaitGreeting(TSocket& control, FailureKind* kind) {
  const TSocket::Clock::time_point deadline = control.ReadDeadline();
  *kind = FailureKind::kLost;
  for (;;) {
    Reply reply = ReadReplyBy(control, deadline);
    if (!reply.complete) return false;
    if (reply.last_line.compare(0, 4, "220 ") == 0) return true;
    if (reply.first_line()[0] == '4') *kind = FailureKind::kRefused;
  }
}

LoginResult Closed(FtpConnection& ftp, LoginFault fault, FailureKind kind) {
  ftp.ControlConnection.Close();
  return {fault, kind};
}

}  // namespace

LoginResult Greet(FtpConnection& ftp, const Host& host, int port) {
  ftp.BinaryType = false;
  ftp.HashChosen = DigestKind::kNone;
  ftp.Deferred.clear();
  ftp.DeferredTime = -1;
  ftp.RemoteDir.clear();
  FailureKind kind = FailureKind::kLost;
  if (!ftp.ControlConnection.Connect(host, port)) {
    return Closed(ftp, LoginFault::kNoConnection, kind);
  }
  // Implicit FTPS: the greeting comes under TLS already.
  if (ftp.Settings.ImplicitTls) {
    const LoginResult secured = Handshake(ftp);
    if (secured.failed()) return secured;
  }
  if (!AwaitGreeting(ftp.ControlConnection, &kind)) {
    return Closed(ftp, LoginFault::kNoConnection, kind);
  }
  return {};
}

LoginResult SecureControl(FtpConnection& ftp) {
  Reply reply = Exchange(ftp, "AUTH TLS");
  if (!reply.complete) return Closed(ftp, LoginFault::kTlsFailed, FailureKind::kLost);
  if (!reply.IsPositive()) return Closed(ftp, LoginFault::kNoTls, FailureKind::kPermanent);
  return Handshake(ftp);
}

LoginResult Handshake(FtpConnection& ftp) {
  switch (ftp.ControlConnection.StartTls(ftp.Settings.Tls)) {
    case TlsOutcome::kEstablished:
      return {};
    case TlsOutcome::kCertificateRefused:
      return Closed(ftp, LoginFault::kCertificateRefused, FailureKind::kPermanent);
    default:
      return Closed(ftp, LoginFault::kTlsFailed, FailureKind::kLost);
  }
}

LoginResult LogIn(FtpConnection& ftp, const std::string& login, const std::string& password) {
  Exchange(ftp, "USER " + login);
  const Reply reply = Exchange(ftp, "PASS " + password);
  if (reply.IsPositive()) return {};
  return {LoginFault::kLoginRefused, KindOf(reply)};
}

LoginResult ProtectData(FtpConnection& ftp) {
  for (const char* command : {"PBSZ 0", "PROT P"}) {
    const Reply reply = Exchange(ftp, command);
    if (!reply.IsPositive()) return Closed(ftp, LoginFault::kDataUnprotected, KindOf(reply));
  }
  return {};
}

Reply LearnFeatures(FtpConnection& ftp) {
  const Reply reply = Exchange(ftp, "FEAT");
  ftp.Server.Features = ParseFeatures(reply);
  return reply;
}

void UseUtf8Names(FtpConnection& ftp) {
  if (ftp.Settings.Utf8Names && ftp.Server.Features.utf8) Exchange(ftp, "OPTS UTF8 ON");
}
