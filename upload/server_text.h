// Names and paths on the control connection. The program's texts are UTF-8; with "/u" they go to
// the server so, as RFC 2640 has it. Without it the Windows build sends them in the ANSI code
// page, as Windows programs always have, and servers that keep Windows-1251 names go on getting
// them. server_text_posix.cpp and server_text_win.cpp implement it.
#ifndef VARDEK_UPLOAD_SERVER_TEXT_H_
#define VARDEK_UPLOAD_SERVER_TEXT_H_

#include <string>

std::string ToServerText(const std::string& text, bool utf8);
std::string FromServerText(const std::string& text, bool utf8);
// Whether the name goes to the server exactly: a name that the ANSI code page cannot hold would
// name another file, or none.
bool FitsServerText(const std::string& name, bool utf8);

#endif  // VARDEK_UPLOAD_SERVER_TEXT_H_
