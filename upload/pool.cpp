// The connections of "/p" and the files they share. A connection found dead gives its files
// back for the others to send, and is opened again ("/r") or leaves; the walk's own is replaced
// by a working one, so that the walk never holds the others up.
#include "upload/pool.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "ftp/remote_path.h"
#include "upload/differs.h"
#include "upload/mirror.h"
#include "upload/publish.h"
#include "upload/retry.h"
#include "upload/session.h"

namespace {

// Files waiting for a connection, for each connection: enough that none waits for the walk.
constexpr std::size_t kWaitingPerConnection = 2;
// Directories to compare wait in greater numbers: a connection lists several in one go.
constexpr std::size_t kComparesWaitingPerConnection = 8;
// Directories listed in one go at most, and the files of each (whose times go along).
constexpr std::size_t kListedAtOnce = 8;
constexpr std::size_t kListedFilesMost = 32;
// An extra connection not logged in within this is left out: a server that accepts it and never
// greets it would hold the end of the run.
constexpr int kJoinSeconds = 5;

// What the server holds in the job's directory, where that is known without asking: its listing
// ("/d"), or nothing in a directory that "/c" just made.
const RemoteDirectory* Listed(const FileJob& job) {
  static const RemoteDirectory kNothing;
  if (job.fresh) return &kNothing;
  if (job.listed) return job.listed.get();
  const Received received = job.listing.received;
  return received == Received::kWhole || received == Received::kTruncated ? &job.listing.entries
                                                                          : nullptr;
}

// "/m": a local file where the server has a directory of its name is that file's failure,
// reported, and never a reason to delete.
void LeaveClashes(RunState& run, FileJob& job) {
  std::vector<ListingEntry> files;
  for (ListingEntry& entry : job.files) {
    auto found = job.listing.entries.find(entry.name);
    if (found == job.listing.entries.end() || !found->second.directory) {
      files.push_back(std::move(entry));
      continue;
    }
    Report(
        run,
        {NotSentMessage(job.LocalDir.Text() + entry.name),
         "На сервере на его месте каталог \"" + JoinRemotePath(job.RemotePath, entry.name) + "\""},
        kExitTransfer);
  }
  job.files = std::move(files);
}

// The directories of the jobs listed in one go, `job`'s last; none when that could not be done.
std::vector<DirectoryListing> ListTogether(RunState& run, const std::vector<FileJob>& others,
                                           const FileJob& job) {
  std::vector<DirectoryListing> dirs(others.size() + 1);
  for (std::size_t i = 0; i < dirs.size(); ++i) {
    const FileJob& one = i < others.size() ? others[i] : job;
    dirs[i].path = one.RemotePath;
    for (const ListingEntry& entry : one.files) dirs[i].timed.push_back(entry.name);
  }
  if (!EnterAndListEach(run.ftp(), &dirs)) dirs.clear();
  return dirs;
}

}  // namespace

ConnectionPool::ConnectionPool(RunState& walk, int count) : walk_(walk), asked_(count) {
  std::lock_guard<std::mutex> hold(lock_);
  threads_.reserve(count);
  for (int i = 1; i < count; ++i) {
    auto worker = std::make_unique<RunState>(walk.options, walk.shared);
    RunState* state = worker.get();
    // A process limit may refuse a thread: the run goes on with the connections it has.
    try {
      threads_.emplace_back([this, state] { Work(*state); });
    } catch (const std::system_error&) {
      break;
    }
    workers_.push_back(std::move(worker));
    ++joining_;
  }
  if (count > 1 && joining_ == 0) SayConnections(0);
}

ConnectionPool::~ConnectionPool() { Finish(); }

void ConnectionPool::Work(RunState& worker) {
  const bool in = LogIn(worker);
  Joined(in);
  if (!in) return;
  FileJob job;
  for (;;) {
    Failure lost({}, kExitConnection, Walk::kStops, FailureKind::kLost);
    // A time given with no command to go along is given before the connection waits.
    if (Idle()) SettleRemoteTime(worker, true);
    const Taken taken = TakeJob(&worker, &job, true);
    if (taken == Taken::kClosing) return;
    if (taken == Taken::kJob) {
      if (RunJob(worker, job, &lost) == Ended::kDone) {
        std::lock_guard<std::mutex> hold(lock_);
        --busy_;
        changed_.notify_all();
        continue;
      }
      GiveBack(std::move(job));
    }
    // Its connection is dead: its own, or the walk's that it took over.
    if (!Reopen(worker, &lost)) return Leave();
    std::lock_guard<std::mutex> hold(lock_);
    --busy_;
    changed_.notify_all();
  }
}

// Quietly: the walk's own connection has said what connecting and logging in means.
bool ConnectionPool::LogIn(RunState& worker) {
  worker.Announce = false;
  SetTimeout(worker.ftp(), std::min(kJoinSeconds, worker.options.Timeout));
  const bool in = !OpenSession(worker).failed();
  SetTimeout(worker.ftp(), worker.options.Timeout);
  worker.Announce = true;
  if (!in) worker.ftp().ControlConnection.Close();
  return in;
}

// Once every login has ended: how many got in, and, where one was lost meanwhile, how many are
// left, so that the messages are the same whenever the loss came.
void ConnectionPool::Joined(bool in) {
  std::lock_guard<std::mutex> hold(lock_);
  --joining_;
  if (in) {
    ++working_;
    ++joined_;
  }
  if (joining_ == 0) {
    SayConnections(joined_);
    if (working_ < joined_) SayConnections(working_);
  }
  changed_.notify_all();
}

// An idle connection takes over the walk's dead one when the walk asks for it, and a job
// otherwise; none is left to take while jobs may still come back.
ConnectionPool::Taken ConnectionPool::TakeJob(RunState* worker, FileJob* job, bool wait) {
  std::unique_lock<std::mutex> hold(lock_);
  if (wait) {
    changed_.wait(hold,
                  [this] { return !jobs_.empty() || swap_wanted_ || (closing_ && busy_ == 0); });
  }
  if (worker != nullptr && swap_wanted_) {
    std::swap(worker->connection, walk_.connection);
    swap_wanted_ = false;
    swapped_ = true;
    ++busy_;
    changed_.notify_all();
    return Taken::kSwapped;
  }
  if (jobs_.empty()) return Taken::kClosing;
  *job = std::move(jobs_.front());
  jobs_.pop_front();
  if (worker != nullptr) ++busy_;
  changed_.notify_all();
  return Taken::kJob;
}

bool ConnectionPool::Idle() {
  std::lock_guard<std::mutex> hold(lock_);
  return jobs_.empty();
}

void ConnectionPool::GiveBack(FileJob job) {
  std::lock_guard<std::mutex> hold(lock_);
  jobs_.push_front(std::move(job));
  changed_.notify_all();
}

void ConnectionPool::Spread(FileJob& job) {
  if (job.files.size() < 2) return;
  if (Listed(job) != nullptr) {
    job.listed = std::make_shared<const RemoteDirectory>(std::move(job.listing.entries));
  }
  std::lock_guard<std::mutex> hold(lock_);
  for (std::size_t i = 1; i < job.files.size(); ++i) {
    FileJob one;
    one.LocalDir = job.LocalDir;
    one.files = {std::move(job.files[i])};
    one.RemotePath = job.RemotePath;
    one.listed = job.listed;
    jobs_.push_back(std::move(one));
  }
  job.files.resize(1);
  changed_.notify_all();
}

// "/d /p": a share of the directories waiting to be compared, for a connection to list in one go
// with its own.
std::vector<FileJob> ConnectionPool::TakeOthers() {
  std::lock_guard<std::mutex> hold(lock_);
  // Shared with the connections still logging in, which would otherwise find nothing left.
  const std::size_t connections = static_cast<std::size_t>(working_ + joining_ + 1);
  const std::size_t share = std::min(kListedAtOnce - 1, jobs_.size() / connections);
  std::vector<FileJob> taken;
  for (auto it = jobs_.begin(); it != jobs_.end() && taken.size() < share;) {
    if (it->compare && !it->mirror && it->files.size() <= kListedFilesMost && it->next == 0 &&
        it->tries == 0 && !it->announced && !it->resume) {
      taken.push_back(std::move(*it));
      it = jobs_.erase(it);
    } else {
      ++it;
    }
  }
  return taken;
}

// The directories listed with another are judged where that can be done from elsewhere, and go
// back to be sent (those with nothing to send are done); the others go back to be compared.
void ConnectionPool::SettleOthers(RunState& run, std::vector<FileJob>& others,
                                  std::vector<DirectoryListing>& known) {
  std::vector<FileJob> back;
  for (std::size_t i = 0; i < others.size(); ++i) {
    FileJob& other = others[i];
    std::vector<ListingEntry> changed;
    if (i < known.size() && !run.shared.Stopped() &&
        CompareAway(run, known[i], other.files, &changed, &other.listing)) {
      if (changed.empty()) continue;
      other.files = std::move(changed);
      other.compare = false;
    }
    back.push_back(std::move(other));
  }
  std::lock_guard<std::mutex> hold(lock_);
  for (auto it = back.rbegin(); it != back.rend(); ++it) jobs_.push_front(std::move(*it));
  changed_.notify_all();
}

void ConnectionPool::Send(FileJob job) {
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      const std::size_t others = static_cast<std::size_t>(working_ + joining_);
      if (others == 0 && !walk_lost_) break;
      const std::size_t waiting =
          job.compare ? kComparesWaitingPerConnection : kWaitingPerConnection;
      if (jobs_.size() < waiting * others || walk_lost_) {
        jobs_.push_back(std::move(job));
        changed_.notify_all();
        return;
      }
    }
    FileJob waiting;
    if (TakeJob(nullptr, &waiting, false) == Taken::kJob) RunOnWalk(std::move(waiting));
  }
  RunOnWalk(std::move(job));
}

void ConnectionPool::Finish() {
  for (;;) {
    FileJob job;
    {
      std::unique_lock<std::mutex> hold(lock_);
      // Done once no job can come back, and none is left that a connection could send.
      const auto settled = [this] {
        return busy_ == 0 && joining_ == 0 && (jobs_.empty() || (walk_lost_ && working_ == 0));
      };
      changed_.wait(hold, [&] { return settled() || (!walk_lost_ && !jobs_.empty()); });
      if (walk_lost_ || jobs_.empty()) break;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    RunOnWalk(std::move(job));
  }
  if (!IsLost(walk_)) SettleRemoteTime(walk_, true);
  {
    std::lock_guard<std::mutex> hold(lock_);
    closing_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
  NameUnsent();
  workers_.clear();
}

void ConnectionPool::RunOnWalk(FileJob job) {
  Failure lost;
  if (RunJob(walk_, job, &lost) == Ended::kDone) return;
  GiveBack(std::move(job));
  Recover(walk_, lost);
}

bool ConnectionPool::Recover(RunState& walk, Failure failure) {
  if (SwapWithWorker(walk) || Reopen(walk, &failure)) return true;
  {
    std::lock_guard<std::mutex> hold(lock_);
    walk_lost_ = true;
    changed_.notify_all();
  }
  // Without "/r" the connection is simply gone; with it, the last try says why.
  if (walk.options.Retries == 0 || failure.kind == FailureKind::kLost) {
    failure = LostFailure(walk.options);
  }
  failure.walk = Walk::kStops;
  Report(walk, failure);
  return false;
}

bool ConnectionPool::SwapWithWorker(RunState& walk) {
  std::unique_lock<std::mutex> hold(lock_);
  if (&walk != &walk_ || (working_ == 0 && joining_ == 0)) return false;
  swap_wanted_ = true;
  changed_.notify_all();
  changed_.wait(hold, [this] { return swapped_ || (working_ == 0 && joining_ == 0); });
  swap_wanted_ = false;
  const bool swapped = swapped_;
  swapped_ = false;
  return swapped;
}

// Per file, "/r" bounds how often its connection may be lost under it; past that the file
// failed, as on one connection.
bool ConnectionPool::CountTry(RunState& run, FileJob& job, const Failure& failure) {
  if (run.options.Retries == 0 || !failure.sent_data) return true;
  if (++job.tries <= run.options.Retries) return true;
  Report(run, failure);
  ++job.next;
  job.tries = 0;
  return false;
}

// A file is started only while the walk goes on: after a failed one, files in flight finish and
// the rest are left, as on one connection.
ConnectionPool::Ended ConnectionPool::RunJob(RunState& run, FileJob& job, Failure* lost) {
  const bool hand_on = run.options.Parallel > 1;
  if (run.shared.Stopped()) {
    // A file said to be on its way is never left without a word.
    if (job.announced) {
      Report(run, {NotSentMessage(job.LocalDir.Text() + job.files[job.next].name)}, kExitTransfer,
             Walk::kStops);
    }
    return Ended::kDone;
  }
  // "/n" sends nothing, and needs to be in a directory only to list it. "/p" enters a directory
  // to compare in one go with its listing.
  const bool with_listing = job.compare && hand_on;
  if (run.ftp().RemoteDir != job.RemotePath && (job.compare || !run.options.DryRun) &&
      !with_listing) {
    // A directory that the walk entered and that this connection cannot enter is reported, and
    // its files left.
    const Step enter = [&] { return EnterDirectory(run, job.RemotePath, Walk::kGoesOn); };
    const Tried entered = Attempt(run, std::string(), enter, hand_on, lost);
    if (entered != Tried::kDone) return entered == Tried::kLost ? Ended::kLost : Ended::kDone;
  }
  RemoveLeftTemporary(run);
  if (job.compare) {
    // Directories waiting to be compared are listed in one go with this one, which goes last so
    // that the connection ends in it: a round trip for each rather than two.
    std::vector<FileJob> others;
    std::vector<DirectoryListing> known;
    if (with_listing && !job.mirror && !run.options.DryRun) others = TakeOthers();
    if (!others.empty()) known = ListTogether(run, others, job);
    DirectoryListing* mine = known.empty() ? nullptr : &known.back();
    std::vector<ListingEntry> changed;
    const Step list = [&] {
      return CompareListing(run, job.RemotePath, job.files, &changed, &job.listing, &mine);
    };
    // Without "/r" on one connection a lost listing sends every file, as it always did.
    const bool again = hand_on || run.options.Retries > 0;
    const std::string reenter = with_listing ? std::string() : job.RemotePath;
    const Tried listed = again ? Attempt(run, reenter, list, hand_on, lost) : Tried::kDone;
    if (!again) list();
    SettleOthers(run, others, known);
    if (listed != Tried::kDone) return listed == Tried::kLost ? Ended::kLost : Ended::kDone;
    job.files = std::move(changed);
    job.compare = false;
    if (job.mirror) LeaveClashes(run, job);
    // "/p": the files to send go to every connection, as without "/d"; "/m" deletes once the
    // directory's files are sent, on the connection that compared it.
    if (hand_on && !job.mirror) Spread(job);
  }
  for (; job.next < job.files.size(); ++job.next) {
    if (run.shared.Stopped()) return Ended::kDone;
    const ListingEntry& entry = job.files[job.next];
    Resumed resumed;
    resumed.lost = job.resume;
    resumed.listed = Listed(job);
    // After a transfer lost with its connection, the next try goes on from what arrived.
    const Step publish = [&] {
      Failure failure = PublishFile(run, job.LocalDir, entry, resumed);
      resumed.lost = failure.sent_data && run.options.Retries > 0;
      resumed.listed = nullptr;
      return failure;
    };
    if (Attempt(run, job.RemotePath, publish, hand_on, lost) == Tried::kLost) {
      job.announced = CountTry(run, job, *lost);
      job.resume = lost->sent_data && run.options.Retries > 0;
      return Ended::kLost;
    }
    job.tries = 0;
    job.announced = false;
    job.resume = false;
  }
  if (job.mirror && !run.shared.Stopped())
    DeleteGone(run, job.RemotePath, *job.mirror, job.listing);
  return Ended::kDone;
}

void ConnectionPool::Leave() {
  std::lock_guard<std::mutex> hold(lock_);
  --working_;
  --busy_;
  if (joining_ == 0) SayConnections(working_);
  changed_.notify_all();
}

// The walk's own connection among them.
void ConnectionPool::SayConnections(int others) {
  walk_.WriteMessage("Соединений с сервером: " + std::to_string(others + 1) + " из " +
                     std::to_string(asked_));
}

// Files that no connection was left to send are named, never lost in silence.
void ConnectionPool::NameUnsent() {
  std::vector<std::string> messages;
  for (const FileJob& job : jobs_) {
    for (std::size_t i = job.next; i < job.files.size(); ++i) {
      messages.push_back(NotSentMessage(job.LocalDir.Text() + job.files[i].name));
    }
  }
  jobs_.clear();
  if (!messages.empty()) Report(walk_, Failure(messages, kExitTransfer, Walk::kStops));
}
