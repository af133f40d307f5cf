// BSD sockets behind socket_os.h. poll() instead of select() so that descriptors above
// FD_SETSIZE stay safe; every call that a signal can interrupt is retried.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>

#include "net/interrupt.h"
#include "net/socket_os.h"

namespace {

// Written to once interrupted and never read: every poll that watches it ends at once.
int wake[2] = {-1, -1};
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler sets it");

}  // namespace

void PrepareInterrupt() {
  if (wake[0] < 0 && pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) wake[0] = wake[1] = -1;
}

void ReleaseInterrupt() {
  for (int& fd : wake) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

void Interrupt() {
  interrupted = true;
  if (wake[1] >= 0) {
    const ssize_t ignored = write(wake[1], "!", 1);
    (void)ignored;
  }
}

bool Interrupted() { return interrupted; }

bool SleepUnlessInterrupted(std::chrono::milliseconds wait) {
  pollfd p{wake[0], POLLIN, 0};
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (!interrupted) {
    auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    poll(&p, wake[0] < 0 ? 0 : 1, static_cast<int>(left.count()));
  }
  return false;
}

namespace sockets {

#include "net/socket_bsd.inc"

void Startup() {}
void Cleanup() {}

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

int Wait(Handle handle, bool for_writing, int milliseconds, bool interruptible) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  pollfd p[2] = {{static_cast<int>(handle), static_cast<short>(for_writing ? POLLOUT : POLLIN), 0},
                 {wake[0], POLLIN, 0}};
  const nfds_t count = interruptible && wake[0] >= 0 ? 2 : 1;
  for (;;) {
    if (interruptible && interrupted) return kInterrupted;
    // Rounded up, like the caller's own wait: a retry must not end before the deadline.
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    int result = poll(p, count, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (result > 0 && p[0].revents == 0) continue;  // the wake-up: seen above
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

void EnableKeepAlive(Handle handle, int idle, int interval) {
  const int fd = static_cast<int>(handle);
  const int on = 1;
  const int probes = 6;
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

void ShutdownSending(Handle handle) { shutdown(static_cast<int>(handle), SHUT_WR); }

void ShutdownAndClose(Handle handle) {
  shutdown(static_cast<int>(handle), SHUT_RDWR);
  close(static_cast<int>(handle));
}

void AbortAndClose(Handle handle) {
  const linger reset{1, 0};
  setsockopt(static_cast<int>(handle), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  close(static_cast<int>(handle));
}

}  // namespace sockets
