// net/ is the network at the bottom: TSocket (a connection with bounded waits and a line reader),
// addresses and IDN, TLS backends. Here: how a server is named on the command line, a host,
// optionally with a port, and what the host stands for: an address literal or a host name.
#ifndef VARDEK_NET_ADDRESS_H_
#define VARDEK_NET_ADDRESS_H_

#include <string>

#include "net/socket_os.h"

// "host:port" (one colon, a decimal port 1 to 65535) names a port other than the default. An IPv6
// address stands bare ("::1") or in brackets ("[::1]", "[::1]:2121"). Anything else is a host
// as it stands, and the port stays as it was.
void SplitHostPort(const std::string& server, std::string* host, int* port);

// The server's host as the run uses it. An address literal is parsed once: the connection goes
// to that address and the certificate's iPAddress names are checked against it. A host name is
// looked up at connect time in its ASCII form (an internationalised name as its A-label).
struct Host {
  std::string name;          // for a host name; empty for an address
  sockets::Address address;  // for an address literal (family 4 or 6, an IPv6 zone kept)
  bool IsAddress() const { return address.family != 0; }
};

// False for a text that cannot name a host: digits and dots that are no dotted quad (four
// decimal fields from 0 to 255 without leading zeros, the one IPv4 form taken: the C library's
// 127.1 and octal 127.000.000.010 would connect to another host than the one checked), or a
// name that has no ASCII form.
bool ParseHost(const std::string& text, Host* host);

// What the server's certificate must name: the host name without the trailing dot that DNS
// allows and TLS does not (RFC 6066); empty for an address.
std::string CertificateName(const Host& host);

#endif  // VARDEK_NET_ADDRESS_H_
