// Test helper for the Windows build: starts VARDEK_RAW_PROGRAM with the command line in
// VARDEK_RAW_COMMAND_LINE exactly as given, which wine's quoting of arguments would alter.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdlib>
#include <string>

int main() {
  const char* program = std::getenv("VARDEK_RAW_PROGRAM");
  const char* line = std::getenv("VARDEK_RAW_COMMAND_LINE");
  if (program == nullptr || line == nullptr) return 99;
  std::string command_line = line;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(program, &command_line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return 98;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 97;
  GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}
