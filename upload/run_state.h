// The state a run works on: what all its connections share (the console, the exit status, what
// the server can do, what was done), and what one connection works with. The options it reads
// stay apart and never change during the run.
#ifndef VARDEK_UPLOAD_RUN_STATE_H_
#define VARDEK_UPLOAD_RUN_STATE_H_

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <random>
#include <string>

#include "net/socket.h"
#include "upload/comparison.h"
#include "upload/console.h"
#include "upload/options.h"
#include "upload/progress.h"
#include "upload/reply.h"

// Exit codes: the stage at which a run failed.
enum ExitCode : std::int32_t {
  kExitOk = 0,
  kExitUsage = 1,
  kExitConnection = 2,  // no control connection, or the login was refused
  kExitDirectory = 3,   // a remote directory can be neither entered nor created
  kExitPassive = 4,     // the server refused passive mode
  kExitTransfer = 5,    // no data connection, or a file was not sent
};

// Whether the server answers commands sent in one go; some read one and drop the rest.
enum class Pipelining { kUnknown, kWorks, kLosesCommands };

// What every connection of a run shares. "/p" works with several connections at once: what
// changes is atomic, and the console takes a whole report at a time.
struct RunShared {
  RunShared(Console& run_console, bool show_progress)
      : console(run_console),
        progress(show_progress, [this](const std::string& status) { ShowStatus(status); }) {}

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
  // "/d": what the server can do (learnt once, before other connections open), and how its
  // times compare with local ones.
  ServerFeatures Features;
  std::atomic<TimeRule> Times{TimeRule::kExact};
  std::atomic<bool> TimesKnown{false};  // whether the server can set times is known for sure
  std::atomic<Pipelining> Pipelined{Pipelining::kUnknown};
  // What the run did, for the summary of "/d".
  std::atomic<std::int64_t> FilesSent{0};
  std::atomic<std::int64_t> BytesSent{0};
  std::atomic<std::int64_t> FilesUnchanged{0};
  Progress progress;
};

// One control connection of the run, with its data connection and what belongs to them.
struct RunState {
  RunState(const Options& run_options, RunShared& run_shared);

  const Options& options;
  RunShared& shared;
  std::unique_ptr<TSocket> ControlConnection;
  std::unique_ptr<TSocket> DataConnection;
  // The area files are copied through, made once: under wine a large allocation per file costs
  // more than sending the file.
  std::unique_ptr<char[]> CopyBuffer;
  bool BinaryType = false;  // TYPE I is in force on the control connection
  std::string RemoteDir;    // the current remote directory, as last entered; empty: unknown
  bool Announce = true;     // whether connecting and logging in is said on the console
  // "/a": the random part of temporary names, and a temporary file that a lost connection kept
  // from being deleted.
  std::mt19937 Random{std::random_device{}()};
  std::string LeftTemporary;

  void WriteMessage(const std::string& text) { shared.WriteMessages({text}); }
};

#endif  // VARDEK_UPLOAD_RUN_STATE_H_
