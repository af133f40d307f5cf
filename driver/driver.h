// The driver: from the parameters to the options, the upload and the exit code.
#ifndef VARDEK_DRIVER_DRIVER_H_
#define VARDEK_DRIVER_DRIVER_H_

#include <string>
#include <vector>

extern const char kUsageText[];

// Runs the upload that the parameters describe; its exit code.
int RunDriver(const std::vector<std::string>& parameters);

#endif  // VARDEK_DRIVER_DRIVER_H_
