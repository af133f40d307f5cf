// Where the walk is in the local tree: the directory part of the user's mask as typed, and the
// names it went down through.
#ifndef VARDEK_LOCAL_LOCAL_PATH_H_
#define VARDEK_LOCAL_LOCAL_PATH_H_

#include <string>

#ifdef _WIN32
constexpr char kPathSeparators[] = "/:\\";
constexpr char kDirectoryJoin[] = "\\";
#else
constexpr char kPathSeparators[] = "/";
constexpr char kDirectoryJoin[] = "/";
#endif

// Messages show Text(). The platform resolves only the typed part (against the current directory
// and drive) and appends the names exactly as a listing gave them: resolving a whole path would
// strip a trailing dot or blank of a name, and open another file than the one listed.
struct LocalPath {
  std::string typed;  // "", "c:", "..\", "/home/w/site/": ends in a separator unless empty
  std::string below;  // the names under it, each followed by kDirectoryJoin

  std::string Text() const { return typed + below; }
  LocalPath Child(const std::string& name) const { return {typed, below + name + kDirectoryJoin}; }
};

#endif  // VARDEK_LOCAL_LOCAL_PATH_H_
