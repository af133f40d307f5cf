// RunUpload: from the connection to the closing message.
#include "upload/run_upload.h"

#include "upload/control.h"
#include "upload/pool.h"
#include "upload/remote_listing.h"
#include "upload/remote_path.h"
#include "upload/reply.h"
#include "upload/retry.h"
#include "upload/server_text.h"
#include "upload/session.h"
#include "upload/walk.h"

namespace {

// A path such as "www" names a directory in the login's own, but the walk changes directories,
// after which the server would resolve it elsewhere: it is made absolute once, from PWD.
std::string AbsoluteRemotePath(RunState& run, const std::string& RemotePath) {
  if (RemotePath.compare(0, 1, "/") == 0) return RemotePath;
  std::string home;
  Reply reply = Exchange(run, "PWD");
  if (!reply.IsPositive() || !DirectoryOfPwdReply(reply.first_line(), &home)) return RemotePath;
  return JoinRemotePath(FromServerText(home, run.options.Utf8Names), RemotePath);
}

// Digits in groups of three, as Russian text writes large numbers: 12 345.
std::string Grouped(std::int64_t number) {
  std::string digits = std::to_string(number);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(at, " ");
  return digits;
}

// "/d" says what it did, since it sends files in silence.
void WriteSummary(RunState& run) {
  run.WriteMessage("Отправлено файлов: " + Grouped(run.shared.FilesSent) + " (" +
                   Grouped(run.shared.BytesSent) +
                   " байт), без изменений: " + Grouped(run.shared.FilesUnchanged));
}

}  // namespace

void RunUpload(RunState& run) {
  if (!Connect(run)) return;
  if (run.options.Differs || run.options.Utf8Names) LearnFeatures(run);
  UseUtf8Names(run);
  const std::string remote = AbsoluteRemotePath(run, run.options.RemotePath);
  ConnectionPool files(run, run.options.Parallel);
  run.WriteMessage("Начинаем пересылку файлов");
  UploadTree(run, run.options.LocalMask, remote, files);
  if (run.options.Differs) WriteSummary(run);
  run.WriteMessage("Пересылка файлов закончена");
}
