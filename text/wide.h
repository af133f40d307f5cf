// Windows texts: the program's texts are UTF-8, the system's calls take UTF-16 or a code page.
// Implemented in wide_win.cpp; no OS header leaks through here.
#ifndef VARDEK_TEXT_WIDE_H_
#define VARDEK_TEXT_WIDE_H_

#include <string>

// Between UTF-8 and UTF-16. ToUtf8 is false for a name that is no UTF-16 (a lone surrogate,
// which some file systems let through); text is then only good for messages.
std::wstring ToWide(const std::string& text);
bool ToUtf8(const std::wstring& text, std::string* utf8);

// Between UTF-16 and a code page (the ANSI or OEM one). `exact` says whether every character
// was held: a best-fit substitution, such as e for é, counts as not holding it.
std::string ToCodePage(const std::wstring& text, unsigned code_page, bool* exact = nullptr);
std::wstring FromCodePage(const std::string& text, unsigned code_page);

#endif  // VARDEK_TEXT_WIDE_H_
