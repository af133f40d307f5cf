// Remote directory paths.
#include "ftp/remote_path.h"

std::string JoinRemotePath(const std::string& parent, const std::string& name) {
  if (!parent.empty() && parent.back() == '/') return parent + name;
  return parent + "/" + name;
}

std::vector<std::string> RemotePathPrefixes(const std::string& RemotePath) {
  if (RemotePath == "/" || RemotePath.find("//") != std::string::npos) return {};
  std::vector<std::string> prefixes;
  // The first character never ends a prefix, so a leading "/" stays part of every prefix.
  std::size_t from = 1;
  do {
    std::size_t slash = RemotePath.find('/', from);
    if (slash == std::string::npos) {
      prefixes.push_back(RemotePath);
      break;
    }
    prefixes.push_back(RemotePath.substr(0, slash));
    from = slash + 1;
  } while (from < RemotePath.size());
  return prefixes;
}
