// Fuzzes ReadReply: the input is what a server sends on the control connection before it closes.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "ftp/reply.h"

#define CHECK(ok) ((ok) ? void() : std::abort())

// A reply's last line by RFC 959: the first line's unless it is "ddd-", then the next "ddd ".
static std::size_t LastLine(const std::vector<std::string>& lines, std::size_t at) {
  const std::string& first = lines[at];
  if (first.size() < 4 || first[3] != '-' || first.find_first_not_of("0123456789") < 3) return at;
  while (++at < lines.size() && lines[at].compare(0, 4, first.substr(0, 3) + " ") != 0) {
  }
  return at;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  // One listener for the run: one per input would leave a port in TIME_WAIT each time.
  static int listener = socket(AF_INET, SOCK_STREAM, 0);
  static sockaddr_in address = [] {
    sockaddr_in bound{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof bound;
    CHECK(!bind(listener, reinterpret_cast<sockaddr*>(&bound), length) && !listen(listener, 1) &&
          !getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &length));
    return bound;
  }();
  TSocket control;
  control.ReadTimeout = 2;
  CHECK(control.Connect("127.0.0.1", ntohs(address.sin_port)));
  const int peer = accept(listener, nullptr, nullptr);
  CHECK(send(peer, data, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size) &&
        !shutdown(peer, SHUT_WR));
  // The lines as the reader must give them: split at LF and CR, none empty, cut to kMaxLine;
  // each reply must match them exactly, so no line can be longer or hold a line end.
  std::vector<std::string> lines(1);
  for (const unsigned char* byte = data; byte < data + size; ++byte) {
    const bool ends = *byte == '\n' || *byte == '\r';
    if (ends && !lines.back().empty()) lines.emplace_back();
    if (!ends && lines.back().size() < TSocket::kMaxLine) lines.back() += char(*byte);
  }
  if (lines.back().empty()) lines.pop_back();
  for (std::size_t next = 0;;) {
    const Reply reply = ReadReply(control);
    std::size_t last = next < lines.size() ? LastLine(lines, next) : next;
    if (last == lines.size()) {  // the server closed before the reply was whole
      CHECK(!reply.complete && reply.last_line.empty() &&
            reply.first_line() == (next < lines.size() ? lines[next] : ""));
      break;
    }
    CHECK(reply.complete && reply.first_line() == lines[next] && reply.last_line == lines[last]);
    CHECK(reply.lines.size() == std::min(last - next + 1, Reply::kKeptLines) &&
          reply.lines.back() == lines[next + reply.lines.size() - 1]);
    next = last + 1;
  }
  // A reset rather than a close, so that no input leaves a connection in TIME_WAIT.
  linger reset{1, 0};
  setsockopt(peer, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  close(peer);
  return 0;
}
