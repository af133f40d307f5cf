// ftp/ is the protocol: replies and their parsers, a control connection's exchanges, the login,
// passive data transfers, remote listings and times, remote paths and names on the wire. It
// knows no run: its functions take a connection of its own and plain settings, and return
// replies and failures as values; what a failure means is the caller's to decide. Here: one
// control connection with what belongs to it, and its command exchanges.
#ifndef VARDEK_FTP_CONTROL_H_
#define VARDEK_FTP_CONTROL_H_

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "ftp/reply.h"
#include "net/socket.h"
#include "net/throttle.h"
#include "net/tls.h"

// Whether the server answers commands sent in one go; some read one and drop the rest.
enum class Pipelining { kUnknown, kWorks, kLosesCommands };

// What a server was found to do, shared by every connection to it: FEAT is asked once, before
// other connections open; pipelining is learnt by whichever connection tries it first.
struct ServerTraits {
  ServerFeatures Features;
  std::atomic<Pipelining> Pipelined{Pipelining::kUnknown};
  // MLSD listed in FEAT but refused (proftpd's <Limit MLSD>): LIST and MDTM from then on.
  std::atomic<bool> MlsdRefused{false};
};

// How a connection works; the same for every connection to a server.
struct FtpSettings {
  int Timeout = 900;  // seconds: every connect, every wait for a reply or a writable socket
  // Names and paths in UTF-8 (RFC 2640), else in the platform's narrow encoding.
  bool Utf8Names = false;
  bool Encrypt = false;       // TLS on the control connection and every data connection
  bool ImplicitTls = false;   // TLS from the control connection's first byte, no AUTH TLS
  TlsSettings Tls;            // what the server's certificate is checked against
  bool BinaryOnce = false;    // TYPE I once per connection rather than before every transfer
  int PassiveAgain = 0;       // how many times a 4xx to PASV or EPSV is asked again
  Throttle* Limit = nullptr;  // what every data connection of the run shares; none: no cap
};

// One control connection, its data connection, and what belongs to them.
struct FtpConnection {
  FtpConnection(const FtpSettings& settings, ServerTraits& server);

  const FtpSettings Settings;
  ServerTraits& Server;
  TSocket ControlConnection;
  TSocket DataConnection;
  // The area files are copied through, made once: under wine a large allocation per file costs
  // more than sending the file.
  std::unique_ptr<char[]> CopyBuffer;
  bool BinaryType = false;                    // TYPE I is in force
  DigestKind HashChosen = DigestKind::kNone;  // what OPTS HASH set for HASH
  std::string RemoteDir;  // the current remote directory, as last entered; empty: unknown
  // A command whose reply nothing waits for at once (a file's time): it goes in one go with the
  // next command, and its reply is kept here for whoever deferred it.
  std::string Deferred;
  Reply DeferredReply;
  std::int64_t DeferredTime = -1;  // the time it gives a file; -1: nothing deferred to tell
};

// Every wait of both connections, in seconds.
void SetTimeout(FtpConnection& ftp, int seconds);

// Sends the command and CR LF on the control connection and reads its whole reply; a deferred
// command goes first, in one go with it.
Reply Exchange(FtpConnection& ftp, const std::string& command);
// Sends the command alone; its reply is the caller's to read.
void SendCommand(FtpConnection& ftp, const std::string& command);
// Sends the deferred command, if any, alone; its reply goes where it would have.
void SendDeferred(FtpConnection& ftp);
// Sends the commands in one go and reads their replies in order: a round trip for them all. A
// server that drops the commands after the first is found out by a reply that does not come
// soon: the server's connections send one command at a time from then on, those unanswered
// again. After a reply cut short the rest are incomplete too.
std::vector<Reply> ExchangeAll(FtpConnection& ftp, const std::vector<std::string>& commands);

// A text with a CR or LF byte would put commands of its own on the control connection.
bool HasLineBreak(const std::string& text);

#endif  // VARDEK_FTP_CONTROL_H_
