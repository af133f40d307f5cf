// Console: the 128-byte output buffer shared by every message.
#include "console/console.h"

#include <algorithm>
#include <cstring>

Console::Console() : interactive_(StdoutIsCharacterDevice()) {}

Console::~Console() { Flush(); }

namespace {

// Characters, not bytes, of UTF-8 text.
std::size_t Width(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace

void Console::ShowStatus(const std::string& text) {
  if (!interactive_) return;
  Flush();
  if (WriteStatusLine(text, status_width_)) status_width_ = std::max<std::size_t>(Width(text), 1);
}

void Console::ClearStatus() {
  if (status_width_ == 0) return;
  WriteStatusLine(std::string(), status_width_);
  status_width_ = 0;
}

void Console::WriteMessage(const std::string& text) {
  if (log_ != nullptr) log_->Write(text);
  ClearStatus();
  if (interactive_) {
    Flush();
    if (WriteConsoleText(text + "\r\n")) return;
  }
  const std::string converted = ToConsoleText(text);
  Append(converted.data(), converted.size());
  Append("\r\n", 2);
  if (interactive_) Flush();
}

void Console::Flush() {
  if (used_ > 0) WriteStdout(buffer_, used_);
  used_ = 0;
}

void Console::Append(const char* data, std::size_t size) {
  while (size > 0) {
    std::size_t part = std::min(size, kBlock - used_);
    std::memcpy(buffer_ + used_, data, part);
    used_ += part;
    data += part;
    size -= part;
    if (used_ == kBlock) Flush();
  }
}
