// The platform's narrow encoding, what the system and servers of old expect: the ANSI code page
// on Windows, UTF-8 itself on POSIX. encoding_posix.cpp and encoding_win.cpp implement it.
#ifndef VARDEK_TEXT_ENCODING_H_
#define VARDEK_TEXT_ENCODING_H_

#include <string>

std::string ToNarrow(const std::string& text);
std::string FromNarrow(const std::string& text);
// Whether the narrow form holds every character: a name that the ANSI code page cannot hold
// would name another file, or none.
bool HasNarrowForm(const std::string& text);

#endif  // VARDEK_TEXT_ENCODING_H_
