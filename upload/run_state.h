// The state a run works on: the connections, the console and the exit status. The options it
// reads stay apart and never change during the run.
#ifndef VARDEK_UPLOAD_RUN_STATE_H_
#define VARDEK_UPLOAD_RUN_STATE_H_

#include <cstdint>
#include <memory>
#include <random>
#include <string>

#include "net/socket.h"
#include "upload/comparison.h"
#include "upload/console.h"
#include "upload/options.h"
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

struct RunState {
  RunState(const Options& run_options, Console& run_console)
      : options(run_options), console(run_console) {}

  const Options& options;
  // Set by a failed file transfer; ends every file and directory loop of the walk.
  bool TransferAborted = false;
  // The process exit code; each reported failure overwrites it, nothing resets it.
  std::int32_t ExitStatus = 0;
  std::unique_ptr<TSocket> ControlConnection;
  std::unique_ptr<TSocket> DataConnection;
  // "/d": what the server can do, and how its times compare with local ones.
  ServerFeatures Features;
  TimeRule Times = TimeRule::kExact;
  bool BinaryType = false;  // TYPE I is in force on the control connection
  // "/a": the random part of temporary names.
  std::mt19937 Random{std::random_device{}()};
  // What the run did, for the summary of "/d".
  std::int64_t FilesSent = 0;
  std::int64_t BytesSent = 0;
  std::int64_t FilesUnchanged = 0;
  // The area files are copied through, made once for the run: under wine a large allocation
  // per file costs more than sending the file.
  std::unique_ptr<char[]> CopyBuffer;
  Console& console;

  void WriteMessage(const std::string& text) { console.WriteMessage(text); }
};

#endif  // VARDEK_UPLOAD_RUN_STATE_H_
