// Names and paths on the control connection. The program's texts are UTF-8; with UTF-8 names
// they go to the server so, as RFC 2640 has it. Without, they go in the platform's narrow
// encoding: the Windows build sends the ANSI code page, as Windows programs always have, and
// servers that keep Windows-1251 names go on getting them.
#ifndef VARDEK_FTP_SERVER_TEXT_H_
#define VARDEK_FTP_SERVER_TEXT_H_

#include <string>

std::string ToServerText(const std::string& text, bool utf8);
std::string FromServerText(const std::string& text, bool utf8);

#endif  // VARDEK_FTP_SERVER_TEXT_H_
