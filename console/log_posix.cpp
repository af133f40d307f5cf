// The log file on POSIX: O_APPEND, so that two runs' lines never overwrite each other, and
// flock, which the kernel drops with the process.
#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "console/log.h"

RunLog::Opened RunLog::Open(const std::string& path) {
  Close();
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return Opened::kFailed;
  handle_ = fd;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return Opened::kOpen;
  return errno == EWOULDBLOCK ? Opened::kBusy : Opened::kFailed;
}

bool RunLog::Append(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote =
        write(static_cast<int>(handle_), bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

void RunLog::Close() {
  if (handle_ != -1) close(static_cast<int>(handle_));
  handle_ = -1;
}

std::string LocalTimeStamp() {
  const time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S ", &local);
  return text;
}
