// TSocket: a TCP client connection over IPv4 or IPv6 with bounded waits, a 1024-byte receive
// buffer and a line reader for FTP replies.
#ifndef VARDEK_NET_SOCKET_H_
#define VARDEK_NET_SOCKET_H_

#include <chrono>
#include <cstdint>
#include <string>

#include "net/socket_os.h"

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
  void Close();
  bool IsIPv6() const { return PeerAddress.family == 6; }

  bool Send(const char* data, int length);
  bool SendText(const std::string& text);

  bool WaitReadable();
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

  sockets::Handle Handle = sockets::kNoHandle;
  sockets::Address PeerAddress;
  char Buffer[kBufferSize] = {};
  int BufferCount = 0;
  int BufferPos = kNothingReceived;  // index of the next byte to hand out
  Clock::time_point ReadUntil = Clock::time_point::max();
  bool TimedOut = false;  // a wait of the current line ran out
};

#endif  // VARDEK_NET_SOCKET_H_
