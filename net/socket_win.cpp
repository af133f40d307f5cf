// Windows Sockets 1.1 behind socket_os.h.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <winsock2.h>

#include "net/socket_os.h"

namespace sockets {

void Startup() {
  WSADATA data;
  WSAStartup(0x0101, &data);
}

void Cleanup() { WSACleanup(); }

Handle OpenStream() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  return s == INVALID_SOCKET ? kNoHandle : static_cast<Handle>(s);
}

std::uint32_t DottedAddress(const std::string& text) { return inet_addr(text.c_str()); }

bool LookupHost(const std::string& name, std::uint32_t* address) {
  hostent* host = gethostbyname(name.c_str());
  if (host == nullptr || host->h_addr_list[0] == nullptr) return false;
  *address = *reinterpret_cast<const u_long*>(host->h_addr_list[0]);
  return true;
}

bool ConnectTo(Handle handle, std::uint32_t address, std::uint16_t port) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = port;
  peer.sin_addr.s_addr = address;
  if (connect(static_cast<SOCKET>(handle), reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
    return false;
  }
  // Winsock has no per-call flag: a send that never blocks needs the socket in that mode.
  u_long nonblocking = 1;
  return ioctlsocket(static_cast<SOCKET>(handle), FIONBIO, &nonblocking) == 0;
}

int Wait(Handle handle, bool for_writing, int milliseconds) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(static_cast<SOCKET>(handle), &set);
  timeval limit{milliseconds / 1000, milliseconds % 1000 * 1000};
  return select(0, for_writing ? nullptr : &set, for_writing ? &set : nullptr, nullptr, &limit);
}

int SendOnce(Handle handle, const char* data, int length) {
  int sent = send(static_cast<SOCKET>(handle), data, length, 0);
  if (sent == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return 0;
  return sent;
}

int ReceiveOnce(Handle handle, char* buffer, int size) {
  return recv(static_cast<SOCKET>(handle), buffer, size, 0);
}

void ShutdownAndClose(Handle handle) {
  shutdown(static_cast<SOCKET>(handle), SD_BOTH);
  closesocket(static_cast<SOCKET>(handle));
}

std::uint16_t HostToNetwork(std::uint16_t port) { return htons(port); }

}  // namespace sockets
