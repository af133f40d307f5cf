// Opening a control connection, step by step: the connect and the greeting, TLS (RFC 4217), the
// login, protected data connections; and what the server says it can do.
#ifndef VARDEK_FTP_LOGIN_H_
#define VARDEK_FTP_LOGIN_H_

#include <string>

#include "ftp/control.h"
#include "net/address.h"

// Where opening a connection stopped.
enum class LoginFault {
  kNone,
  kNoConnection,        // no connect, or no greeting
  kNoTls,               // AUTH TLS refused: the server has no TLS
  kTlsFailed,           // AUTH TLS unanswered, or the handshake failed
  kCertificateRefused,  // the server's certificate is not the one the settings accept
  kLoginRefused,
  kDataUnprotected,  // PBSZ or PROT refused: the files would travel in the clear
};

struct LoginResult {
  LoginFault fault = LoginFault::kNone;
  FailureKind kind = FailureKind::kPermanent;

  bool failed() const { return fault != LoginFault::kNone; }
};

// Connects to the host's port and reads the greeting; with implicit FTPS after the TLS handshake.
// Forgets what the connection knew.
LoginResult Greet(FtpConnection& ftp, const Host& host, int port);
// AUTH TLS and the handshake. On a failure the connection is closed, so that nothing more, least
// of all the login, goes out in the clear.
LoginResult SecureControl(FtpConnection& ftp);
// The TLS handshake on the control connection and the certificate's check; closed as above.
LoginResult Handshake(FtpConnection& ftp);
LoginResult LogIn(FtpConnection& ftp, const std::string& login, const std::string& password);
// PBSZ and PROT: every data connection under TLS too; closed as above when the server refuses.
LoginResult ProtectData(FtpConnection& ftp);

// FEAT: what the server can do, kept in the server's traits (none after a refusal); the reply.
Reply LearnFeatures(FtpConnection& ftp);
// OPTS UTF8 ON where the settings ask for UTF-8 names and FEAT said the server takes them; the
// reply is not judged: servers that read UTF-8 anyway answer 501 or 504.
void UseUtf8Names(FtpConnection& ftp);

#endif  // VARDEK_FTP_LOGIN_H_
