// How a server is named on the command line: a host, optionally with a port.
#ifndef VARDEK_NET_ADDRESS_H_
#define VARDEK_NET_ADDRESS_H_

#include <string>

// "host:port" (one colon, a decimal port 1 to 65535) names a port other than the default. An IPv6
// address stands bare ("::1") or in brackets ("[::1]", "[::1]:2121"). Anything else is a host
// as it stands, and the port stays as it was.
void SplitHostPort(const std::string& server, std::string* host, int* port);

#endif  // VARDEK_NET_ADDRESS_H_
