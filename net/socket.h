// TSocket: a blocking IPv4 TCP client connection with bounded waits, a 1024-byte receive buffer
// and a line reader for FTP replies.
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

  // host is a dotted address or a host name.
  bool Connect(const std::string& host, int port);
  // address in network byte order, as PeerIPv4() gives it.
  bool ConnectAddress(std::uint32_t address, int port);
  void Close();
  std::uint32_t PeerIPv4() const { return PeerAddress.address; }

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
  static bool ResolveHost(const std::string& name, std::uint32_t* address);

  int ReadTimeout = 900;
  int WriteTimeout = 900;

 private:
  static constexpr int kNothingReceived = 2147483647;

  static int MillisecondsUntil(Clock::time_point deadline);
  static bool EndsLine(std::uint8_t byte);
  std::string ReadLineUntilDeadline();

  sockets::Handle Handle = sockets::kNoHandle;
  struct {
    std::uint32_t address = 0;  // network byte order
    std::uint16_t port = 0;     // network byte order
  } PeerAddress;
  char Buffer[kBufferSize] = {};
  int BufferCount = 0;
  int BufferPos = kNothingReceived;  // index of the next byte to hand out
  Clock::time_point ReadUntil = Clock::time_point::max();
  bool TimedOut = false;  // a wait of the current line ran out
};

#endif  // VARDEK_NET_SOCKET_H_
