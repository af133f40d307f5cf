// TSocket: a TCP client connection over IPv4 or IPv6 with bounded waits, a 1024-byte receive
// buffer and a line reader for FTP replies.
#ifndef VARDEK_NET_SOCKET_H_
#define VARDEK_NET_SOCKET_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/address.h"
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

  // An address literal is connected to as it is; each address of a host name is tried in turn.
  // Each connect is bounded by WriteTimeout.
  bool Connect(const Host& host, int port);
  // The same for a host as a command line gives it; false when it names none.
  bool Connect(const std::string& host, int port);
  // Connects to another port of the host that `other` is connected to.
  bool ConnectToPeerOf(const TSocket& other, int port);
  // Closes the connection; one with TLS sends close_notify first, so that the peer can tell the
  // end of the data from a cut.
  void Close();
  // Ends the connection with a reset and no close_notify: the peer cannot take what it received
  // for the whole of the data.
  void Abort();
  bool IsIPv6() const { return PeerAddress.family == 6; }
  bool IsOpen() const { return Handle != sockets::kNoHandle; }

  // Ends what was sent (close_notify under TLS, then the end of the stream) and waits for the
  // peer to close in turn, ReadTimeout in all however the peer trickles. False when it reset the
  // connection instead, or did not close in time: what the kernel had taken may never have
  // arrived.
  bool Finish();
  // The end of the stream for the peer, without waiting for anything (plain connections only);
  // Finish then waits for the peer's close.
  void EndSending();

  // Everything the peer sends up to its close, ReadTimeout in all however it trickles. False on
  // an error or a reset, when the time ran out, or beyond `limit` bytes.
  bool ReceiveAll(std::string* data, std::size_t limit);

  // Starts TLS on the open connection (after AUTH TLS); the server's certificate is checked as
  // the settings say. The whole handshake ends within ReadTimeout. Bytes already received in the
  // clear are dropped, so that none can pass for a reply that came under TLS.
  TlsOutcome StartTls(const TlsSettings& settings);
  // TLS that resumes the session of `control`, with its settings. False when control has no TLS
  // or the handshake failed: an encrypted run has no data connection in the clear.
  bool ProtectLike(const TSocket& control);
  // The same while a command's reply is awaited on `control`: whenever it has input while the
  // handshake waits to read, `go_on` is asked, and false ends the handshake (a refused STOR, after
  // which the server never answers on the data connection).
  bool ProtectLike(TSocket& control, const std::function<bool()>& go_on);
  bool IsProtected() const { return TlsLayer != nullptr; }

  bool Send(const char* data, int length);
  bool SendText(const std::string& text);

  bool WaitReadable();
  // Whether input is there, or arrives by the deadline, without taking it.
  bool WaitForInput(Clock::time_point deadline);
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

  int ReadTimeout = 900;
  int WriteTimeout = 900;
  // TCP keepalive from the connect on: a control connection waits idle while a large file
  // travels, and routers forget idle connections after a few minutes.
  bool KeepAlive = false;
  // An interrupted run ends its waits at once (a data connection); else it has a few seconds
  // more to leave the server tidy (a control connection).
  bool EndsAtInterrupt = false;

 private:
  static constexpr int kNothingReceived = 2147483647;

  static int MillisecondsUntil(Clock::time_point deadline);
  int WaitFor(bool for_writing, Clock::time_point deadline);
  bool ConnectTo(const sockets::Address& address);
  static bool EndsLine(std::uint8_t byte);
  std::string ReadLineUntilDeadline();
  // Every wait until the step ends is cut at the deadline: a peer that trickles a byte at a time
  // cannot hold a step that reads until something happens.
  void BoundStep(Clock::time_point deadline);
  void EndStep() { StepDeadline = Clock::time_point::max(); }
  TlsWait Waiter();
  TlsOutcome StartTlsResuming(const TlsSettings& settings, const TlsSession* resume,
                              const TlsWait& wait);
  bool SendPlain(const char* data, int length);

  sockets::Handle Handle = sockets::kNoHandle;
  sockets::Address PeerAddress;
  TlsSettings Tls;
  std::unique_ptr<TlsSession> TlsLayer;
  bool SendFailed = false;
  char Buffer[kBufferSize] = {};
  int BufferCount = 0;
  int BufferPos = kNothingReceived;  // index of the next byte to hand out
  Clock::time_point StepDeadline = Clock::time_point::max();
  bool TimedOut = false;  // a wait of the current step ran out
};

#endif  // VARDEK_NET_SOCKET_H_
