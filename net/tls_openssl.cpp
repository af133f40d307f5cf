// TLS on Linux: OpenSSL 3 over the socket that never blocks; every wait is the caller's. The
// trusted roots are OpenSSL's default paths (which honour SSL_CERT_FILE and SSL_CERT_DIR).
//
// The library is loaded when the first session starts: mapped at the program's start, it would
// cost a run without "/e" one and a half megabytes of memory.
#include <dlfcn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "net/tls.h"

namespace {

// clang-format off
#define VARDEK_OPENSSL_CALLS(X)                                                                    \
  X(TLS_client_method) X(SSL_CTX_new) X(SSL_CTX_free) X(SSL_CTX_ctrl)                              \
  X(SSL_CTX_set_default_verify_paths) X(SSL_CTX_sess_set_new_cb) X(SSL_CTX_set_ex_data)            \
  X(SSL_CTX_get_ex_data) X(SSL_new) X(SSL_free) X(SSL_set_fd) X(SSL_set_verify) X(SSL_get0_param)  \
  X(SSL_ctrl) X(SSL_CTX_set_options) X(SSL_get_SSL_CTX)                                            \
  X(SSL_SESSION_free) X(SSL_SESSION_dup) X(SSL_set_session) X(SSL_connect) X(SSL_get_error)        \
  X(SSL_get_verify_result) X(SSL_get0_peer_certificate) X(SSL_write) X(SSL_read)                   \
  X(SSL_shutdown) X(X509_VERIFY_PARAM_set1_ip) X(X509_VERIFY_PARAM_set1_host)                      \
  X(X509_VERIFY_PARAM_set_hostflags)                                                               \
  X(X509_digest) X(EVP_sha256) X(ERR_clear_error) X(SSL_has_pending)
// clang-format on

// The calls this file makes, found in libssl.so.3 and the libcrypto it brings.
struct OpenSsl {
#define VARDEK_DECLARE(name) decltype(&::name) name = nullptr;
  VARDEK_OPENSSL_CALLS(VARDEK_DECLARE)
#undef VARDEK_DECLARE
  bool loaded = false;
};

// Loaded once for the process and never changed afterwards; null when OpenSSL 3 is not there.
const OpenSsl* Library() {
  static const OpenSsl library = [] {
    OpenSsl found;
    void* handle = dlopen("libssl.so.3", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return found;
    bool complete = true;
#define VARDEK_FIND(name)                                                    \
  found.name = reinterpret_cast<decltype(found.name)>(dlsym(handle, #name)); \
  complete = complete && found.name != nullptr;
    VARDEK_OPENSSL_CALLS(VARDEK_FIND)
#undef VARDEK_FIND
    found.loaded = complete;
    return found;
  }();
  return library.loaded ? &library : nullptr;
}

// What a run's sessions share: one context, and the latest TLS session the server handed out,
// which the next data connection resumes.
struct Shared {
  const OpenSsl& api;
  SSL_CTX* context = nullptr;
  SSL_SESSION* latest = nullptr;
  int group = 0;  // the key exchange the control connection's handshake settled on; 0: none yet

  explicit Shared(const OpenSsl& library) : api(library) {}
  ~Shared() {
    if (latest != nullptr) api.SSL_SESSION_free(latest);
    if (context != nullptr) api.SSL_CTX_free(context);
  }
};

// TLS 1.3 hands out tickets after the handshake, and a server may take each one once only: each
// replaces the last, so that a data connection resumes the newest.
int KeepLatestSession(SSL* ssl, SSL_SESSION* session) {
  const OpenSsl& api = *Library();
  auto* shared = static_cast<Shared*>(api.SSL_CTX_get_ex_data(api.SSL_get_SSL_CTX(ssl), 0));
  if (shared->latest != nullptr) api.SSL_SESSION_free(shared->latest);
  shared->latest = session;
  return 1;  // the reference is ours now
}

std::shared_ptr<Shared> NewShared(const OpenSsl& api) {
  auto shared = std::make_shared<Shared>(api);
  shared->context = api.SSL_CTX_new(api.TLS_client_method());
  if (shared->context == nullptr) return nullptr;
  api.SSL_CTX_set_ex_data(shared->context, 0, shared.get());
  api.SSL_CTX_ctrl(shared->context, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
  api.SSL_CTX_set_default_verify_paths(shared->context);
  // A peer that closes without close_notify has closed, as with plain FTP; a reset stays an
  // error.
  api.SSL_CTX_set_options(shared->context, SSL_OP_IGNORE_UNEXPECTED_EOF);
  api.SSL_CTX_ctrl(shared->context, SSL_CTRL_MODE,
                   SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER, nullptr);
  api.SSL_CTX_ctrl(shared->context, SSL_CTRL_SET_SESS_CACHE_MODE,
                   SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE, nullptr);
  api.SSL_CTX_sess_set_new_cb(shared->context, KeepLatestSession);
  return shared;
}

// The system's roots and the name or the address connected to; with a pin, the pin alone,
// checked once the handshake is done.
bool SetChecks(const OpenSsl& api, SSL* ssl, const TlsSettings& settings) {
  const std::string& name = settings.server_name;
  // A host name goes out in the handshake with a pin too: a server of several names shows the
  // certificate of the name asked for.
  if (!name.empty() && api.SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                                    const_cast<char*>(name.c_str())) != 1) {
    return false;
  }
  if (!settings.pin.empty()) {
    api.SSL_set_verify(ssl, SSL_VERIFY_NONE, nullptr);
    return true;
  }
  api.SSL_set_verify(ssl, SSL_VERIFY_PEER, nullptr);
  X509_VERIFY_PARAM* param = api.SSL_get0_param(ssl);
  const sockets::Address& address = settings.address;
  if (address.family != 0) {
    return api.X509_VERIFY_PARAM_set1_ip(param, address.bytes, address.family == 4 ? 4 : 16) == 1;
  }
  // A common name is no name for a host (RFC 6125): only the subjectAltName's DNS names count.
  api.X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
  return !name.empty() && api.X509_VERIFY_PARAM_set1_host(param, name.c_str(), name.size()) == 1;
}

bool MatchesPin(const OpenSsl& api, SSL* ssl, const std::string& pin) {
  X509* certificate = api.SSL_get0_peer_certificate(ssl);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  return certificate != nullptr &&
         api.X509_digest(certificate, api.EVP_sha256(), digest, &size) == 1 &&
         std::string(reinterpret_cast<char*>(digest), size) == pin;
}

// Runs an OpenSSL call until it is done, waiting as it asks; its result, or <= 0 when it failed
// or a wait ran out.
template <typename Call>
int Retry(const OpenSsl& api, SSL* ssl, const TlsWait& wait, Call call) {
  for (;;) {
    int result = call();
    if (result > 0) return result;
    int error = api.SSL_get_error(ssl, result);
    if (error == SSL_ERROR_WANT_READ && wait(false)) continue;
    if (error == SSL_ERROR_WANT_WRITE && wait(true)) continue;
    api.ERR_clear_error();
    return error == SSL_ERROR_ZERO_RETURN ? 0 : -1;
  }
}

}  // namespace

struct TlsSession::Impl {
  std::shared_ptr<Shared> shared;
  SSL* ssl = nullptr;

  const OpenSsl& api() const { return shared->api; }
  ~Impl() {
    if (ssl != nullptr) api().SSL_free(ssl);
  }
};

TlsSession::TlsSession(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TlsSession::~TlsSession() = default;

std::unique_ptr<TlsSession> TlsSession::Handshake(sockets::Handle handle,
                                                  const TlsSettings& settings,
                                                  const TlsSession* resume, const TlsWait& wait,
                                                  TlsOutcome* outcome) {
  *outcome = TlsOutcome::kFailed;
  const OpenSsl* library = Library();
  if (library == nullptr) return nullptr;
  const OpenSsl& api = *library;
  auto impl = std::make_unique<Impl>();
  impl->shared = resume != nullptr ? resume->impl_->shared : NewShared(api);
  if (impl->shared == nullptr) return nullptr;
  SSL* ssl = impl->ssl = api.SSL_new(impl->shared->context);
  if (ssl == nullptr || api.SSL_set_fd(ssl, static_cast<int>(handle)) != 1 ||
      !SetChecks(api, ssl, settings)) {
    return nullptr;
  }
  // A copy: OpenSSL takes a TLS 1.3 session that it resumed once for spent and would not offer it
  // again, while proftpd hands out no new ticket on a data connection and takes the control
  // connection's again and again.
  if (resume != nullptr && impl->shared->latest != nullptr) {
    SSL_SESSION* copy = api.SSL_SESSION_dup(impl->shared->latest);
    api.SSL_set_session(ssl, copy);
    api.SSL_SESSION_free(copy);
  }
  // vsftpd takes P-256 alone, while OpenSSL offers a key for X25519 first: the server asks again
  // (HelloRetryRequest), a round trip more for each file. A data connection offers the group
  // that the control connection's handshake settled on.
  int group = impl->shared->group;
  if (resume != nullptr && group > 0) api.SSL_ctrl(ssl, SSL_CTRL_SET_GROUPS, 1, &group);
  if (Retry(api, ssl, wait, [&api, ssl] { return api.SSL_connect(ssl); }) <= 0) {
    if (api.SSL_get_verify_result(ssl) != X509_V_OK) *outcome = TlsOutcome::kCertificateRefused;
    return nullptr;
  }
  if (resume == nullptr) {
    const long settled = api.SSL_ctrl(ssl, SSL_CTRL_GET_NEGOTIATED_GROUP, 0, nullptr);
    // A group that OpenSSL knows by no number cannot be offered.
    if (settled > 0 && (settled & TLSEXT_nid_unknown) == 0) {
      impl->shared->group = static_cast<int>(settled);
    }
  }
  if (!settings.pin.empty() && !MatchesPin(api, ssl, settings.pin)) {
    *outcome = TlsOutcome::kCertificateRefused;
    return nullptr;
  }
  *outcome = TlsOutcome::kEstablished;
  return std::unique_ptr<TlsSession>(new TlsSession(std::move(impl)));
}

bool TlsSession::Send(const char* data, int length, const TlsWait& wait) {
  const OpenSsl& api = impl_->api();
  SSL* ssl = impl_->ssl;
  while (length > 0) {
    int sent = Retry(api, ssl, wait, [&] { return api.SSL_write(ssl, data, length); });
    if (sent <= 0) return false;
    data += sent;
    length -= sent;
  }
  return true;
}

int TlsSession::Receive(char* buffer, int size, const TlsWait& wait) {
  const OpenSsl& api = impl_->api();
  SSL* ssl = impl_->ssl;
  return Retry(api, ssl, wait, [&] { return api.SSL_read(ssl, buffer, size); });
}

bool TlsSession::Close(const TlsWait& wait) {
  const OpenSsl& api = impl_->api();
  SSL* ssl = impl_->ssl;
  // 0 once our close_notify is out.
  int result = api.SSL_shutdown(ssl);
  while (result < 0) {
    if (api.SSL_get_error(ssl, result) != SSL_ERROR_WANT_WRITE || !wait(true)) {
      api.ERR_clear_error();
      return false;
    }
    result = api.SSL_shutdown(ssl);
  }
  return true;
}

bool TlsSession::HasBuffered() const { return impl_->api().SSL_has_pending(impl_->ssl) == 1; }
