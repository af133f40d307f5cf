// A one-connection TCP peer on 127.0.0.1 for socket tests: sends its bytes, then closes its side
// or stays silent, and keeps what the client sent.
#ifndef VARDEK_TESTS_LOOPBACK_PEER_H_
#define VARDEK_TESTS_LOOPBACK_PEER_H_

#include <atomic>
#include <string>
#include <thread>

class LoopbackPeer {
 public:
  explicit LoopbackPeer(std::string to_send, bool close_after_sending = true);
  ~LoopbackPeer();
  int port() const { return port_; }
  // What the client sent until it closed; waits for that.
  std::string Received();

 private:
  void Serve(std::string to_send, bool close_after_sending);

  int listener_ = -1;
  std::atomic<int> connection_{-1};
  int port_ = 0;
  std::string received_;
  std::thread thread_;
};

#endif  // VARDEK_TESTS_LOOPBACK_PEER_H_
