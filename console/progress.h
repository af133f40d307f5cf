// Progress on a terminal: a line under a large file's message that says how far it is, how fast
// and how long it has left, erased when the file ends. Never in a file or a pipe.
#ifndef VARDEK_CONSOLE_PROGRESS_H_
#define VARDEK_CONSOLE_PROGRESS_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

// "  37% 412 МиБ из 1,1 ГиБ  9,8 МиБ/с  осталось 1:12": percent, bytes sent of the total, rate
// and time left, in the units people read; rate and time left only once they are known.
std::string FormatProgress(std::int64_t sent, std::int64_t total, double bytes_per_second);
// 512 Б, 9,8 КиБ, 412 МиБ, 1,1 ГиБ: a decimal comma, one decimal below ten.
std::string FormatBytes(double bytes);

class Progress {
 public:
  using Clock = std::chrono::steady_clock;
  // Draws the status line (empty: erases it).
  using Draw = std::function<void(const std::string& status)>;

  // What time it is; a test's own clock in place of the steady one.
  using Now = std::function<Clock::time_point()>;

  Progress(bool enabled, Draw draw, Now now = Clock::now)
      : enabled_(enabled), draw_(std::move(draw)), now_(std::move(now)) {}

  // A file of `size` bytes starts; its slot for Advance and End.
  int Begin(std::int64_t size);
  // Bytes of it went out. Asks the clock once and draws at most four times a second, once the
  // files in flight have travelled longer than a second; the line sums them ("/p").
  void Advance(int slot, std::int64_t bytes);
  // The file ended, sent or not: with no file left in flight the line is erased.
  void End(int slot);

 private:
  struct File {
    std::int64_t size = 0;
    std::int64_t sent = 0;
    Clock::time_point started;
  };

  const bool enabled_;
  const Draw draw_;
  const Now now_;
  std::mutex lock_;
  std::map<int, File> files_;
  int next_ = 0;
  Clock::time_point drawn_;
  bool shown_ = false;
};

#endif  // VARDEK_CONSOLE_PROGRESS_H_
