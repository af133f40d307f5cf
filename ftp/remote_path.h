// Remote directory paths: joining a subdirectory to its parent, and the prefixes that MKD and
// CWD build a path from.
#ifndef VARDEK_FTP_REMOTE_PATH_H_
#define VARDEK_FTP_REMOTE_PATH_H_

#include <string>
#include <vector>

// The parent's path and the name joined by exactly one "/": "/" + "sub" is "/sub".
std::string JoinRemotePath(const std::string& parent, const std::string& name);

// The paths that MakeRemotePath creates and enters, in order; none for "/" or a path with "//".
std::vector<std::string> RemotePathPrefixes(const std::string& RemotePath);

#endif  // VARDEK_FTP_REMOTE_PATH_H_
