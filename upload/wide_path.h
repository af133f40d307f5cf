// Windows paths beyond MAX_PATH: the program's texts are ANSI, the calls that reach any length
// take wide "\\?\" paths. Implemented in wide_path_win.cpp; no OS header leaks through here.
#ifndef VARDEK_UPLOAD_WIDE_PATH_H_
#define VARDEK_UPLOAD_WIDE_PATH_H_

#include <string>

#include "upload/local_path.h"

// The absolute "\\?\" (or "\\?\UNC\") form of the directory, ending in a separator, with the
// name after it. Only the typed part is resolved (against the current directory, and the
// current directory of a drive for "c:"); the names below it and the name stay exactly as given.
std::wstring LongPath(const LocalPath& dir, const std::string& name = std::string());

// The wide text of an ANSI one.
std::wstring ToWide(const std::string& text);

// The ANSI text of a wide name; false when the code page cannot hold it exactly (a best-fit
// substitution, such as e for é, counts as not holding it), and then text is only good for
// messages.
bool ToAnsi(const std::wstring& name, std::string* text);

#endif  // VARDEK_UPLOAD_WIDE_PATH_H_
