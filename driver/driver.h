// The driver: from the parameters to the run state, the upload and the exit code.
#ifndef VARDEK_DRIVER_DRIVER_H_
#define VARDEK_DRIVER_DRIVER_H_

#include <string>
#include <vector>

#include "upload/run_state.h"

extern const char kUsageText[];

// Runs the upload that the parameters describe and leaves its outcome in run.ExitStatus.
void RunDriver(RunState& run, const std::vector<std::string>& parameters);

#endif  // VARDEK_DRIVER_DRIVER_H_
