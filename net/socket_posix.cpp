// BSD sockets behind socket_os.h. poll() instead of select() so that descriptors above
// FD_SETSIZE stay safe; every call that a signal can interrupt is retried.
#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "net/socket_os.h"

namespace sockets {

void Startup() {}
void Cleanup() {}

Handle OpenStream() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  return fd < 0 ? kNoHandle : fd;
}

std::uint32_t DottedAddress(const std::string& text) { return inet_addr(text.c_str()); }

bool LookupHost(const std::string& name, std::uint32_t* address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
  *address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(found);
  return true;
}

bool ConnectTo(Handle handle, std::uint32_t address, std::uint16_t port) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = port;
  peer.sin_addr.s_addr = address;
  int fd = static_cast<int>(handle);
  if (connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0) return true;
  if (errno != EINTR) return false;
  // An interrupted connect goes on in the background; wait for its outcome.
  pollfd p{fd, POLLOUT, 0};
  while (poll(&p, 1, -1) < 0) {
    if (errno != EINTR) return false;
  }
  int error = 0;
  socklen_t size = sizeof error;
  return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

int Wait(Handle handle, bool for_writing, int milliseconds) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  pollfd p{static_cast<int>(handle), static_cast<short>(for_writing ? POLLOUT : POLLIN), 0};
  for (;;) {
    // Rounded up, like the caller's own wait: a retry must not end before the deadline.
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    int result = poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (result >= 0 || errno != EINTR) return result;
  }
}

int SendOnce(Handle handle, const char* data, int length) {
  for (;;) {
    // MSG_NOSIGNAL: a peer that has gone away must give an error, not SIGPIPE.
    ssize_t sent = send(static_cast<int>(handle), data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) return static_cast<int>(sent);
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    if (errno != EINTR) return -1;
  }
}

int ReceiveOnce(Handle handle, char* buffer, int size) {
  for (;;) {
    ssize_t got = recv(static_cast<int>(handle), buffer, size, 0);
    if (got >= 0 || errno != EINTR) return static_cast<int>(got);
  }
}

void ShutdownAndClose(Handle handle) {
  shutdown(static_cast<int>(handle), SHUT_RDWR);
  close(static_cast<int>(handle));
}

std::uint16_t HostToNetwork(std::uint16_t port) { return htons(port); }

}  // namespace sockets
