// The log's lines.
#include "console/log.h"

bool RunLog::Write(const std::string& text) {
  if (handle_ == -1) return false;
  const std::string stamp = LocalTimeStamp();
  std::string lines;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::size_t cut = end;
    if (cut > at && text[cut - 1] == '\r') --cut;
    lines += stamp + text.substr(at, cut - at) + "\n";
    at = end + 1;
  }
  // One write for the whole message: another run's lines never fall inside it.
  return Append(lines);
}
