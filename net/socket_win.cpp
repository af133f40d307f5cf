// Windows Sockets 2 behind socket_os.h.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
// In this order, which clang-format would change: mstcpip.h needs what the others declare.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
// clang-format on

#include <atomic>
#include <chrono>
#include <cstring>

#include "net/interrupt.h"
#include "net/socket_os.h"

namespace {

// A datagram socket on loopback that is sent one datagram once interrupted and never read:
// every select that watches it ends at once. select takes sockets only, no event.
SOCKET wake = INVALID_SOCKET;
sockaddr_in wake_address{};
std::atomic<bool> interrupted{false};

}  // namespace

void PrepareInterrupt() {
  if (wake != INVALID_SOCKET) return;
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  wake = socket(AF_INET, SOCK_DGRAM, 0);
  wake_address.sin_family = AF_INET;
  wake_address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int size = sizeof wake_address;
  if (wake == INVALID_SOCKET ||
      bind(wake, reinterpret_cast<sockaddr*>(&wake_address), sizeof wake_address) != 0 ||
      getsockname(wake, reinterpret_cast<sockaddr*>(&wake_address), &size) != 0) {
    if (wake != INVALID_SOCKET) closesocket(wake);
    wake = INVALID_SOCKET;
  }
}

void ReleaseInterrupt() {
  if (wake != INVALID_SOCKET) closesocket(wake);
  wake = INVALID_SOCKET;
}

void Interrupt() {
  interrupted = true;
  if (wake != INVALID_SOCKET) {
    sendto(wake, "!", 1, 0, reinterpret_cast<const sockaddr*>(&wake_address), sizeof wake_address);
  }
}

bool Interrupted() { return interrupted; }

bool SleepUnlessInterrupted(std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (!interrupted) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    // A short sleep at a time where there is no socket to wait on.
    if (wake == INVALID_SOCKET) {
      Sleep(static_cast<DWORD>(std::min<long long>(left.count(), 100)));
      continue;
    }
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(wake, &ready);
    timeval limit{static_cast<long>(left.count() / 1000),
                  static_cast<long>(left.count() % 1000 * 1000)};
    select(0, &ready, nullptr, nullptr, &limit);
  }
  return false;
}

namespace sockets {

#include "net/socket_bsd.inc"

void Startup() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
}

void Cleanup() { WSACleanup(); }

Handle OpenStream(int family) {
  SOCKET s = socket(family == 6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return kNoHandle;
  u_long nonblocking = 1;
  if (ioctlsocket(s, FIONBIO, &nonblocking) != 0) {
    closesocket(s);
    return kNoHandle;
  }
  return static_cast<Handle>(s);
}

int StartConnect(Handle handle, const Address& peer) {
  sockaddr_storage storage;
  int size = ToSockaddr(peer, &storage);
  if (connect(static_cast<SOCKET>(handle), reinterpret_cast<sockaddr*>(&storage), size) == 0) {
    return 1;
  }
  return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

bool ConnectOutcome(Handle handle) {
  int error = 0;
  int size = sizeof error;
  return getsockopt(static_cast<SOCKET>(handle), SOL_SOCKET, SO_ERROR,
                    reinterpret_cast<char*>(&error), &size) == 0 &&
         error == 0;
}

int Wait(Handle handle, bool for_writing, int milliseconds, bool interruptible) {
  const SOCKET socket = static_cast<SOCKET>(handle);
  const bool watch = interruptible && wake != INVALID_SOCKET;
  if (interruptible && interrupted) return kInterrupted;
  fd_set readable;
  fd_set writable;
  fd_set failed;  // a connect that fails shows here, never as writable
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(socket, for_writing ? &writable : &readable);
  if (for_writing) FD_SET(socket, &failed);
  if (watch) FD_SET(wake, &readable);
  timeval limit{milliseconds / 1000, milliseconds % 1000 * 1000};
  // Winsock refuses an empty set: a set goes in only with a socket in it.
  int result = select(0, !for_writing || watch ? &readable : nullptr,
                      for_writing ? &writable : nullptr, for_writing ? &failed : nullptr, &limit);
  if (result > 0 && watch && FD_ISSET(wake, &readable)) {
    const bool own =
        FD_ISSET(socket, &readable) || FD_ISSET(socket, &writable) || FD_ISSET(socket, &failed);
    if (!own) return kInterrupted;
  }
  return result;
}

int SendOnce(Handle handle, const char* data, int length) {
  int sent = send(static_cast<SOCKET>(handle), data, length, 0);
  if (sent == SOCKET_ERROR) return WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : -1;
  return sent;
}

int ReceiveOnce(Handle handle, char* buffer, int size) {
  int got = recv(static_cast<SOCKET>(handle), buffer, size, 0);
  if (got == SOCKET_ERROR) return WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : -1;
  return got;
}

void EnableKeepAlive(Handle handle, int idle, int interval) {
  // Windows sends ten probes; the times are in milliseconds.
  tcp_keepalive values{1, static_cast<ULONG>(idle) * 1000, static_cast<ULONG>(interval) * 1000};
  DWORD returned = 0;
  WSAIoctl(static_cast<SOCKET>(handle), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0,
           &returned, nullptr, nullptr);
}

void ShutdownSending(Handle handle) { shutdown(static_cast<SOCKET>(handle), SD_SEND); }

void ShutdownAndClose(Handle handle) {
  shutdown(static_cast<SOCKET>(handle), SD_BOTH);
  closesocket(static_cast<SOCKET>(handle));
}

void AbortAndClose(Handle handle) {
  const linger reset{1, 0};
  setsockopt(static_cast<SOCKET>(handle), SOL_SOCKET, SO_LINGER,
             reinterpret_cast<const char*>(&reset), sizeof reset);
  closesocket(static_cast<SOCKET>(handle));
}

}  // namespace sockets
