// TSocket: a TCP client connection over IPv4 or IPv6 with bounded waits, a 1024-byte receive
// buffer and a line reader for FTP replies.
#ifndef VARDEK_NET_SOCKET_H_
#define VARDEK_NET_SOCKET_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "net/socket_os.h"
#include "net/tls.h"

class TSocket {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kBufferSize = 1024;
  static constexpr int kMaxLine = 4096;

  TSocket();
  ~TSocket();
  TSocket(const TSocket&) = delete;
  TSocket& operator=(const TSocket&) = delete;

  // host is a dotted IPv4 address, an IPv6 literal or a host name. Each address of the host is
  // tried in turn, each connect bounded by WriteTimeout.
  bool Connect(const std::string& host, int port);
  // Connects to another port of the host that `other` is connected to.
  bool ConnectToPeerOf(const TSocket& other, int port);
  // Closes the connection; one with TLS sends close_notify first, so that the peer can tell the
  // end of the data from a cut.
  void Close();
  bool IsIPv6() const { return PeerAddress.family == 6; }

  // Ends what was sent (close_notify under TLS, then the end of the stream) and waits, within
  // ReadTimeout, for the peer to close in turn. False when it reset the connection instead, or
  // did not close in time: what the kernel had taken may never have arrived.
  bool Finish();

  // Starts TLS on the open connection (after AUTH TLS); the server's certificate is checked as
  // the settings say. Bytes already received in the clear are dropped, so that none can pass for
  // a reply that came under TLS.
  TlsOutcome StartTls(const TlsSettings& settings);
  // Gives this connection the protection of `control`: TLS that resumes control's session, with
  // its settings, when control has TLS; nothing otherwise. False when TLS could not be set up.
  bool ProtectLike(const TSocket& control);

  bool Send(const char* data, int length);
  bool SendText(const std::string& text);

  bool WaitReadable();
  bool WaitWritable();
  int Receive(char* buffer, int size);
  void FillBuffer();
  // False when nothing more can be received: a time-out, the peer's close or an error.
  bool ReadByte(std::uint8_t* byte);
  // The next non-empty line: ends at LF or CR, at the peer's close or at an error. Empty
  // when nothing arrived, or when the line did not end within ReadTimeout. Beyond kMaxLine bytes
  // the rest of the line is dropped.
  std::string ReadLine();
  // The same, ending at the deadline: a reply of many lines is bounded as a whole.
  std::string ReadLineBy(Clock::time_point deadline);
  Clock::time_point ReadDeadline() const {
    return Clock::now() + std::chrono::seconds(ReadTimeout);
  }

  static bool IsDottedQuad(const std::string& text);

  int ReadTimeout = 900;
  int WriteTimeout = 900;

 private:
  static constexpr int kNothingReceived = 2147483647;

  static int MillisecondsUntil(Clock::time_point deadline);
  bool ConnectTo(const sockets::Address& address);
  static bool EndsLine(std::uint8_t byte);
  std::string ReadLineUntilDeadline();
  TlsWait Waiter();
  TlsOutcome StartTlsResuming(const TlsSettings& settings, const TlsSession* resume);
  bool SendPlain(const char* data, int length);

  sockets::Handle Handle = sockets::kNoHandle;
  sockets::Address PeerAddress;
  TlsSettings Tls;
  std::unique_ptr<TlsSession> TlsLayer;
  bool SendFailed = false;
  char Buffer[kBufferSize] = {};
  int BufferCount = 0;
  int BufferPos = kNothingReceived;  // index of the next byte to hand out
  Clock::time_point ReadUntil = Clock::time_point::max();
  bool TimedOut = false;  // a wait of the current line ran out
};

#endif  // VARDEK_NET_SOCKET_H_
