// Local file reading on POSIX.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "local/local_file.h"

bool LocalFile::Open(const LocalPath& dir, const std::string& name) {
  Close();
  // O_NONBLOCK: opening a FIFO must not wait for a writer; only regular files are read.
  int fd = open((dir.Text() + name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return false;
  }
  handle_ = fd;
  size_ = info.st_size;
  return true;
}

int LocalFile::Read(char* buffer, int size) {
  for (;;) {
    ssize_t got = read(static_cast<int>(handle_), buffer, static_cast<size_t>(size));
    if (got >= 0 || errno != EINTR) return static_cast<int>(got);
  }
}

bool LocalFile::Seek(std::int64_t offset) {
  return lseek(static_cast<int>(handle_), static_cast<off_t>(offset), SEEK_SET) == offset;
}

void LocalFile::Close() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
  handle_ = -1;
}
