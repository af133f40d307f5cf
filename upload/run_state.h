// The state a run works on: what all its connections share (the console, the exit status, what
// the server can do, what was done), and the run's view of one connection. The options it reads
// stay apart and never change during the run.
#ifndef VARDEK_UPLOAD_RUN_STATE_H_
#define VARDEK_UPLOAD_RUN_STATE_H_

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "console/console.h"
#include "console/progress.h"
#include "ftp/control.h"
#include "net/interrupt.h"
#include "net/throttle.h"
#include "upload/comparison.h"
#include "upload/options.h"

// Exit codes: the stage at which a run failed.
enum ExitCode : std::int32_t {
  kExitOk = 0,
  kExitUsage = 1,
  kExitConnection = 2,   // no control connection, or the login was refused
  kExitDirectory = 3,    // a remote directory can be neither entered nor created
  kExitPassive = 4,      // the server refused passive mode
  kExitTransfer = 5,     // no data connection, or a file was not sent
  kExitBusy = 6,         // another run holds the log ("/l"): the job is still going
  kExitInterrupted = 7,  // a signal or the console's Ctrl+C stopped the run
};

// What every connection of a run shares. "/p" works with several connections at once: what
// changes is atomic, and the console takes a whole report at a time.
struct RunShared {
  RunShared(Console& run_console, bool show_progress)
      : console(run_console),
        progress(show_progress, [this](const std::string& status) { ShowStatus(status); }) {}

  // No file or directory is to be started: a failure stopped the walk, or the run was
  // interrupted.
  bool Stopped() const { return TransferAborted || Interrupted(); }
  // Writes the messages one after another, no other connection's between them.
  void WriteMessages(std::initializer_list<std::string> messages);
  // The progress line on a terminal; empty: erased.
  void ShowStatus(const std::string& status);

  Console& console;
  std::mutex console_lock;
  // Set by a failed file transfer; ends every file and directory loop of the walk.
  std::atomic<bool> TransferAborted{false};
  // The process exit code; each reported failure overwrites it, nothing resets it.
  std::atomic<std::int32_t> ExitStatus{0};
  // What the server can do (FEAT is asked once, before other connections open) and whether it
  // takes commands sent in one go.
  ServerTraits Server;
  // "/d": how the server's times compare with local ones.
  std::atomic<TimeRule> Times{TimeRule::kExact};
  std::atomic<bool> TimesKnown{false};  // whether the server can set times is known for sure
  // What the server's times are ahead of UTC by, where its listings show local time and MFMT
  // takes UTC (pyftpdlib with use_gmt_times off): learnt from MFMT's "213 Modify=" reply.
  std::atomic<std::int64_t> TimeShift{0};
  // What the run did, for the summary of "/d".
  std::atomic<std::int64_t> FilesSent{0};
  std::atomic<std::int64_t> BytesSent{0};
  std::atomic<std::int64_t> FilesUnchanged{0};
  // "/m": files and directories deleted (or, with "/n", to be), and whether its cap was said.
  std::atomic<std::int64_t> FilesDeleted{0};
  std::atomic<std::int64_t> DirsDeleted{0};
  std::atomic<int> Deletions{0};
  std::atomic<bool> CapSaid{false};
  // Files that went on from where a lost transfer or an earlier run left them, and the bytes
  // that did not go again.
  std::atomic<std::int64_t> FilesResumed{0};
  std::atomic<std::int64_t> BytesNotResent{0};
  // "/b": the cap that every data connection shares; none without it.
  std::unique_ptr<Throttle> Limit;
  // "/v": that the server tells no sizes was said.
  std::atomic<bool> NoSizeSaid{false};
  Progress progress;
};

// How every connection of the run talks to the server, from the options.
FtpSettings ConnectionSettings(const Options& options, Throttle* limit);

// One control connection of the run, as the run sees it.
struct RunState {
  RunState(const Options& run_options, RunShared& run_shared)
      : options(run_options),
        shared(run_shared),
        connection(std::make_unique<FtpConnection>(ConnectionSettings(options, shared.Limit.get()),
                                                   shared.Server)) {}

  FtpConnection& ftp() { return *connection; }

  const Options& options;
  RunShared& shared;
  // Its own, or another connection's that carries on the walk when the walk's own is lost.
  std::unique_ptr<FtpConnection> connection;
  bool Announce = true;  // whether connecting and logging in is said on the console
  // "/a": a temporary file that a lost connection kept from being deleted: its directory and
  // its name.
  std::pair<std::string, std::string> LeftTemporary;

  void WriteMessage(const std::string& text) { shared.WriteMessages({text}); }
};

#endif  // VARDEK_UPLOAD_RUN_STATE_H_
