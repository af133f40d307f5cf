// The process around the run: its parameters, its set-up and its end. process_posix.cpp and
// process_win.cpp implement it.
#ifndef VARDEK_DRIVER_PROCESS_H_
#define VARDEK_DRIVER_PROCESS_H_

#include <string>
#include <vector>

// Process-wide settings that must precede any I/O.
void PrepareProcess();
// The command-line parameters after the program name.
std::vector<std::string> ProcessParameters(int argc, char** argv);
[[noreturn]] void EndProcess(int exit_status);

#endif  // VARDEK_DRIVER_PROCESS_H_
