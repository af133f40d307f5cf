// The process on POSIX: parameters arrive split in argv.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "driver/process.h"
#include "net/interrupt.h"

namespace {

// The exit code of an interrupted run.
constexpr int kInterruptedExit = 7;

// The first signal stops the run, which leaves the server tidy and says so; a second one ends
// the process at once.
void OnStopSignal(int) {
  if (Interrupted()) _exit(kInterruptedExit);
  Interrupt();
}

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

// A launcher may start the program with a standard stream closed. The first socket of the run
// would take that number, and console text, file names included, would go to the server as if
// it were commands. Each closed one is opened onto /dev/null first; open takes the lowest free
// number, which is the closed one.
void FillClosedStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened > STDERR_FILENO) close(opened);
  }
}

}  // namespace

void PrepareProcess() {
  // A core dump of a run would hold the password in clear for whoever reads the dump.
  prctl(PR_SET_DUMPABLE, 0);
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  FillClosedStandardStreams();
  // A reader of standard output that has gone away must not kill the run.
  signal(SIGPIPE, SIG_IGN);
  PrepareInterrupt();
  CatchStopSignals();
}

std::vector<std::string> ProcessParameters(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void EndProcess(int exit_status) {
  // The run is over: a late signal has nothing left to stop.
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal, SIG_IGN);
  ReleaseInterrupt();
  exit(exit_status);
}
