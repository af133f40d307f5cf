// Console: the 128-byte output buffer shared by every message.
#include "upload/console.h"

#include <algorithm>
#include <cstring>

Console::Console() : interactive_(StdoutIsCharacterDevice()) {}

Console::~Console() { Flush(); }

void Console::WriteMessage(const std::string& text) {
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
