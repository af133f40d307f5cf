// "/l": the run's messages appended to a file, each line after the local date and time, for
// whoever reads the scheduled job's story the next morning. The open file is also the job's
// lock: a second run given the same file finds it held, and the system lets go of it when the
// process ends, however it ends. log_posix.cpp and log_win.cpp supply the OS part.
#ifndef VARDEK_CONSOLE_LOG_H_
#define VARDEK_CONSOLE_LOG_H_

#include <cstdint>
#include <string>

class RunLog {
 public:
  enum class Opened { kOpen, kFailed, kBusy };

  RunLog() = default;
  ~RunLog() { Close(); }
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // Opens the file (a UTF-8 path) for appending, made where missing, and takes its lock. kBusy:
  // another run holds it; the file is open all the same, for this run's attempt to be told.
  Opened Open(const std::string& path);
  // Each line of the text after the date and time; false when it could not be written.
  bool Write(const std::string& text);
  void Close();

 private:
  bool Append(const std::string& bytes);

  std::intptr_t handle_ = -1;
};

// "2026-12-08 03:00:01 ": the local date and time, as a log line begins.
std::string LocalTimeStamp();

#endif  // VARDEK_CONSOLE_LOG_H_
