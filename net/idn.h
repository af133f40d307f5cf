// Internationalised host names (IDNA 2008): the ASCII form that DNS and certificates use.
// idn_posix.cpp (libidn2, as the C library's own lookup uses it) and idn_win.cpp (IdnToAscii)
// implement it.
#ifndef VARDEK_NET_IDN_H_
#define VARDEK_NET_IDN_H_

#include <string>

// A name that is not ASCII in its A-label form ("xn--..."), with its trailing dot, if any. False
// when the name has no such form.
bool ToAsciiHostName(const std::string& name, std::string* ascii);

#endif  // VARDEK_NET_IDN_H_
