// Windows Sockets 2 behind socket_os.h.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
// In this order, which clang-format would change: mstcpip.h needs what the others declare.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
// clang-format on

#include <cstring>

#include "net/socket_os.h"

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

int Wait(Handle handle, bool for_writing, int milliseconds) {
  fd_set ready;
  fd_set failed;  // a connect that fails shows here, never as writable
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(static_cast<SOCKET>(handle), &ready);
  FD_SET(static_cast<SOCKET>(handle), &failed);
  timeval limit{milliseconds / 1000, milliseconds % 1000 * 1000};
  return select(0, for_writing ? nullptr : &ready, for_writing ? &ready : nullptr,
                for_writing ? &failed : nullptr, &limit);
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

}  // namespace sockets
