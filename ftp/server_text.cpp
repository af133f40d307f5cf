// Names on the wire.
#include "ftp/server_text.h"

#include "text/encoding.h"

std::string ToServerText(const std::string& text, bool utf8) {
  if (utf8) return text;
  return ToNarrow(text);
}

std::string FromServerText(const std::string& text, bool utf8) {
  if (utf8) return text;
  return FromNarrow(text);
}
