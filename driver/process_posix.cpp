// The process on POSIX: parameters arrive split in argv.
#include <signal.h>
#include <stdlib.h>

#include "driver/process.h"

void PrepareProcess() {
  // A reader of standard output that has gone away must not kill the run.
  signal(SIGPIPE, SIG_IGN);
}

std::vector<std::string> ProcessParameters(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void EndProcess(int exit_status) { exit(exit_status); }
