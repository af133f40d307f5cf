// Names on the control connection on POSIX: the bytes the file system gives, UTF-8 as a rule.
#include "upload/server_text.h"

std::string ToServerText(const std::string& text, bool) { return text; }
std::string FromServerText(const std::string& text, bool) { return text; }
bool FitsServerText(const std::string&, bool) { return true; }
