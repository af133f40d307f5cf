// The few operating-system socket calls that TSocket needs; socket_posix.cpp and socket_win.cpp
// implement them. No OS header leaks through here.
#ifndef VARDEK_NET_SOCKET_OS_H_
#define VARDEK_NET_SOCKET_OS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace sockets {

using Handle = std::intptr_t;
constexpr Handle kNoHandle = -1;

// An IPv4 or IPv6 address with a port.
struct Address {
  int family = 0;  // 4 or 6
  std::uint8_t bytes[16] = {};
  std::uint16_t port = 0;
  // The zone of a link-local IPv6 address (fe80::1%eth0): without it the address reaches nothing.
  std::uint32_t scope = 0;
};

// Starts and releases the socket library; calls are counted by the OS, one pair per TSocket.
void Startup();
void Cleanup();

// An IPv6 literal, with its zone if it has one; false when the text is no such literal.
bool NumericAddress(const std::string& text, Address* address);
// Every address of a host name or an IPv4 or IPv6 literal, of both families, in the resolver's
// order; none when the lookup fails.
std::vector<Address> LookupHost(const std::string& name);

// A stream socket of the family that never blocks; every wait is the caller's, with a bound.
Handle OpenStream(int family);
// Starts a connect: 1 when it is made, 0 when it goes on (wait for writability, then
// ConnectOutcome), -1 when it failed.
int StartConnect(Handle handle, const Address& peer);
bool ConnectOutcome(Handle handle);
// Waits at most `milliseconds` for the socket to become writable (or readable). Result > 0:
// ready (or failed, which the next call tells), 0: time-out, kInterrupted: the run was
// interrupted (when `interruptible`), other < 0: error.
constexpr int kInterrupted = -3;
int Wait(Handle handle, bool for_writing, int milliseconds, bool interruptible = true);

constexpr int kWouldBlock = -2;
// One send: the bytes the kernel took, kWouldBlock when it had no room, -1 on an error.
int SendOnce(Handle handle, const char* data, int length);
// One receive: the bytes, 0 for an orderly close, kWouldBlock when none were there, -1 on an
// error.
int ReceiveOnce(Handle handle, char* buffer, int size);
// TCP keepalive: probes after `idle` seconds of silence, then every `interval` seconds, so that
// a router's table keeps an idle connection and a dead peer is noticed. Sends nothing a peer
// reads.
void EnableKeepAlive(Handle handle, int idle, int interval);

// Ends the sending side: the peer reads the end of the stream.
void ShutdownSending(Handle handle);
// Shuts the socket down in both directions and closes it; results are not examined.
void ShutdownAndClose(Handle handle);
// Closes the socket with a reset, so that the peer cannot take what it received for the whole.
void AbortAndClose(Handle handle);

}  // namespace sockets

#endif  // VARDEK_NET_SOCKET_OS_H_
