// The process on Windows: parameters come from the command-line text, split as the console
// runtime does.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "driver/command_line.h"
#include "driver/process.h"
#include "net/interrupt.h"
#include "text/wide.h"

namespace {

// The exit code of an interrupted run.
constexpr UINT kInterruptedExit = 7;

// Ctrl+C, Ctrl+Break, the console window closed, a logoff or a shutdown: the first stops the run,
// which leaves the server tidy and says so; a second ends the process at once. The system ends
// the process when the handler returns from a close, logoff or shutdown: the handler waits for
// the run to end it first.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (Interrupted()) ExitProcess(kInterruptedExit);
  Interrupt();
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(INFINITE);
  return TRUE;
}

}  // namespace

void PrepareProcess() {
  // A scheduled run must never stop at a system dialog, such as a "no disk" box for a drive that
  // is not there: such a drive is then a listing failure like any other.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  PrepareInterrupt();
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

// In UTF-8, the program's texts: a mask or a path may name what the ANSI code page cannot hold.
// The splitting rules only look at ASCII bytes, which UTF-8 keeps as they are.
std::vector<std::string> ProcessParameters(int, char**) {
  std::string text;
  ToUtf8(GetCommandLineW(), &text);
  std::vector<std::string> parameters = SplitCommandLine(text);
  if (!parameters.empty()) parameters.erase(parameters.begin());
  return parameters;
}

void EndProcess(int exit_status) {
  // The run is over: a late Ctrl+C has nothing left to stop.
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  ReleaseInterrupt();
  ExitProcess(static_cast<UINT>(exit_status));
}
