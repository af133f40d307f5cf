// The directory walk: each local directory and its remote counterpart, files first, then (with
// "/s") the matching subdirectories.
#ifndef VARDEK_UPLOAD_WALK_H_
#define VARDEK_UPLOAD_WALK_H_

#include <string>

#include "ftp/reply.h"
#include "local/selection.h"
#include "upload/pool.h"
#include "upload/run_state.h"

// How a remote directory came to be current: not at all, there already, or made by "/c".
enum class Entered { kNo, kExisting, kCreated };

// What one activation of UploadDirectory works on.
struct DirectoryContext {
  LocalPath LocalDir;
  std::string FileMask;
  std::string RemotePath;
  Entered parent = Entered::kNo;  // how the walk entered the remote parent; kNo for the top
  // CWD's answer where the walk asked for it ahead, with the directory's siblings: the
  // connection is not in the directory then. Incomplete where it was not asked.
  Reply asked;
};

// What the whole walk shares: which files count, the chain of visited directories, the
// pre-scan, and the connections that send the files.
struct Walker {
  SelectionRules rules;
  DirectoryChain chain;
  TreeScan scan;
  ConnectionPool& files;
  bool mirror = false;  // "/m" deletes what is gone, unless it stood down
};

// Sends what LocalMask selects into RemotePath; the files go through the pool.
void UploadTree(RunState& run, const std::string& LocalMask, const std::string& RemotePath,
                ConnectionPool& files);
void UploadDirectory(RunState& run, const DirectoryContext& dir, Walker& walker);
// Builds and enters the remote path one component at a time with MKD and CWD; false with the
// reply that refused a CWD.
bool MakeRemotePath(RunState& run, const DirectoryContext& dir, Reply* refusal);

#endif  // VARDEK_UPLOAD_WALK_H_
