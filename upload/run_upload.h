// The run's sequence: connection, greeting, login, the walk, and the closing message.
#ifndef VARDEK_UPLOAD_RUN_UPLOAD_H_
#define VARDEK_UPLOAD_RUN_UPLOAD_H_

#include "upload/run_state.h"

// The whole upload of what the options' LocalMask selects into their RemotePath; the outcome is
// in ExitStatus.
void RunUpload(RunState& run);

#endif  // VARDEK_UPLOAD_RUN_UPLOAD_H_
