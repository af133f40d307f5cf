// driver/ is the top: the command line, the environment, the usage text and the process; it
// fills the options and starts the run. Here: splitting Windows command-line text into
// parameters, and parameters into the run's positional values and switches.
#ifndef VARDEK_DRIVER_COMMAND_LINE_H_
#define VARDEK_DRIVER_COMMAND_LINE_H_

#include <string>
#include <vector>

#include "upload/options.h"

// Splits command-line text the way the Windows console runtime does, the program name being the
// first result. A parameter may come out empty; the count of parameters ends there.
std::vector<std::string> SplitCommandLine(const std::string& text);

// Why a command line is not run.
enum class CommandLineFault {
  kNone,
  // Fewer than five parameters before the first empty one, or a parameter with a CR or LF
  // byte, which would smuggle its own commands to the server.
  kUsage,
  // "/e" as one of the five parameters: the run would go in the clear with a remote path "/e".
  kEncryptInPlace,
  // "/e" after an empty parameter, where the count has ended: it would be lost.
  kEncryptAfterEmpty,
  // A switch whose value after the colon is no number it takes ("/r:x", "/p:99").
  kBadValue,
};

// Reads five positional parameters and any switches after them into the options. Counting stops
// at the first empty parameter.
CommandLineFault ParseCommandLine(const std::vector<std::string>& parameters, Options* options);

// The first switch among the parameters whose value is refused, as given.
std::string BadSwitch(const std::vector<std::string>& parameters);

// A whole number of seconds from 1 up, blanks around it allowed (a "set" line of a batch file
// easily ends in one); a larger number than a wait can hold counts as the longest wait.
bool ParseSeconds(const std::string& text, int* seconds);

#endif  // VARDEK_DRIVER_COMMAND_LINE_H_
