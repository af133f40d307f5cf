// "/p:N": the files of the walk shared among up to N control connections, each logged in like the
// first. Without "/p" the pool is the walk's own connection alone, and each file goes at once.
#ifndef VARDEK_UPLOAD_POOL_H_
#define VARDEK_UPLOAD_POOL_H_

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "local/listing.h"
#include "upload/run_state.h"

// Files of one directory for a connection to send: where they are, and the remote directory
// they go into; with `compare` ("/d") only those that the server does not hold as they are.
struct FileJob {
  LocalPath LocalDir;
  std::vector<ListingEntry> files;
  std::string RemotePath;
  bool compare = false;
};

class ConnectionPool {
 public:
  // Opens count - 1 connections beside the walk's own, at once; those that the server refuses
  // (421, a refused login, a failed connect) are left out, and the run goes on with the rest.
  ConnectionPool(RunState& walk, int count);
  ~ConnectionPool();
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // The connections that work, the walk's own among them.
  int size() const { return static_cast<int>(workers_.size()) + 1; }
  // Hands the files to a free connection. While every one is busy the walk's own connection
  // sends a file itself, so that what waits stays a few files.
  void Send(FileJob job);
  // Every file handed over is sent and judged; the other connections are closed.
  void Finish();

 private:
  void LogInWorker(RunState& worker);
  void Work(RunState& worker);
  bool TakeJob(FileJob* job, bool wait);
  void RunJob(RunState& run, const FileJob& job);

  RunState& walk_;
  std::vector<std::unique_ptr<RunState>> workers_;
  std::vector<std::thread> threads_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<FileJob> jobs_;
  int connecting_ = 0;
  bool closing_ = false;
};

#endif  // VARDEK_UPLOAD_POOL_H_
