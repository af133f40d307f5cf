// TLS for TSocket: one client session over a connected socket. tls_openssl.cpp (Linux) and
// tls_schannel.cpp (Windows) implement it; no TLS or OS header leaks through here.
#ifndef VARDEK_NET_TLS_H_
#define VARDEK_NET_TLS_H_

#include <functional>
#include <memory>
#include <string>

#include "net/socket_os.h"

// What the server's certificate is checked against.
struct TlsSettings {
  // The server's host name in ASCII, without a trailing dot: the certificate must name it among
  // its DNS names (never by its common name alone), and the handshake asks for it (SNI).
  std::string server_name;
  // Or, for a server given as an address, the address connected to: the certificate must name it
  // among its IP addresses.
  sockets::Address address;
  // When not empty, the SHA-256 digest (32 bytes) of the one certificate that is accepted, in
  // place of the chain and the name; its dates are not looked at.
  std::string pin;
};

enum class TlsOutcome { kEstablished, kFailed, kCertificateRefused };

// Waits until the socket is writable (true) or readable (false), within the connection's
// time-out; false when the time is up or the socket failed.
using TlsWait = std::function<bool(bool for_writing)>;

class TlsSession {
 public:
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // The client handshake on a connected socket that never blocks. resume: a session of the same
  // run (the control connection's) whose TLS session this one resumes, or null. Null when the
  // handshake failed; outcome tells why.
  static std::unique_ptr<TlsSession> Handshake(sockets::Handle handle, const TlsSettings& settings,
                                               const TlsSession* resume, const TlsWait& wait,
                                               TlsOutcome* outcome);
  // Sends every byte; false on an error or when a wait ran out.
  bool Send(const char* data, int length, const TlsWait& wait);
  // Bytes received (> 0); 0 when the peer closed, with close_notify or without, or a wait ran
  // out; -1 on an error, such as a reset. Reading goes on after Close.
  int Receive(char* buffer, int size, const TlsWait& wait);
  // Sends close_notify, so that the peer can tell the end of the data from a cut.
  bool Close(const TlsWait& wait);
  // Whether bytes have arrived that Receive has not handed out yet, decrypted or not.
  bool HasBuffered() const;

 private:
  struct Impl;
  explicit TlsSession(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// Reads a SHA-256 fingerprint as `openssl x509 -noout -fingerprint -sha256` prints it: 64
// hexadecimal digits of either case, colons allowed between them, the line's "sha256
// Fingerprint=" (any case) allowed before them, blanks around. False when the text is no such
// thing.
bool ParseFingerprint(const std::string& text, std::string* digest);

#endif  // VARDEK_NET_TLS_H_
