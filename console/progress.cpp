// The progress line of large files on a terminal.
#include "console/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr auto kFirstDraw = std::chrono::seconds(1);
constexpr auto kBetweenDraws = std::chrono::milliseconds(250);

std::string WithComma(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  std::string result = text;
  std::replace(result.begin(), result.end(), '.', ',');
  return result;
}

std::string FormatDuration(double seconds) {
  const long long whole = static_cast<long long>(std::ceil(seconds));
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                  whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  }
  return text;
}

}  // namespace

std::string FormatBytes(double bytes) {
  static const char* const kUnits[] = {"Б", "КиБ", "МиБ", "ГиБ", "ТиБ"};
  int unit = 0;
  while (bytes >= 1024 && unit < 4) {
    bytes /= 1024;
    ++unit;
  }
  // Rounding 1023,96 to 1024 would show a unit too small.
  if (unit > 0 && unit < 4 && bytes >= 1023.95) {
    bytes /= 1024;
    ++unit;
  }
  return WithComma(bytes, unit == 0 || bytes >= 9.95 ? 0 : 1) + " " + kUnits[unit];
}

std::string FormatProgress(std::int64_t sent, std::int64_t total, double bytes_per_second) {
  const int percent = total > 0 ? static_cast<int>(sent * 100 / total) : 100;
  char head[16];
  std::snprintf(head, sizeof head, "%4d%% ", percent);
  std::string text = head + FormatBytes(static_cast<double>(sent)) + " из " +
                     FormatBytes(static_cast<double>(total));
  if (bytes_per_second > 0) {
    text += "  " + FormatBytes(bytes_per_second) + "/с";
    const double left = static_cast<double>(std::max<std::int64_t>(total - sent, 0));
    text += "  осталось " + FormatDuration(left / bytes_per_second);
  }
  return text;
}

int Progress::Begin(std::int64_t size) {
  std::lock_guard<std::mutex> hold(lock_);
  const int slot = next_++;
  files_[slot] = File{size, 0, now_()};
  return slot;
}

void Progress::Advance(int slot, std::int64_t bytes) {
  if (!enabled_) return;
  std::string status;
  {
    std::lock_guard<std::mutex> hold(lock_);
    File& file = files_[slot];
    file.sent += bytes;
    const Clock::time_point now = now_();
    Clock::time_point first = now;
    std::int64_t sent = 0, total = 0;
    for (const auto& entry : files_) {
      first = std::min(first, entry.second.started);
      sent += entry.second.sent;
      total += entry.second.size;
    }
    if (now - first < kFirstDraw || (shown_ && now - drawn_ < kBetweenDraws)) return;
    const double seconds = std::chrono::duration<double>(now - first).count();
    status = FormatProgress(sent, std::max(total, sent), seconds > 0 ? sent / seconds : 0);
    drawn_ = now;
    shown_ = true;
  }
  draw_(status);
}

void Progress::End(int slot) {
  bool erase = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    files_.erase(slot);
    erase = shown_ && files_.empty();
    if (erase) shown_ = false;
  }
  if (erase) draw_(std::string());
}
