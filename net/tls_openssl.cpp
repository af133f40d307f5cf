// TLS on Linux: OpenSSL 3 over the socket that never blocks; every wait is the caller's. The
// trusted roots are OpenSSL's default paths (which honour SSL_CERT_FILE and SSL_CERT_DIR).
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include "net/tls.h"

namespace {

// What a run's sessions share: one context, and the latest TLS session the server handed out,
// which the next data connection resumes.
struct Shared {
  SSL_CTX* context = nullptr;
  SSL_SESSION* latest = nullptr;

  ~Shared() {
    if (latest != nullptr) SSL_SESSION_free(latest);
    if (context != nullptr) SSL_CTX_free(context);
  }
};

bool* TicketSeen(SSL* ssl) { return static_cast<bool*>(SSL_get_app_data(ssl)); }

// TLS 1.3 hands out tickets after the handshake, and a server may take each one once only: each
// replaces the last, so that a data connection resumes the newest.
int KeepLatestSession(SSL* ssl, SSL_SESSION* session) {
  auto* shared = static_cast<Shared*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
  if (shared->latest != nullptr) SSL_SESSION_free(shared->latest);
  shared->latest = session;
  *TicketSeen(ssl) = true;
  return 1;  // the reference is ours now
}

std::shared_ptr<Shared> NewShared() {
  auto shared = std::make_shared<Shared>();
  shared->context = SSL_CTX_new(TLS_client_method());
  if (shared->context == nullptr) return nullptr;
  SSL_CTX_set_app_data(shared->context, shared.get());
  SSL_CTX_set_min_proto_version(shared->context, TLS1_2_VERSION);
  SSL_CTX_set_default_verify_paths(shared->context);
  SSL_CTX_set_mode(shared->context,
                   SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_CTX_set_session_cache_mode(shared->context,
                                 SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(shared->context, KeepLatestSession);
  return shared;
}

// The system's roots and the name or address as the user gave it; with a pin, the pin alone,
// checked once the handshake is done.
bool SetChecks(SSL* ssl, const TlsSettings& settings) {
  if (!settings.pin.empty()) {
    SSL_set_verify(ssl, SSL_VERIFY_NONE, nullptr);
    return true;
  }
  SSL_set_verify(ssl, SSL_VERIFY_PEER, nullptr);
  X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
  if (X509_VERIFY_PARAM_set1_ip_asc(param, settings.server_name.c_str()) == 1) return true;
  return SSL_set1_host(ssl, settings.server_name.c_str()) == 1 &&
         SSL_set_tlsext_host_name(ssl, settings.server_name.c_str()) == 1;
}

bool MatchesPin(SSL* ssl, const std::string& pin) {
  X509* certificate = SSL_get0_peer_certificate(ssl);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  return certificate != nullptr && X509_digest(certificate, EVP_sha256(), digest, &size) == 1 &&
         std::string(reinterpret_cast<char*>(digest), size) == pin;
}

// Runs an OpenSSL call until it is done, waiting as it asks; its result, or <= 0 when it failed
// or a wait ran out.
template <typename Call>
int Retry(SSL* ssl, const TlsWait& wait, Call call) {
  for (;;) {
    int result = call();
    if (result > 0) return result;
    int error = SSL_get_error(ssl, result);
    if (error == SSL_ERROR_WANT_READ && wait(false)) continue;
    if (error == SSL_ERROR_WANT_WRITE && wait(true)) continue;
    return error == SSL_ERROR_ZERO_RETURN ? 0 : -1;
  }
}

}  // namespace

struct TlsSession::Impl {
  std::shared_ptr<Shared> shared;
  SSL* ssl = nullptr;
  int socket = -1;
  bool ticket_seen = false;

  ~Impl() {
    if (ssl != nullptr) SSL_free(ssl);
  }
};

TlsSession::TlsSession(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TlsSession::~TlsSession() = default;

std::unique_ptr<TlsSession> TlsSession::Handshake(sockets::Handle handle,
                                                  const TlsSettings& settings,
                                                  const TlsSession* resume, const TlsWait& wait,
                                                  TlsOutcome* outcome) {
  *outcome = TlsOutcome::kFailed;
  auto impl = std::make_unique<Impl>();
  impl->shared = resume != nullptr ? resume->impl_->shared : NewShared();
  if (impl->shared == nullptr) return nullptr;
  impl->ssl = SSL_new(impl->shared->context);
  impl->socket = static_cast<int>(handle);
  if (impl->ssl == nullptr || SSL_set_fd(impl->ssl, impl->socket) != 1 ||
      !SetChecks(impl->ssl, settings)) {
    return nullptr;
  }
  SSL_set_app_data(impl->ssl, &impl->ticket_seen);
  // A copy: OpenSSL takes a TLS 1.3 session that it resumed once for spent and would not offer it
  // again, while proftpd hands out no new ticket on a data connection and takes the control
  // connection's again and again.
  if (resume != nullptr && impl->shared->latest != nullptr) {
    SSL_SESSION* copy = SSL_SESSION_dup(impl->shared->latest);
    SSL_set_session(impl->ssl, copy);
    SSL_SESSION_free(copy);
  }
  SSL* ssl = impl->ssl;
  if (Retry(ssl, wait, [ssl] { return SSL_connect(ssl); }) <= 0) {
    if (SSL_get_verify_result(ssl) != X509_V_OK) *outcome = TlsOutcome::kCertificateRefused;
    ERR_clear_error();
    return nullptr;
  }
  if (!settings.pin.empty() && !MatchesPin(ssl, settings.pin)) {
    *outcome = TlsOutcome::kCertificateRefused;
    return nullptr;
  }
  *outcome = TlsOutcome::kEstablished;
  return std::unique_ptr<TlsSession>(new TlsSession(std::move(impl)));
}

bool TlsSession::Send(const char* data, int length, const TlsWait& wait) {
  SSL* ssl = impl_->ssl;
  while (length > 0) {
    int sent = Retry(ssl, wait, [ssl, data, length] { return SSL_write(ssl, data, length); });
    if (sent <= 0) {
      ERR_clear_error();
      return false;
    }
    data += sent;
    length -= sent;
  }
  return true;
}

int TlsSession::Receive(char* buffer, int size, const TlsWait& wait) {
  SSL* ssl = impl_->ssl;
  int got = Retry(ssl, wait, [ssl, buffer, size] { return SSL_read(ssl, buffer, size); });
  if (got < 0) ERR_clear_error();
  return got;
}

bool TlsSession::Close(const TlsWait& wait) {
  SSL* ssl = impl_->ssl;
  // 0 once our close_notify is out.
  int result = SSL_shutdown(ssl);
  while (result < 0) {
    int error = SSL_get_error(ssl, result);
    if (error != SSL_ERROR_WANT_WRITE || !wait(true)) {
      ERR_clear_error();
      return false;
    }
    result = SSL_shutdown(ssl);
  }
  // A connection that only sends never reads the TLS 1.3 tickets its server sent after the
  // handshake, and the next data connection could only offer a ticket taken already (vsftpd then
  // answers 522). They come before anything else, so they are read up to the server's close,
  // which our own end of sending brings about.
  if (SSL_version(ssl) < TLS1_3_VERSION || impl_->ticket_seen) return true;
  shutdown(impl_->socket, SHUT_WR);
  char ignored[512];
  while (!impl_->ticket_seen &&
         Retry(ssl, wait, [ssl, &ignored] { return SSL_read(ssl, ignored, sizeof ignored); }) > 0) {
  }
  ERR_clear_error();
  return true;
}

bool TlsSession::Resumed() const { return SSL_session_reused(impl_->ssl) == 1; }
