// Windows texts and paths: the program's texts are UTF-8, the calls that reach any length and
// any name take wide "\\?\" paths. Implemented in wide_path_win.cpp; no OS header leaks through
// here.
#ifndef VARDEK_UPLOAD_WIDE_PATH_H_
#define VARDEK_UPLOAD_WIDE_PATH_H_

#include <string>

#include "upload/local_path.h"

// The absolute "\\?\" (or "\\?\UNC\") form of the directory, ending in a separator, with the
// name after it. Only the typed part is resolved (against the current directory, and the
// current directory of a drive for "c:"); the names below it and the name stay exactly as given.
std::wstring LongPath(const LocalPath& dir, const std::string& name = std::string());

// Between UTF-8 and UTF-16. ToUtf8 is false for a name that is no UTF-16 (a lone surrogate,
// which some file systems let through); text is then only good for messages.
std::wstring ToWide(const std::string& text);
bool ToUtf8(const std::wstring& text, std::string* utf8);

// Between UTF-16 and a code page (the ANSI or OEM one). `exact` says whether every character
// was held: a best-fit substitution, such as e for é, counts as not holding it.
std::string ToCodePage(const std::wstring& text, unsigned code_page, bool* exact = nullptr);
std::wstring FromCodePage(const std::string& text, unsigned code_page);

#endif  // VARDEK_UPLOAD_WIDE_PATH_H_
