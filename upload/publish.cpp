// Storing a file, and with "/a" replacing the server's copy only once the new one is whole.
#include "upload/publish.h"

#include <algorithm>
#include <cstdio>

#include "ftp/file_commands.h"
#include "ftp/remote_path.h"
#include "ftp/transfer.h"
#include "local/local_file.h"
#include "upload/differs.h"
#include "upload/verify.h"

namespace {

constexpr std::size_t kLongestName = 255;
// How long the server may take to answer a transfer that ended early.
constexpr int kOwedReplySeconds = 5;

// A local file as a transfer reads it, with its part of the progress line.
class FileSource final : public DataSource {
 public:
  explicit FileSource(Progress& progress) : progress_(progress) {}

  bool Open(const LocalPath& dir, const std::string& name) { return file_.Open(dir, name); }
  int Read(char* buffer, int size) override { return file_.Read(buffer, size); }
  std::int64_t Size() const override { return file_.Size(); }
  void Close() override { file_.Close(); }
  bool SkipTo(std::int64_t offset) override { return file_.Seek(offset); }
  void Begin() override { slot_ = progress_.Begin(file_.Size()); }
  void Advance(std::int64_t bytes) override { progress_.Advance(slot_, bytes); }
  void End() override { progress_.End(slot_); }

 private:
  LocalFile file_;
  Progress& progress_;
  int slot_ = 0;
};

// Where the file goes on from: the bytes the server holds of it under that name (`listed` or
// SIZE tells), when it holds some and no more than the file has; a part an earlier run left
// must be smaller, else it may be a whole copy whose rename never came, and it goes again.
// 0: from its first byte.
std::int64_t ResumeFrom(RunState& run, const std::string& stored, std::int64_t size,
                        const Resumed& resumed) {
  std::int64_t there = -1;
  if (resumed.listed != nullptr) {
    auto found = resumed.listed->find(stored);
    if (found != resumed.listed->end() && !found->second.directory) there = found->second.size;
  } else if (!ParseSizeReply(AskSize(run.ftp(), stored), &there)) {
    there = -1;
  }
  const std::int64_t most = resumed.lost ? size : size - 1;
  return there > 0 && there <= most ? there : 0;
}

// Sends the entry's file of LocalDir into the current remote directory under remote_name, and
// leaves the bytes the server took in `bytes`: after a lost transfer, or with "/a" where an
// earlier run left a part, on from what the server holds, and then checked as a whole; with
// "/v" checked in any case. The failure, if any, stops the walk.
Failure UploadFile(RunState& run, const LocalPath& LocalDir, const ListingEntry& entry,
                   const std::string& remote_name, const Resumed& resumed, std::int64_t* bytes) {
  const std::string path = LocalDir.Text() + entry.name;
  UseBinaryType(run.ftp());
  FileSource source(run.shared.progress);
  // A file that cannot be read must not replace the server's copy with an empty one.
  if (!source.Open(LocalDir, entry.name)) {
    run.WriteMessage("Отправляем на сервер файл \"" + path + "\"");
    return Failure({NotSentMessage(path)}, kExitTransfer, Walk::kStops);
  }
  const bool verify = run.options.Verify;
  const std::int64_t from =
      resumed.lost || run.options.Atomic ? ResumeFrom(run, remote_name, source.Size(), resumed) : 0;
  TransferResult result;
  bool went_on = from > 0;
  if (went_on) {
    run.WriteMessage("Продолжаем отправку файла \"" + path + "\" с байта " + std::to_string(from));
    result = StoreFile(run.ftp(), remote_name, source, from, true);
    went_on = result.fault != TransferFault::kResumeRefused;
  }
  // A server that takes neither REST with STOR nor APPE gets the whole file again.
  if (!went_on) {
    run.WriteMessage("Отправляем на сервер файл \"" + path + "\"");
    if (from > 0 && !source.SkipTo(0)) {
      return Failure({NotSentMessage(path)}, kExitTransfer, Walk::kStops);
    }
    result = StoreFile(run.ftp(), remote_name, source, 0, verify);
  }
  *bytes = result.bytes;
  // "/a" deletes the temporary file next: its DELE must get its own reply, and the server must
  // have ended the transfer before, or the file is left behind.
  if (result.reply_owed && run.options.Atomic) {
    SkipOwedReply(run.ftp(), std::min(kOwedReplySeconds, run.options.Timeout));
  }
  Failure failure = TransferFailure(run.options, result, path);
  if (failure.failed() || !(went_on || verify)) return failure;
  // The resumed part was not seen by this run: the whole is checked, always.
  const std::int64_t sent = (went_on ? from : 0) + result.bytes;
  failure = CheckSent(run, {LocalDir, entry.name, remote_name, sent, result.size}, verify);
  if (!failure.failed() && went_on) {
    ++run.shared.FilesResumed;
    run.shared.BytesNotResent += from;
  }
  return failure;
}

// A failed transfer leaves nothing behind, as far as the server still answers; a temporary file
// that a lost connection kept is deleted on the next one.
void RemoveTemporary(RunState& run, const std::string& temporary) {
  if (!RemoveFile(run.ftp(), temporary).complete) {
    run.LeftTemporary = {run.ftp().RemoteDir, temporary};
  }
}

void CountSent(RunState& run, std::int64_t bytes) {
  ++run.shared.FilesSent;
  run.shared.BytesSent += bytes;
}

}  // namespace

void RemoveLeftTemporary(RunState& run) {
  const auto& left = run.LeftTemporary;
  if (left.second.empty()) return;
  // By its name where the connection is in its directory, as ever; by its path elsewhere.
  RemoveFile(run.ftp(), left.first == run.ftp().RemoteDir
                            ? left.second
                            : JoinRemotePath(left.first, left.second));
  run.LeftTemporary = {};
}

std::string TemporaryName(const std::string& name, std::uint32_t random) {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".%06x.part", random & 0xFFFFFFu);
  std::size_t keep = std::min(name.size(), kLongestName - std::char_traits<char>::length(suffix));
  // A UTF-8 continuation byte would start the cut-off rest of a character.
  while (keep > 0 && keep < name.size() &&
         (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) {
    --keep;
  }
  return name.substr(0, keep) + suffix;
}

std::uint32_t PartKey(const ListingEntry& entry) {
  // FNV-1a: a name, a size and a time that stay the same give the same key on every run and
  // every build.
  std::uint32_t key = 2166136261u;
  auto mix = [&key](const void* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
      key = (key ^ static_cast<const unsigned char*>(data)[i]) * 16777619u;
    }
  };
  const std::int64_t numbers[] = {entry.size, entry.modified};
  for (std::int64_t number : numbers) {
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(number >> (8 * i));
    mix(bytes, sizeof bytes);
  }
  mix(entry.name.data(), entry.name.size());
  return key;
}

Failure PublishFile(RunState& run, const LocalPath& LocalDir, const ListingEntry& entry,
                    const Resumed& resumed) {
  SettleRemoteTime(run, false);
  if (run.options.DryRun) {
    run.WriteMessage("Будет отправлен файл \"" + LocalDir.Text() + entry.name + "\"");
    CountSent(run, std::max<std::int64_t>(entry.size, 0));
    return Failure();
  }
  std::int64_t bytes = 0;
  // "/a": the same file, unchanged, has the same temporary name on every try and every run, so
  // that a part that a lost connection or a killed run left can be gone on from.
  const std::string stored =
      run.options.Atomic ? TemporaryName(entry.name, PartKey(entry)) : entry.name;
  Failure failure = UploadFile(run, LocalDir, entry, stored, resumed, &bytes);
  if (failure.failed()) {
    // A part that a new connection will go on from stays.
    const bool again = failure.kind == FailureKind::kLost && run.options.Retries > 0;
    if (run.options.Atomic && !again) RemoveTemporary(run, stored);
    return failure;
  }
  // With "/a" the file appears under its name with its final time.
  if (run.options.Differs) SetRemoteTime(run, stored, entry.modified);
  Reply refusal;
  if (run.options.Atomic && !RenameOnto(run.ftp(), stored, entry.name, &refusal)) {
    RemoveTemporary(run, stored);
    // The bytes arrived; the server would not put them in place.
    return Failure(
        {"Не удалось переименовать на сервере файл \"" + stored + "\" в \"" + entry.name + "\""},
        kExitTransfer, Walk::kStops, KindOf(refusal));
  }
  CountSent(run, bytes);
  return Failure();
}
