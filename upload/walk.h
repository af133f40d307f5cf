// The directory walk: local directories and their remote counterparts.
#ifndef VARDEK_UPLOAD_WALK_H_
#define VARDEK_UPLOAD_WALK_H_

#include <string>

#include "driver/run_state.h"

// Sends what LocalMask selects into RemotePath (and, with "/s", its matching subdirectories).
void UploadTree(RunState& run, const std::string& LocalMask, const std::string& RemotePath);

#endif  // VARDEK_UPLOAD_WALK_H_
