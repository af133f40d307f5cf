// Storing a file, and with "/a" replacing the server's copy only once the new one is whole.
#include "upload/publish.h"

#include <algorithm>
#include <cstdio>

#include "ftp/file_commands.h"
#include "ftp/remote_path.h"
#include "ftp/transfer.h"
#include "local/local_file.h"
#include "upload/differs.h"

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
  void Begin() override { slot_ = progress_.Begin(file_.Size()); }
  void Advance(std::int64_t bytes) override { progress_.Advance(slot_, bytes); }
  void End() override { progress_.End(slot_); }

 private:
  LocalFile file_;
  Progress& progress_;
  int slot_ = 0;
};

// Sends the entry's file of LocalDir into the current remote directory under remote_name, and
// leaves the bytes the server took in `bytes`. The failure, if any, stops the walk.
Failure UploadFile(RunState& run, const LocalPath& LocalDir, const ListingEntry& entry,
                   const std::string& remote_name, std::int64_t* bytes) {
  const std::string path = LocalDir.Text() + entry.name;
  UseBinaryType(run.ftp());
  run.WriteMessage("Отправляем на сервер файл \"" + path + "\"");
  FileSource source(run.shared.progress);
  // A file that cannot be read must not replace the server's copy with an empty one.
  if (!source.Open(LocalDir, entry.name)) {
    return Failure({NotSentMessage(path)}, kExitTransfer, Walk::kStops);
  }
  const TransferResult result = StoreFile(run.ftp(), remote_name, source);
  *bytes = result.bytes;
  // "/a" deletes the temporary file next: its DELE must get its own reply, and the server must
  // have ended the transfer before, or the file is left behind.
  if (result.reply_owed && run.options.Atomic) {
    SkipOwedReply(run.ftp(), std::min(kOwedReplySeconds, run.options.Timeout));
  }
  return TransferFailure(run.options, result, path);
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

Failure PublishFile(RunState& run, const LocalPath& LocalDir, const ListingEntry& entry) {
  if (run.options.DryRun) {
    run.WriteMessage("Будет отправлен файл \"" + LocalDir.Text() + entry.name + "\"");
    CountSent(run, std::max<std::int64_t>(entry.size, 0));
    return Failure();
  }
  std::int64_t bytes = 0;
  const std::string stored =
      run.options.Atomic ? TemporaryName(entry.name, run.Random()) : entry.name;
  Failure failure = UploadFile(run, LocalDir, entry, stored, &bytes);
  if (failure.failed()) {
    if (run.options.Atomic) RemoveTemporary(run, stored);
    return failure;
  }
  // With "/a" the file appears under its name with its final time.
  if (run.options.Differs) SetRemoteTime(run, stored, entry.modified);
  Reply refusal;
  if (run.options.Atomic && !RenameOnto(run.ftp(), stored, entry.name, &refusal)) {
    RemoveTemporary(run, stored);
    return Failure({NotSentMessage(LocalDir.Text() + entry.name)}, kExitTransfer, Walk::kStops,
                   KindOf(refusal));
  }
  CountSent(run, bytes);
  return Failure();
}
