// Windows paths: the calls that reach any length and any name take wide "\\?\" paths.
// Implemented in wide_path_win.cpp; no OS header leaks through here.
#ifndef VARDEK_LOCAL_WIDE_PATH_H_
#define VARDEK_LOCAL_WIDE_PATH_H_

#include <string>

#include "local/local_path.h"

// The absolute "\\?\" (or "\\?\UNC\") form of the directory, ending in a separator, with the
// name after it. Only the typed part is resolved (against the current directory, and the
// current directory of a drive for "c:"); the names below it and the name stay exactly as given.
std::wstring LongPath(const LocalPath& dir, const std::string& name = std::string());

#endif  // VARDEK_LOCAL_WIDE_PATH_H_
