// A token bucket of a second's depth, shared by the connections under a lock; each taker waits
// for its own debt, so that the connections together keep to the rate.
#include "net/throttle.h"

#include <algorithm>

#include "net/interrupt.h"

Throttle::Throttle(std::int64_t bytes_per_second)
    : rate_(std::max<std::int64_t>(bytes_per_second, 1)), allowance_(0), last_(Clock::now()) {}

bool Throttle::Take(std::int64_t bytes) {
  double owed = 0;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const Clock::time_point now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - last_).count();
    last_ = now;
    allowance_ = std::min<double>(static_cast<double>(rate_), allowance_ + seconds * rate_);
    allowance_ -= static_cast<double>(bytes);
    owed = -allowance_;
  }
  if (owed <= 0) return true;
  return SleepUnlessInterrupted(
      std::chrono::milliseconds(static_cast<std::int64_t>(owed * 1000 / rate_) + 1));
}

int Throttle::Piece() const {
  return static_cast<int>(std::clamp<std::int64_t>(rate_ / 10, 1024, 1 << 20));
}
