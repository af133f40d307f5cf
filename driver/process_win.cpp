// The process on Windows: parameters come from the command-line text, split as the console
// runtime does.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "driver/command_line.h"
#include "driver/process.h"
#include "text/wide.h"

void PrepareProcess() {
  // A scheduled run must never stop at a system dialog, such as a "no disk" box for a drive that
  // is not there: such a drive is then a listing failure like any other.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
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

void EndProcess(int exit_status) { ExitProcess(static_cast<UINT>(exit_status)); }
