// Console output on POSIX: UTF-8 is this platform's text encoding and goes out unchanged.
#include <errno.h>
#include <unistd.h>

#include "console/console.h"

std::string ToConsoleText(const std::string& text) { return text; }

bool StdoutIsCharacterDevice() { return isatty(STDOUT_FILENO) == 1; }

// A terminal takes the UTF-8 bytes.
bool WriteConsoleText(const std::string&) { return false; }

void WriteStdout(const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t written = write(STDOUT_FILENO, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

bool WriteStatusLine(const std::string& text, std::size_t) {
  if (isatty(STDOUT_FILENO) != 1) return false;
  // Back to the start of the line, the text, and the rest of the old one erased.
  const std::string line = "\r" + text + "\x1b[K";
  WriteStdout(line.data(), line.size());
  return true;
}
