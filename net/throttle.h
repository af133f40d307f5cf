// "/b": a cap on the bytes per second that every data connection of a run shares, so that a
// daytime publish leaves room on the line for everyone else.
#ifndef VARDEK_NET_THROTTLE_H_
#define VARDEK_NET_THROTTLE_H_

#include <chrono>
#include <cstdint>
#include <mutex>

class Throttle {
 public:
  explicit Throttle(std::int64_t bytes_per_second);

  // Waits until `bytes` more may go, smooth over about a second: no more than a second's worth
  // goes at once after a pause. False when the run was interrupted meanwhile.
  bool Take(std::int64_t bytes);
  // How much to send at a time, so that the waits between sends stay short: a tenth of a
  // second's worth, at least 1 KiB.
  int Piece() const;

 private:
  using Clock = std::chrono::steady_clock;

  std::mutex lock_;
  const std::int64_t rate_;
  double allowance_;  // bytes that may go now; below zero, owed
  Clock::time_point last_;
};

#endif  // VARDEK_NET_THROTTLE_H_
