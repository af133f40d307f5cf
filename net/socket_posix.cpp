// BSD sockets behind socket_os.h. poll() instead of select() so that descriptors above
// FD_SETSIZE stay safe; every call that a signal can interrupt is retried.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "net/socket_os.h"

namespace sockets {

namespace {

socklen_t ToSockaddr(const Address& address, sockaddr_storage* storage) {
  *storage = {};
  if (address.family == 6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(storage);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(address.port);
    memcpy(&in6->sin6_addr, address.bytes, 16);
    return sizeof *in6;
  }
  auto* in = reinterpret_cast<sockaddr_in*>(storage);
  in->sin_family = AF_INET;
  in->sin_port = htons(address.port);
  memcpy(&in->sin_addr, address.bytes, 4);
  return sizeof *in;
}

bool FromSockaddr(const sockaddr* found, Address* address) {
  if (found->sa_family == AF_INET6) {
    address->family = 6;
    memcpy(address->bytes, &reinterpret_cast<const sockaddr_in6*>(found)->sin6_addr, 16);
    return true;
  }
  if (found->sa_family != AF_INET) return false;
  address->family = 4;
  memcpy(address->bytes, &reinterpret_cast<const sockaddr_in*>(found)->sin_addr, 4);
  return true;
}

}  // namespace

void Startup() {}
void Cleanup() {}

Address DottedAddress(const std::string& text) {
  Address address;
  address.family = 4;
  in_addr_t value = inet_addr(text.c_str());
  memcpy(address.bytes, &value, 4);
  return address;
}

std::vector<Address> LookupHost(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  std::vector<Address> addresses;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return addresses;
  for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
    Address address;
    if (FromSockaddr(at->ai_addr, &address)) addresses.push_back(address);
  }
  freeaddrinfo(found);
  return addresses;
}

Handle OpenStream(int family) {
  int fd = socket(family == 6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  return fd < 0 ? kNoHandle : fd;
}

int StartConnect(Handle handle, const Address& peer) {
  sockaddr_storage storage;
  socklen_t size = ToSockaddr(peer, &storage);
  if (connect(static_cast<int>(handle), reinterpret_cast<sockaddr*>(&storage), size) == 0) return 1;
  // An interrupted connect goes on in the background, as one in progress does.
  return errno == EINPROGRESS || errno == EINTR ? 0 : -1;
}

bool ConnectOutcome(Handle handle) {
  int error = 0;
  socklen_t size = sizeof error;
  return getsockopt(static_cast<int>(handle), SOL_SOCKET, SO_ERROR, &error, &size) == 0 &&
         error == 0;
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
    ssize_t sent = send(static_cast<int>(handle), data, length, MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<int>(sent);
    if (errno == EAGAIN || errno == EWOULDBLOCK) return kWouldBlock;
    if (errno != EINTR) return -1;
  }
}

int ReceiveOnce(Handle handle, char* buffer, int size) {
  for (;;) {
    ssize_t got = recv(static_cast<int>(handle), buffer, size, 0);
    if (got >= 0) return static_cast<int>(got);
    if (errno == EAGAIN || errno == EWOULDBLOCK) return kWouldBlock;
    if (errno != EINTR) return -1;
  }
}

void ShutdownSending(Handle handle) { shutdown(static_cast<int>(handle), SHUT_WR); }

void ShutdownAndClose(Handle handle) {
  shutdown(static_cast<int>(handle), SHUT_RDWR);
  close(static_cast<int>(handle));
}

}  // namespace sockets
