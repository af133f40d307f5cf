// Checking a stored copy against the local file it came from.
#include "upload/verify.h"

#include <vector>

#include "ftp/file_commands.h"
#include "local/local_file.h"
#include "text/digest.h"

namespace {

// Small, as the copy buffer: the run keeps to a few MiB of memory.
constexpr int kReadUnit = 64 << 10;

Failure Differs(const std::string& path) {
  Failure failure({"Файл \"" + path + "\" на сервере не совпадает с отправленным"}, kExitTransfer,
                  Walk::kStops, FailureKind::kRefused);
  failure.mismatch = true;
  return failure;
}

// The connection was lost before the copy could be checked: not taken as sent. The next try
// goes on from what the server holds, which may be all of it.
Failure Unchecked(const std::string& path) {
  Failure failure({NotSentMessage(path)}, kExitTransfer, Walk::kStops, FailureKind::kLost);
  failure.sent_data = true;
  return failure;
}

bool LocalDigest(const LocalPath& dir, const std::string& name, DigestKind kind, std::string* hex) {
  LocalFile file;
  if (!file.Open(dir, name)) return false;
  Digest digest(kind);
  std::vector<char> buffer(kReadUnit);
  int got = 0;
  while ((got = file.Read(buffer.data(), kReadUnit)) > 0) digest.Add(buffer.data(), got);
  if (got < 0) return false;
  *hex = digest.Hex();
  return true;
}

// The digests of both sides, where the server computes one; a server that will not compute it
// for this file leaves it unchecked.
Failure CompareDigests(RunState& run, const SentFile& sent, const std::string& path) {
  const DigestKind kind = OfferedDigest(run.ftp().Server.Features);
  if (kind == DigestKind::kNone) return Failure();
  std::string local, remote;
  if (!LocalDigest(sent.dir, sent.name, kind, &local)) {
    return Failure({NotSentMessage(path)}, kExitTransfer, Walk::kStops);
  }
  Reply reply;
  if (AskDigest(run.ftp(), sent.stored, kind, &remote, &reply)) {
    return remote == local ? Failure() : Differs(path);
  }
  return reply.complete ? Failure() : Unchecked(path);
}

}  // namespace

Failure CheckSent(RunState& run, const SentFile& sent, bool digest) {
  const std::string path = sent.dir.Text() + sent.name;
  const Reply reply = sent.size_reply.complete ? sent.size_reply : AskSize(run.ftp(), sent.stored);
  std::int64_t there = -1;
  if (!reply.complete) return Unchecked(path);
  if (IsUnknownCommand(reply)) {
    if (!run.shared.NoSizeSaid.exchange(true)) {
      run.WriteMessage("Сервер \"" + run.options.ServerHost +
                       "\" не сообщает размеры файлов: они не проверяются");
    }
  } else if (!ParseSizeReply(reply, &there) || there != sent.size) {
    return Differs(path);
  }
  return digest ? CompareDigests(run, sent, path) : Failure();
}
