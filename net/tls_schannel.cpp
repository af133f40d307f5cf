// TLS on Windows: SChannel over the socket that never blocks; every wait is the caller's. The
// server's certificate is checked here, against the roots of the Windows store or the pin:
// SChannel's own check is off, since under wine it accepts any certificate.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#define SECURITY_WIN32
// For SCH_CREDENTIALS, the only credentials with which SChannel offers TLS 1.3.
#define SCHANNEL_USE_BLACKLISTS
// In this order, which clang-format would change: each needs what those before it declare.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <bcrypt.h>
#include <security.h>
#include <subauth.h>
#include <wincrypt.h>
#include <schannel.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "net/tls.h"

namespace {

constexpr unsigned long kContextRequests = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                           ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                           ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                                           ISC_REQ_MANUAL_CRED_VALIDATION;
// No client certificate is ever offered (vsftpd asks for one and does without), and SChannel
// leaves the server's certificate to this file.
constexpr DWORD kCredentialFlags =
    SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
// Wine ignores the TLS parameters of SCH_CREDENTIALS and agrees to TLS 1.1 with a server that
// offers no more: the protocol is checked again once the handshake is done.
constexpr DWORD kBelowTls12 =
    SP_PROT_PCT1 | SP_PROT_SSL2 | SP_PROT_SSL3 | SP_PROT_TLS1_0 | SP_PROT_TLS1_1;
// SECURITY_FLAG_IGNORE_CERT_CN_INVALID of wininet.h, which this file has no other use for.
constexpr DWORD kIgnoreNameMismatch = 0x00001000;
constexpr int kRecordsPerSend = 16;
constexpr char kAlertRecord = 0x15;  // the content type of a TLS record that holds an alert
// A handshake token that could not go out, a failure that SChannel has no status for.
constexpr SECURITY_STATUS kNotSent = SEC_E_INTERNAL_ERROR;

struct ContextBufferRelease {
  void operator()(void* buffer) const { FreeContextBuffer(buffer); }
};
using ContextBuffer = std::unique_ptr<void, ContextBufferRelease>;

struct CertificateRelease {
  void operator()(const CERT_CONTEXT* certificate) const {
    CertFreeCertificateContext(certificate);
  }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateRelease>;

struct ChainRelease {
  void operator()(const CERT_CHAIN_CONTEXT* chain) const { CertFreeCertificateChain(chain); }
};
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainRelease>;

struct LocalRelease {
  void operator()(void* memory) const { LocalFree(memory); }
};

// The run's one credentials handle, held by every session of the run: real SChannel resumes a
// session only under the credentials handle and the target name that made it.
struct Credentials {
  CredHandle handle{};
  bool acquired = false;

  ~Credentials() {
    if (acquired) FreeCredentialsHandle(&handle);
  }
};

bool AcquireWith(void* description, CredHandle* handle) {
  TimeStamp expiry;
  return AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND,
                                   nullptr, description, nullptr, nullptr, handle,
                                   &expiry) == SEC_E_OK;
}

// TLS 1.2 and 1.3 where SChannel knows SCH_CREDENTIALS (Windows 10 1809 and later); elsewhere
// TLS 1.2 through SCHANNEL_CRED, with which asking for TLS 1.3 fails.
std::shared_ptr<Credentials> AcquireCredentials() {
  auto credentials = std::make_shared<Credentials>();
  TLS_PARAMETERS parameters{};
  parameters.grbitDisabledProtocols =
      ~static_cast<DWORD>(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT);
  SCH_CREDENTIALS current{};
  current.dwVersion = SCH_CREDENTIALS_VERSION;
  current.dwFlags = kCredentialFlags;
  current.cTlsParameters = 1;
  current.pTlsParameters = &parameters;
  SCHANNEL_CRED older{};
  older.dwVersion = SCHANNEL_CRED_VERSION;
  older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
  older.dwFlags = kCredentialFlags;
  credentials->acquired =
      AcquireWith(&current, &credentials->handle) || AcquireWith(&older, &credentials->handle);
  return credentials->acquired ? credentials : nullptr;
}

bool SendAll(SOCKET connection, const char* data, unsigned long length, const TlsWait& wait) {
  while (length > 0) {
    int sent = send(connection, data, static_cast<int>(std::min(length, 1UL << 30)), 0);
    if (sent > 0) {
      data += sent;
      length -= static_cast<unsigned long>(sent);
    } else if (sent != SOCKET_ERROR || WSAGetLastError() != WSAEWOULDBLOCK || !wait(true)) {
      return false;
    }
  }
  return true;
}

bool HasDigest(const CERT_CONTEXT& certificate, const std::string& pin) {
  // CertGetCertificateContextProperty(CERT_SHA256_HASH_PROP_ID) fails under wine.
  BYTE digest[32];
  DWORD size = sizeof digest;
  return CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr, certificate.pbCertEncoded,
                               certificate.cbCertEncoded, digest, &size) &&
         size == pin.size() && std::memcmp(digest, pin.data(), size) == 0;
}

Chain BuildChain(const CERT_CONTEXT& certificate) {
  LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  CERT_CHAIN_PARA parameters{};
  parameters.cbSize = sizeof parameters;
  parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
  parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  const CERT_CHAIN_CONTEXT* chain = nullptr;
  // The intermediate certificates that the server sent are in the certificate's own store.
  if (!CertGetCertificateChain(nullptr, &certificate, nullptr, certificate.hCertStore, &parameters,
                               0, nullptr, &chain)) {
    return nullptr;
  }
  return Chain(chain);
}

// name: null leaves the name to the caller.
bool PassesSslPolicy(const CERT_CHAIN_CONTEXT* chain, const wchar_t* name) {
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = name == nullptr ? kIgnoreNameMismatch : 0;
  ssl.pwszServerName = const_cast<wchar_t*>(name);
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  return CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status) &&
         status.dwError == 0;
}

// Whether one of the certificate's subjectAltNames passes the test.
template <typename Test>
bool HasAltName(const CERT_CONTEXT& certificate, Test test) {
  const CERT_INFO& info = *certificate.pCertInfo;
  const CERT_EXTENSION* extension =
      CertFindExtension(szOID_SUBJECT_ALT_NAME2, info.cExtension, info.rgExtension);
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD size = 0;
  if (extension == nullptr ||
      !CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                           extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names,
                           &size)) {
    return false;
  }
  std::unique_ptr<CERT_ALT_NAME_INFO, LocalRelease> owned(names);
  const CERT_ALT_NAME_ENTRY* first = names->rgAltEntry;
  return std::any_of(first, first + names->cAltEntry, test);
}

// As OpenSSL does: an address must be among the iPAddress subjectAltNames; a common name
// does not count.
bool NamesAddress(const CERT_CONTEXT& certificate, const sockets::Address& address) {
  const std::string bytes(reinterpret_cast<const char*>(address.bytes),
                          address.family == 4 ? 4 : 16);
  return HasAltName(certificate, [&bytes](const CERT_ALT_NAME_ENTRY& entry) {
    return entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
           std::string(reinterpret_cast<const char*>(entry.IPAddress.pbData),
                       entry.IPAddress.cbData) == bytes;
  });
}

// The SSL policy falls back to the common name when a certificate has no DNS names; a common
// name is no name for a host (RFC 6125), so such a certificate names none.
bool HasDnsNames(const CERT_CONTEXT& certificate) {
  return HasAltName(certificate, [](const CERT_ALT_NAME_ENTRY& entry) {
    return entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME;
  });
}

// What SChannel keeps a session under, and asks for in the handshake: the host name, or the
// address as text, which it does not send.
std::string TargetName(const TlsSettings& settings) {
  if (settings.address.family == 0) return settings.server_name;
  char text[INET6_ADDRSTRLEN] = {};
  inet_ntop(settings.address.family == 4 ? AF_INET : AF_INET6,
            const_cast<std::uint8_t*>(settings.address.bytes), text, sizeof text);
  return text;
}

std::wstring Widened(const std::string& text) {
  int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], length);
  wide.pop_back();  // the terminator
  return wide;
}

// Wine's SSL policy passes a chain that never reached a root (CERT_TRUST_IS_PARTIAL_CHAIN) and
// matches no IP address: the chain's own status and the addresses are checked here.
bool IsTrustedFor(const CERT_CONTEXT& certificate, const TlsSettings& settings) {
  Chain chain = BuildChain(certificate);
  if (!chain || chain->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR) return false;
  if (settings.address.family != 0) {
    return PassesSslPolicy(chain.get(), nullptr) && NamesAddress(certificate, settings.address);
  }
  std::wstring name = Widened(settings.server_name);
  return !name.empty() && HasDnsNames(certificate) && PassesSslPolicy(chain.get(), name.c_str());
}

enum class Arrival { kBytes, kClosed, kTimedOut, kFailed };
enum class Unwrapped { kRecord, kNeedMore, kClosed, kFailed };

}  // namespace

struct TlsSession::Impl {
  std::shared_ptr<Credentials> credentials;
  std::string target;  // the server's name, under which SChannel keeps the session
  TlsSettings settings;
  SOCKET connection = INVALID_SOCKET;
  CtxtHandle context{};
  bool has_context = false;
  unsigned long requests = kContextRequests;
  SecPkgContext_StreamSizes sizes{};
  std::vector<char> sealed;    // records on their way out
  std::vector<char> received;  // not decrypted yet: part of a record, or records to come
  std::vector<char> plain;     // decrypted, handed out from plain_at on
  std::size_t plain_at = 0;
  bool peer_closed = false;

  ~Impl() {
    if (has_context) DeleteSecurityContext(&context);
  }

  TlsOutcome Establish(const TlsWait& wait);
  bool Negotiate(const TlsWait& wait);
  SECURITY_STATUS Step(const TlsWait& wait);
  void KeepExtra(const SecBuffer& extra);
  bool HasModernProtocol();
  bool TakeStreamSizes();
  bool AcceptsCertificate();
  unsigned long Seal(const char* data, unsigned long length, std::size_t at);
  int SendRecords(const char* data, int length, const TlsWait& wait);
  Arrival ReceiveMore(const TlsWait& wait);
  Unwrapped DecryptNext(const TlsWait& wait);
  bool Renegotiate(const TlsWait& wait);
  int TakePlain(char* buffer, int size);
  bool SendCloseNotify(const TlsWait& wait);
};

TlsOutcome TlsSession::Impl::Establish(const TlsWait& wait) {
  if (!Negotiate(wait) || !HasModernProtocol() || !TakeStreamSizes()) return TlsOutcome::kFailed;
  if (!AcceptsCertificate()) return TlsOutcome::kCertificateRefused;
  return TlsOutcome::kEstablished;
}

// InitializeSecurityContext until the handshake is done; also for what a server sends after
// it, which DecryptMessage left in `received`, or for a new handshake that it asked for, which
// starts with no input at all.
bool TlsSession::Impl::Negotiate(const TlsWait& wait) {
  bool input_needed = false;
  for (;;) {
    if (input_needed && ReceiveMore(wait) != Arrival::kBytes) return false;
    switch (Step(wait)) {
      case SEC_E_OK:
        return true;
      case SEC_I_CONTINUE_NEEDED:
        input_needed = received.empty();
        break;
      case SEC_E_INCOMPLETE_MESSAGE:
        input_needed = true;
        break;
      case SEC_I_INCOMPLETE_CREDENTIALS:
        // The server asked for a client certificate: the same input again, going on without.
        if (requests & ISC_REQ_USE_SUPPLIED_CREDS) return false;
        requests |= ISC_REQ_USE_SUPPLIED_CREDS;
        input_needed = false;
        break;
      default:
        return false;
    }
  }
}

// One call on what has been received (nothing on the first); what it gives goes out at once,
// and what it did not take stays in `received`.
SECURITY_STATUS TlsSession::Impl::Step(const TlsWait& wait) {
  SecBuffer in[2] = {
      {static_cast<unsigned long>(received.size()), SECBUFFER_TOKEN, received.data()},
      {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc input{SECBUFFER_VERSION, 2, in};
  SecBuffer out[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}};
  SecBufferDesc output{SECBUFFER_VERSION, 2, out};
  unsigned long granted = 0;
  SECURITY_STATUS status = InitializeSecurityContextA(
      &credentials->handle, has_context ? &context : nullptr, const_cast<char*>(target.c_str()),
      requests, 0, 0, has_context ? &input : nullptr, 0, &context, &output, &granted, nullptr);
  has_context = has_context || !FAILED(status);
  ContextBuffer token(out[0].pvBuffer);
  ContextBuffer alert(out[1].pvBuffer);
  // On a failure the token is the alert that tells the server why; it may fail to go out.
  bool sent = token == nullptr ||
              SendAll(connection, static_cast<const char*>(token.get()), out[0].cbBuffer, wait);
  if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) return status;
  KeepExtra(in[1]);
  return sent ? status : kNotSent;
}

// SChannel tells how many bytes at the end of its input it did not take; they are the start of
// the next message.
void TlsSession::Impl::KeepExtra(const SecBuffer& extra) {
  if (extra.BufferType != SECBUFFER_EXTRA || extra.cbBuffer > received.size()) {
    received.clear();
    return;
  }
  received.erase(received.begin(), received.end() - extra.cbBuffer);
}

bool TlsSession::Impl::HasModernProtocol() {
  SecPkgContext_ConnectionInfo info{};
  return QueryContextAttributesA(&context, SECPKG_ATTR_CONNECTION_INFO, &info) == SEC_E_OK &&
         (info.dwProtocol & kBelowTls12) == 0;
}

bool TlsSession::Impl::TakeStreamSizes() {
  if (QueryContextAttributesA(&context, SECPKG_ATTR_STREAM_SIZES, &sizes) != SEC_E_OK) {
    return false;
  }
  return sizes.cbMaximumMessage > 0;
}

// On every connection, a resumed one too: a session whose certificate was refused may still be
// in SChannel's cache.
bool TlsSession::Impl::AcceptsCertificate() {
  const CERT_CONTEXT* received_certificate = nullptr;
  if (QueryContextAttributesA(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &received_certificate) !=
          SEC_E_OK ||
      received_certificate == nullptr) {
    return false;
  }
  Certificate certificate(received_certificate);
  if (!settings.pin.empty()) return HasDigest(*certificate, settings.pin);
  return IsTrustedFor(*certificate, settings);
}

// Encrypts one record into `sealed` at `at`; its size, or 0 when EncryptMessage failed.
unsigned long TlsSession::Impl::Seal(const char* data, unsigned long length, std::size_t at) {
  std::size_t most = at + sizes.cbHeader + length + sizes.cbTrailer;
  if (sealed.size() < most) sealed.resize(most);
  char* header = sealed.data() + at;
  char* body = header + sizes.cbHeader;
  std::memcpy(body, data, length);
  SecBuffer buffers[4] = {{sizes.cbHeader, SECBUFFER_STREAM_HEADER, header},
                          {length, SECBUFFER_DATA, body},
                          {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, body + length},
                          {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc message{SECBUFFER_VERSION, 4, buffers};
  if (EncryptMessage(&context, 0, &message, 0) != SEC_E_OK) return 0;
  return buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
}

// Several records to a send: under wine a call costs far more than the copy (a large file goes
// 13% faster). The bytes taken, or 0 when encrypting or sending failed.
int TlsSession::Impl::SendRecords(const char* data, int length, const TlsWait& wait) {
  std::size_t filled = 0;
  int taken = 0;
  for (int records = 0; records < kRecordsPerSend && taken < length; ++records) {
    unsigned long piece =
        std::min(static_cast<unsigned long>(length - taken), sizes.cbMaximumMessage);
    unsigned long size = Seal(data + taken, piece, filled);
    if (size == 0) return 0;
    filled += size;
    taken += static_cast<int>(piece);
  }
  return SendAll(connection, sealed.data(), static_cast<unsigned long>(filled), wait) ? taken : 0;
}

Arrival TlsSession::Impl::ReceiveMore(const TlsWait& wait) {
  char chunk[16 * 1024];
  for (;;) {
    int got = recv(connection, chunk, sizeof chunk, 0);
    if (got > 0) {
      received.insert(received.end(), chunk, chunk + got);
      return Arrival::kBytes;
    }
    if (got == 0) return Arrival::kClosed;
    if (WSAGetLastError() != WSAEWOULDBLOCK) return Arrival::kFailed;
    if (!wait(false)) return Arrival::kTimedOut;
  }
}

// Decrypts the first record of `received` in place, if it is all there.
Unwrapped TlsSession::Impl::DecryptNext(const TlsWait& wait) {
  if (received.empty()) return Unwrapped::kNeedMore;
  // Wine's SChannel decrypts a close_notify to nothing with SEC_E_OK, where Windows says
  // SEC_I_CONTEXT_EXPIRED: an alert record that gives no data is the peer's close, or a server
  // that waits for ours after a listing would wait for ever.
  const bool alert = received.front() == kAlertRecord;
  SecBuffer buffers[4] = {
      {static_cast<unsigned long>(received.size()), SECBUFFER_DATA, received.data()},
      {0, SECBUFFER_EMPTY, nullptr},
      {0, SECBUFFER_EMPTY, nullptr},
      {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc message{SECBUFFER_VERSION, 4, buffers};
  SECURITY_STATUS status = DecryptMessage(&context, &message, 0, nullptr);
  if (status == SEC_E_INCOMPLETE_MESSAGE) return Unwrapped::kNeedMore;
  if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) {
    return status == SEC_I_CONTEXT_EXPIRED ? Unwrapped::kClosed : Unwrapped::kFailed;
  }
  SecBuffer extra{0, SECBUFFER_EMPTY, nullptr};
  bool data_found = false;
  for (const SecBuffer& buffer : buffers) {
    if (buffer.BufferType == SECBUFFER_DATA && buffer.cbBuffer > 0) {
      const char* data = static_cast<const char*>(buffer.pvBuffer);
      plain.insert(plain.end(), data, data + buffer.cbBuffer);
      data_found = true;
    }
    if (buffer.BufferType == SECBUFFER_EXTRA) extra = buffer;
  }
  KeepExtra(extra);
  if (alert && !data_found && status == SEC_E_OK) return Unwrapped::kClosed;
  if (status == SEC_I_RENEGOTIATE && !Renegotiate(wait)) return Unwrapped::kFailed;
  return Unwrapped::kRecord;
}

// TLS 1.3 tickets, or a TLS 1.2 server that asks for a new handshake: what the server sent is
// in `received`, for InitializeSecurityContext; a new certificate passes the same check.
bool TlsSession::Impl::Renegotiate(const TlsWait& wait) {
  return Negotiate(wait) && TakeStreamSizes() && AcceptsCertificate();
}

int TlsSession::Impl::TakePlain(char* buffer, int size) {
  std::size_t count = std::min(static_cast<std::size_t>(size), plain.size() - plain_at);
  std::memcpy(buffer, plain.data() + plain_at, count);
  plain_at += count;
  if (plain_at == plain.size()) {
    plain.clear();
    plain_at = 0;
  }
  return static_cast<int>(count);
}

bool TlsSession::Impl::SendCloseNotify(const TlsWait& wait) {
  DWORD type = SCHANNEL_SHUTDOWN;
  SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
  SecBufferDesc token{SECBUFFER_VERSION, 1, &control};
  if (ApplyControlToken(&context, &token) != SEC_E_OK) return false;
  SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc output{SECBUFFER_VERSION, 1, &out};
  unsigned long granted = 0;
  SECURITY_STATUS status =
      InitializeSecurityContextA(&credentials->handle, &context, const_cast<char*>(target.c_str()),
                                 requests, 0, 0, nullptr, 0, &context, &output, &granted, nullptr);
  ContextBuffer alert(out.pvBuffer);
  return !FAILED(status) && alert != nullptr &&
         SendAll(connection, static_cast<const char*>(alert.get()), out.cbBuffer, wait);
}

TlsSession::TlsSession(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TlsSession::~TlsSession() = default;

std::unique_ptr<TlsSession> TlsSession::Handshake(sockets::Handle handle,
                                                  const TlsSettings& settings,
                                                  const TlsSession* resume, const TlsWait& wait,
                                                  TlsOutcome* outcome) {
  *outcome = TlsOutcome::kFailed;
  auto impl = std::make_unique<Impl>();
  impl->credentials = resume != nullptr ? resume->impl_->credentials : AcquireCredentials();
  if (!impl->credentials) return nullptr;
  impl->target = resume != nullptr ? resume->impl_->target : TargetName(settings);
  impl->settings = settings;
  impl->connection = static_cast<SOCKET>(handle);
  *outcome = impl->Establish(wait);
  if (*outcome != TlsOutcome::kEstablished) return nullptr;
  return std::unique_ptr<TlsSession>(new TlsSession(std::move(impl)));
}

bool TlsSession::Send(const char* data, int length, const TlsWait& wait) {
  while (length > 0) {
    int taken = impl_->SendRecords(data, length, wait);
    if (taken == 0) return false;
    data += taken;
    length -= taken;
  }
  return true;
}

int TlsSession::Receive(char* buffer, int size, const TlsWait& wait) {
  Impl& session = *impl_;
  for (;;) {
    if (session.plain_at < session.plain.size()) return session.TakePlain(buffer, size);
    if (session.peer_closed) return 0;
    Unwrapped unwrapped = session.DecryptNext(wait);
    if (unwrapped == Unwrapped::kRecord) continue;
    if (unwrapped == Unwrapped::kFailed) return -1;
    if (unwrapped == Unwrapped::kClosed) {
      session.peer_closed = true;
      return 0;
    }
    Arrival arrival = session.ReceiveMore(wait);
    // A peer that closes without close_notify has closed, as with plain FTP; a reset stays an
    // error.
    if (arrival == Arrival::kTimedOut || arrival == Arrival::kClosed) return 0;
    if (arrival != Arrival::kBytes) return -1;
  }
}

bool TlsSession::Close(const TlsWait& wait) { return impl_->SendCloseNotify(wait); }

bool TlsSession::HasBuffered() const {
  return impl_->plain_at < impl_->plain.size() || !impl_->received.empty();
}
