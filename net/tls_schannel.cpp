// TLS on Windows: SChannel. Not written yet: every handshake fails, so "/e" never falls back to
// clear text.
#include "net/tls.h"

struct TlsSession::Impl {};

TlsSession::TlsSession(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TlsSession::~TlsSession() = default;

std::unique_ptr<TlsSession> TlsSession::Handshake(sockets::Handle, const TlsSettings&,
                                                  const TlsSession*, const TlsWait&,
                                                  TlsOutcome* outcome) {
  *outcome = TlsOutcome::kFailed;
  return nullptr;
}

bool TlsSession::Send(const char*, int, const TlsWait&) { return false; }
int TlsSession::Receive(char*, int, const TlsWait&) { return -1; }
bool TlsSession::Close(const TlsWait&) { return false; }
bool TlsSession::Resumed() const { return false; }
