// The run's sequence: connection, greeting, login, the walk, and the closing message.
#ifndef VARDEK_UPLOAD_RUN_UPLOAD_H_
#define VARDEK_UPLOAD_RUN_UPLOAD_H_

#include <string>

#include "upload/run_state.h"

// The whole upload of what LocalMask selects into RemotePath; the outcome is in ExitStatus.
void RunUpload(RunState& run, const std::string& LocalMask, const std::string& RemotePath);

#endif  // VARDEK_UPLOAD_RUN_UPLOAD_H_
