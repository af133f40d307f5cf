// RunUpload: from the connection to the closing message.
#include "upload/run_upload.h"

#include "ftp/file_commands.h"
#include "ftp/login.h"
#include "ftp/remote_path.h"
#include "upload/pool.h"
#include "upload/retry.h"
#include "upload/walk.h"

namespace {

// A path such as "www" names a directory in the login's own, but the walk changes directories,
// after which the server would resolve it elsewhere: it is made absolute once, from PWD.
std::string AbsoluteRemotePath(RunState& run, const std::string& RemotePath) {
  if (RemotePath.compare(0, 1, "/") == 0) return RemotePath;
  std::string home;
  if (!AskCurrentDirectory(run.ftp(), &home)) return RemotePath;
  return JoinRemotePath(home, RemotePath);
}

// Digits in groups of three, as Russian text writes large numbers: 12 345.
std::string Grouped(std::int64_t number) {
  std::string digits = std::to_string(number);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(at, " ");
  return digits;
}

// Files that went on from where they were cut, and what that saved.
std::string Resumed(const RunState& run, const char* lead) {
  return lead + Grouped(run.shared.FilesResumed) +
         " (не отправлено повторно: " + Grouped(run.shared.BytesNotResent) + " байт)";
}

// "/d" says what it did, since it sends files in silence; "/m" what it deleted; "/n" what a run
// would have done.
void WriteSummary(RunState& run) {
  const RunShared& shared = run.shared;
  const bool plan = run.options.DryRun;
  std::string text = std::string(plan ? "Будет отправлено файлов: " : "Отправлено файлов: ") +
                     Grouped(shared.FilesSent) + " (" + Grouped(shared.BytesSent) + " байт)";
  if (run.options.Differs) text += ", без изменений: " + Grouped(shared.FilesUnchanged);
  if (run.options.Mirror) {
    text += std::string(plan ? ", будет удалено файлов: " : ", удалено файлов: ") +
            Grouped(shared.FilesDeleted) + ", каталогов: " + Grouped(shared.DirsDeleted);
  }
  if (shared.FilesResumed > 0) text += Resumed(run, ", продолжено файлов: ");
  run.WriteMessage(text);
}

// FEAT once, before other connections open: what the server can do, and from it how times can
// be compared.
void LearnServer(RunState& run) {
  const Reply reply = LearnFeatures(run.ftp());
  const ServerFeatures& features = run.shared.Server.Features;
  // A server that lists neither way of setting a time can set none; one without FEAT may, and
  // one that lists MFMT may still refuse it to this login: the first file whose time differs
  // tells.
  const bool settable = features.mfmt || features.mdtm || !reply.IsPositive();
  run.shared.Times = settable ? TimeRule::kExact : TimeRule::kNotEarlier;
  run.shared.TimesKnown = !settable;
}

void PublishTree(RunState& run) {
  if (run.options.Differs || run.options.Utf8Names || run.options.Verify) LearnServer(run);
  UseUtf8Names(run.ftp());
  const std::string remote = AbsoluteRemotePath(run, run.options.RemotePath);
  ConnectionPool files(run, run.options.Parallel);
  run.WriteMessage("Начинаем пересылку файлов");
  UploadTree(run, run.options.LocalMask, remote, files);
  if (run.options.Differs || run.options.DryRun) {
    WriteSummary(run);
  } else if (run.shared.FilesResumed > 0) {
    run.WriteMessage(Resumed(run, "Продолжено файлов: "));
  }
  if (!Interrupted()) run.WriteMessage("Пересылка файлов закончена");
}

}  // namespace

// An interruption ends the run wherever it was, with its own message and exit code, once the
// connections have stopped and the server is left tidy.
void RunUpload(RunState& run) {
  if (OpenFirstSession(run)) PublishTree(run);
  if (Interrupted()) {
    run.WriteMessage("Пересылка файлов прервана");
    run.shared.ExitStatus = kExitInterrupted;
  }
}
