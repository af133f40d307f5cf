// LoopbackPeer: a scripted TCP peer for socket and reply tests.
#include "tests/loopback_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

LoopbackPeer::LoopbackPeer(std::string to_send, bool close_after_sending) {
  listener_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
  listen(listener_, 1);
  getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
  port_ = ntohs(address.sin_port);
  thread_ = std::thread(&LoopbackPeer::Serve, this, std::move(to_send), close_after_sending);
}

LoopbackPeer::~LoopbackPeer() {
  shutdown(listener_, SHUT_RDWR);
  int connection = connection_.exchange(-1);
  if (connection >= 0) shutdown(connection, SHUT_RDWR);
  if (thread_.joinable()) thread_.join();
  close(listener_);
}

std::string LoopbackPeer::Received() {
  if (thread_.joinable()) thread_.join();
  return received_;
}

void LoopbackPeer::Serve(std::string to_send, bool close_after_sending) {
  int connection = accept(listener_, nullptr, nullptr);
  if (connection < 0) return;
  connection_ = connection;
  timeval limit{10, 0};  // a client that never closes must not hang the test
  setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  send(connection, to_send.data(), to_send.size(), MSG_NOSIGNAL);
  if (close_after_sending) shutdown(connection, SHUT_WR);
  char buffer[4096];
  for (ssize_t got; (got = recv(connection, buffer, sizeof buffer, 0)) > 0;) {
    received_.append(buffer, static_cast<std::size_t>(got));
  }
  close(connection);
}
