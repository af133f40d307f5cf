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
#include "upload/differs.h"
#include "upload/failure.h"
#include "upload/mirror.h"
#include "upload/run_state.h"

// Files of one directory for a connection to send: where they are, and the remote directory
// they go into; with `compare` ("/d") only those that the server does not hold as they are.
struct FileJob {
  LocalPath LocalDir;
  std::vector<ListingEntry> files;
  std::string RemotePath;
  bool compare = false;
  // "/m": the directory's local names, against which the server's are found gone.
  std::shared_ptr<const LocalNames> mirror;
  ServerListing listing;  // once compared
  // The compared listing, shared by the jobs of its files that went to other connections.
  std::shared_ptr<const RemoteDirectory> listed;
  bool fresh = false;      // in a directory that "/c" just made, which holds nothing yet
  std::size_t next = 0;    // the first file not yet judged
  int tries = 0;           // how often that file lost its connection ("/r")
  bool announced = false;  // that file was said to be on its way when its connection was lost
  bool resume = false;     // that file's transfer was lost after it started ("/r")
};

class ConnectionPool {
 public:
  // Starts logging in count - 1 connections beside the walk's own; each takes files as soon as
  // it is in. Those that the server refuses, or that take longer than a short while, are left
  // out, and the run goes on with the rest.
  ConnectionPool(RunState& walk, int count);
  ~ConnectionPool();
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // Hands the files to a free connection. While every one is busy the walk's own connection
  // sends a file itself, so that what waits stays a few files.
  void Send(FileJob job);
  // Every file handed over is sent and judged, or named as not sent where no connection is left
  // to send it; the other connections are closed.
  void Finish();
  // The walk's connection was found dead: another connection of the pool carries on the walk
  // (the dead one goes to be opened again, or leaves), or with "/r" it is opened again. False,
  // reported, when the walk has no connection left.
  bool Recover(RunState& walk, Failure failure);

 private:
  enum class Ended { kDone, kLost };
  enum class Taken { kJob, kClosing, kSwapped };

  void Work(RunState& worker);
  bool LogIn(RunState& worker);
  void Joined(bool in);
  Taken TakeJob(RunState* worker, FileJob* job, bool wait);
  void GiveBack(FileJob job);
  bool Idle();
  void Spread(FileJob& job);
  std::vector<FileJob> TakeOthers();
  void SettleOthers(RunState& run, std::vector<FileJob>& others,
                    std::vector<DirectoryListing>& known);
  bool CountTry(RunState& run, FileJob& job, const Failure& failure);
  Ended RunJob(RunState& run, FileJob& job, Failure* lost);
  void RunOnWalk(FileJob job);
  bool SwapWithWorker(RunState& walk);
  void Leave();
  void SayConnections(int others);
  void NameUnsent();

  RunState& walk_;
  const int asked_;
  std::vector<std::unique_ptr<RunState>> workers_;
  std::vector<std::thread> threads_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<FileJob> jobs_;
  int joining_ = 0;  // extra connections logging in
  int working_ = 0;  // extra connections that take files
  int joined_ = 0;   // extra connections that got in
  int busy_ = 0;     // of those, the ones with a job or opening their connection again
  bool walk_lost_ = false;
  bool swap_wanted_ = false;
  bool swapped_ = false;
  bool closing_ = false;
};

#endif  // VARDEK_UPLOAD_POOL_H_
