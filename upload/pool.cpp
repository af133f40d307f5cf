// The connections of "/p" and the files they share.
#include "upload/pool.h"

#include <algorithm>
#include <utility>

#include "upload/differs.h"
#include "upload/publish.h"
#include "upload/retry.h"
#include "upload/session.h"

namespace {

// Files waiting for a connection, for each connection: enough that none waits for the walk.
constexpr std::size_t kWaitingPerConnection = 2;

}  // namespace

ConnectionPool::ConnectionPool(RunState& walk, int count) : walk_(walk) {
  std::vector<std::unique_ptr<RunState>> opening;
  for (int i = 1; i < count; ++i) {
    opening.push_back(std::make_unique<RunState>(walk.options, walk.shared));
  }
  connecting_ = static_cast<int>(opening.size());
  for (auto& worker : opening) {
    RunState* state = worker.get();
    threads_.emplace_back([this, state] { LogInWorker(*state); });
  }
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] { return connecting_ == 0; });
  for (auto& worker : opening) {
    if (worker->ftp.ControlConnection.IsOpen()) workers_.push_back(std::move(worker));
  }
  hold.unlock();
  if (count > 1) {
    walk.WriteMessage("Соединений с сервером: " + std::to_string(size()) + " из " +
                      std::to_string(count));
  }
}

ConnectionPool::~ConnectionPool() { Finish(); }

// Quietly: the walk's own connection has said what connecting and logging in means.
void ConnectionPool::LogInWorker(RunState& worker) {
  worker.Announce = false;
  const bool open = !OpenSession(worker).failed();
  worker.Announce = true;
  if (!open) worker.ftp.ControlConnection.Close();
  {
    std::lock_guard<std::mutex> hold(lock_);
    --connecting_;
  }
  changed_.notify_all();
  if (open) Work(worker);
}

void ConnectionPool::Work(RunState& worker) {
  {
    // Only the connections that the pool keeps take files.
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return connecting_ == 0; });
  }
  FileJob job;
  while (TakeJob(&job, true)) RunJob(worker, job);
}

bool ConnectionPool::TakeJob(FileJob* job, bool wait) {
  std::unique_lock<std::mutex> hold(lock_);
  if (wait) changed_.wait(hold, [this] { return !jobs_.empty() || closing_; });
  if (jobs_.empty()) return false;
  *job = std::move(jobs_.front());
  jobs_.pop_front();
  changed_.notify_all();
  return true;
}

void ConnectionPool::Send(FileJob job) {
  if (workers_.empty()) return RunJob(walk_, job);
  const std::size_t most = kWaitingPerConnection * workers_.size();
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (jobs_.size() < most) {
        jobs_.push_back(std::move(job));
        break;
      }
    }
    FileJob waiting;
    if (TakeJob(&waiting, false)) RunJob(walk_, waiting);
  }
  changed_.notify_all();
}

void ConnectionPool::Finish() {
  FileJob job;
  while (TakeJob(&job, false)) RunJob(walk_, job);
  {
    std::lock_guard<std::mutex> hold(lock_);
    closing_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
  workers_.clear();
}

// A file is started only while the walk goes on: after a failed one, files in flight finish and
// the rest are left, as on one connection.
void ConnectionPool::RunJob(RunState& run, const FileJob& job) {
  if (run.shared.TransferAborted) return;
  // A directory that the walk entered and that this connection cannot enter is reported, and
  // its files left.
  const Step enter = [&] { return EnterDirectory(run, job.RemotePath, Walk::kGoesOn); };
  if (run.ftp.RemoteDir != job.RemotePath && !Attempt(run, std::string(), enter)) return;
  const std::vector<ListingEntry> files = job.compare ? FilesToSend(run, job.files) : job.files;
  for (const ListingEntry& entry : files) {
    if (run.shared.TransferAborted) return;
    Attempt(run, job.RemotePath, [&] { return PublishFile(run, job.LocalDir, entry); });
  }
}
