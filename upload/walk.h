// The directory walk: each local directory and its remote counterpart, files first, then (with
// "/s") the matching subdirectories.
#ifndef VARDEK_UPLOAD_WALK_H_
#define VARDEK_UPLOAD_WALK_H_

#include <string>

#include "upload/reply.h"
#include "upload/run_state.h"
#include "upload/selection.h"

// How a remote directory came to be current: not at all, there already, or made by "/c".
enum class Entered { kNo, kExisting, kCreated };

// What one activation of UploadDirectory works on.
struct DirectoryContext {
  LocalPath LocalDir;
  std::string FileMask;
  std::string RemotePath;
  Entered parent = Entered::kNo;  // how the walk entered the remote parent; kNo for the top
};

// Sends what LocalMask selects into RemotePath, with the chain of visited directories and the
// pre-scan that the whole walk shares.
void UploadTree(RunState& run, const std::string& LocalMask, const std::string& RemotePath);
void UploadDirectory(RunState& run, const DirectoryContext& dir, DirectoryChain& chain,
                     TreeScan& scan);
// Builds and enters the remote path one component at a time with MKD and CWD; false with the
// reply that refused a CWD.
bool MakeRemotePath(RunState& run, const DirectoryContext& dir, Reply* refusal);

#endif  // VARDEK_UPLOAD_WALK_H_
