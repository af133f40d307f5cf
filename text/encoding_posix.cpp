// POSIX: UTF-8 is the platform's encoding, and texts pass unchanged.
#include "text/encoding.h"

std::string ToNarrow(const std::string& text) { return text; }
std::string FromNarrow(const std::string& text) { return text; }
bool HasNarrowForm(const std::string&) { return true; }
