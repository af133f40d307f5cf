// console/ is the program's output: messages on standard output, and a progress line on a
// terminal; what the messages say is the run's. Here: console messages, the program's only
// output, converted for the console and written to standard output. console_posix.cpp and
// console_win.cpp supply the OS part.
#ifndef VARDEK_CONSOLE_CONSOLE_H_
#define VARDEK_CONSOLE_CONSOLE_H_

#include <cstddef>
#include <string>

#include "console/log.h"

// The bytes of a message (UTF-8, the program's texts) for a file or pipe: UTF-8 on Linux; on
// Windows the OEM code page where it is 866, as on every Russian system, else UTF-8.
std::string ToConsoleText(const std::string& text);
// Whether standard output is a character device (a console or terminal).
bool StdoutIsCharacterDevice();
// Writes the text to a Windows console in its own characters, whatever the code pages; false
// where standard output is no such console, and bytes are written instead.
bool WriteConsoleText(const std::string& text);
// Writes bytes to standard output as they are; a failure is not reported.
void WriteStdout(const char* data, std::size_t size);
// On a terminal or console, replaces the line after the last message, which shows `shown`
// characters, with the text (none: the line is blanked); false where there is no such thing.
bool WriteStatusLine(const std::string& text, std::size_t shown);

class Console {
 public:
  Console();
  ~Console();  // writes out what is still buffered
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Writes the text and CR LF. A console sees each message at once; a file or pipe receives
  // 128-byte blocks and the rest at the end of the run.
  void WriteMessage(const std::string& text);
  void Flush();
  // A line under the messages that each status replaces, on a terminal only (progress); the
  // next message takes its place.
  void ShowStatus(const std::string& text);
  void ClearStatus();
  // Every message from now on also goes to the log ("/l").
  void SetLog(RunLog* log) { log_ = log; }

 private:
  void Append(const char* data, std::size_t size);

  static constexpr std::size_t kBlock = 128;
  char buffer_[kBlock];
  std::size_t used_ = 0;
  bool interactive_;
  std::size_t status_width_ = 0;  // characters of the status line shown; 0: none
  RunLog* log_ = nullptr;
};

#endif  // VARDEK_CONSOLE_CONSOLE_H_
