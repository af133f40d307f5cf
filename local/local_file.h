// A local file opened for reading while it is sent. local_file_posix.cpp and local_file_win.cpp
// implement it.
#ifndef VARDEK_LOCAL_LOCAL_FILE_H_
#define VARDEK_LOCAL_LOCAL_FILE_H_

#include <cstdint>
#include <string>

#include "local/local_path.h"

class LocalFile {
 public:
  LocalFile() = default;
  ~LocalFile() { Close(); }
  LocalFile(const LocalFile&) = delete;
  LocalFile& operator=(const LocalFile&) = delete;

  // False when the file cannot be read: missing, locked, unreadable, or no regular file (a pipe
  // or device would block the run or never end).
  bool Open(const LocalPath& dir, const std::string& name);
  // Bytes read, 0 at the end of the file, -1 on a read error.
  int Read(char* buffer, int size);
  // Reading goes on from the byte at `offset`; false when it cannot.
  bool Seek(std::int64_t offset);
  void Close();
  // The size when the file was opened.
  std::int64_t Size() const { return size_; }

 private:
  std::intptr_t handle_ = -1;
  std::int64_t size_ = 0;
};

#endif  // VARDEK_LOCAL_LOCAL_FILE_H_
