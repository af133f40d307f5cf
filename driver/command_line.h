// The command line: splitting Windows command-line text into parameters, and parameters into the
// run's positional values and switches.
#ifndef VARDEK_DRIVER_COMMAND_LINE_H_
#define VARDEK_DRIVER_COMMAND_LINE_H_

#include <string>
#include <vector>

struct CommandLine {
  std::string LocalMask;
  std::string ServerHost;
  std::string UserLogin;
  std::string UserPassword;
  std::string RemotePath;
  bool TodayOnly = false;
  bool Recurse = false;
  bool CreateDirs = false;
  bool Encrypt = false;  // "/e": explicit FTPS, or no run at all
};

// Splits command-line text the way the Windows console runtime does, the program name being the
// first result. Splitting ends at the first parameter that comes out empty.
std::vector<std::string> SplitCommandLine(const std::string& text);

// Reads five positional parameters and any switches after them. Counting stops at the first
// empty parameter. False when the command line is not valid: fewer than five parameters, or a
// parameter with a CR or LF byte, which would smuggle its own commands to the server.
bool ParseCommandLine(const std::vector<std::string>& parameters, CommandLine* result);

#endif  // VARDEK_DRIVER_COMMAND_LINE_H_
