// The few operating-system socket calls that TSocket needs; socket_posix.cpp and socket_win.cpp
// implement them. No OS header leaks through here.
#ifndef VARDEK_NET_SOCKET_OS_H_
#define VARDEK_NET_SOCKET_OS_H_

#include <cstdint>
#include <string>

namespace sockets {

using Handle = std::intptr_t;
constexpr Handle kNoHandle = -1;

// Starts and releases the socket library; calls are counted by the OS, one pair per TSocket.
void Startup();
void Cleanup();

Handle OpenStream();
// inet_addr's reading of a dotted address (also a, a.b, a.b.c); 255.255.255.255 when rejected.
std::uint32_t DottedAddress(const std::string& text);
// First IPv4 address of a host name, in network byte order.
bool LookupHost(const std::string& name, std::uint32_t* address);
// address and port in network byte order; blocks until the OS gives up.
bool ConnectTo(Handle handle, std::uint32_t address, std::uint16_t port);
// Waits at most `milliseconds` for the socket to become writable (or readable). Result > 0:
// ready, 0: time-out, < 0: error.
int Wait(Handle handle, bool for_writing, int milliseconds);
// One send that never blocks: the bytes the kernel took (0 when it had no room), -1 on an error.
int SendOnce(Handle handle, const char* data, int length);
// One recv call; the result is the OS's (bytes, 0 for an orderly close, -1 for an error).
int ReceiveOnce(Handle handle, char* buffer, int size);
// Shuts the socket down in both directions and closes it; results are not examined.
void ShutdownAndClose(Handle handle);

std::uint16_t HostToNetwork(std::uint16_t port);

}  // namespace sockets

#endif  // VARDEK_NET_SOCKET_OS_H_
