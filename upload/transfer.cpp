// UploadFile and the passive data connection.
#include "upload/transfer.h"

#include <memory>

#include "upload/control.h"
#include "upload/local_file.h"

namespace {

// Measured from 64 KiB to 1 MiB (and sendfile): natively 64 KiB is the fastest, since the unit
// stays in the processor's cache between the read and the send; under wine, where each call is
// far dearer, 1 MiB is the fastest by far.
#ifdef _WIN32
constexpr int kReadUnit = 1 << 20;
#else
constexpr int kReadUnit = 64 << 10;
#endif

constexpr int kPassiveAgain = 3;

enum class Copy { kDone, kLocalFault, kSendFault };

// Copies the file in reads of up to kReadUnit bytes, each sent at once. A file that reached the
// server only in part is never taken as sent: a read or a send failed, or the file ended short of
// its size at opening (cut while it was read, it arrived as neither its old nor its new self). A
// file that grows is sent up to its new end.
Copy CopyToData(LocalFile& file, TSocket& data, char* buffer, std::int64_t* copied,
                Progress& progress, int slot) {
  for (;;) {
    int got = file.Read(buffer, kReadUnit);
    if (got == 0) return *copied >= file.Size() ? Copy::kDone : Copy::kLocalFault;
    if (got < 0) return Copy::kLocalFault;
    if (!data.Send(buffer, got)) return Copy::kSendFault;
    *copied += got;
    progress.Advance(slot, got);
  }
}

// The file's part of the progress line, from its first byte to its judgement.
class Tracked {
 public:
  Tracked(Progress& progress, std::int64_t size)
      : progress_(progress), slot_(progress.Begin(size)) {}
  ~Tracked() { progress_.End(slot_); }
  Tracked(const Tracked&) = delete;
  Tracked& operator=(const Tracked&) = delete;
  int slot() const { return slot_; }

 private:
  Progress& progress_;
  const int slot_;
};

// Every failure of a transfer stops the walk.
Failure Fails(const std::string& message, ExitCode code, Failure::Kind kind) {
  return Failure({message}, code, Walk::kStops, kind);
}

// The file's bytes, after STOR was taken: TLS under "/e", the copy, the end of the data, and the
// completion reply.
Failure SendData(RunState& run, LocalFile& file, const std::string& path, std::int64_t* bytes) {
  TSocket& data = *run.DataConnection;
  // The data connection's TLS starts once the server takes the file: pyftpdlib takes bytes that
  // come before as the end of the connection.
  if (run.options.Encrypt && !data.ProtectLike(*run.ControlConnection)) {
    data.Close();
    return Fails(NotSentMessage(path), kExitTransfer, Failure::Kind::kLost);
  }
  // Not zeroed: a small file leaves the pages it does not need untouched.
  if (!run.CopyBuffer) run.CopyBuffer.reset(new char[kReadUnit]);
  *bytes = 0;
  Tracked tracked(run.shared.progress, file.Size());
  Copy copy =
      CopyToData(file, data, run.CopyBuffer.get(), bytes, run.shared.progress, tracked.slot());
  file.Close();
  // The end of the file for the server, and only once the server has closed its side does the
  // file count as delivered.
  if (copy == Copy::kDone && !data.Finish()) copy = Copy::kSendFault;
  data.Close();
  // After a failed copy the file is not sent whatever the server says; and its reply, if it
  // ever comes, is not worth another time-out, since the walk ends here.
  if (copy != Copy::kDone) {
    const Failure::Kind kind =
        copy == Copy::kLocalFault ? Failure::Kind::kPermanent : Failure::Kind::kLost;
    return Fails(NotSentMessage(path), kExitTransfer, kind);
  }
  const Reply done = ReadReply(*run.ControlConnection);
  if (done.IsPositive()) return Failure();
  return Fails(NotSentMessage(path), kExitTransfer, KindOf(done));
}

}  // namespace

void UseBinaryType(RunState& run) {
  if (run.options.SavesRoundTrips() && run.BinaryType) return;
  Exchange(run, "TYPE I");
  run.BinaryType = true;
}

Failure OpenDataConnection(RunState& run) {
  // PASV can describe only an IPv4 address.
  const bool ipv6 = run.ControlConnection->IsIPv6();
  Reply reply = Exchange(run, ipv6 ? "EPSV" : "PASV");
  // pure-ftpd draws a passive port at random and answers 425 when another connection of the
  // run holds it: with "/p" it is asked again, a few times.
  for (int again = 0; again < kPassiveAgain && run.options.Parallel > 1 && reply.complete &&
                      reply.first_line()[0] == '4';
       ++again) {
    reply = Exchange(run, ipv6 ? "EPSV" : "PASV");
  }
  if (!reply.IsPositive()) {
    return Fails(
        "Сервер \"" + run.options.ServerHost + "\" отказывается работать в пассивном режиме",
        kExitPassive, KindOf(reply));
  }
  int port = 0;
  const std::string& line = PassiveLine(reply);
  // The address fields are not used: the data connection goes to the host of the control
  // connection, so a reply can neither steer a file to another host nor trip over NAT.
  const bool parsed = ipv6 ? ParseExtendedPassivePort(line, &port) : ParsePassivePort(line, &port);
  if (parsed && run.DataConnection->ConnectToPeerOf(*run.ControlConnection, port)) {
    return Failure();
  }
  return Fails("Не удается установить связь с сокетом данных", kExitTransfer,
               parsed ? Failure::Kind::kLost : Failure::Kind::kPermanent);
}

Failure UploadFile(RunState& run, const LocalPath& LocalDir, const ListingEntry& entry,
                   const std::string& remote_name, std::int64_t* bytes) {
  const std::string path = LocalDir.Text() + entry.name;
  UseBinaryType(run);
  run.WriteMessage("Отправляем на сервер файл \"" + path + "\"");
  LocalFile file;
  // A name with a line break would smuggle a command into STOR; a file that cannot be read must
  // not replace the server's copy with an empty one.
  if (HasLineBreak(remote_name) || !file.Open(LocalDir, entry.name)) {
    return Fails(NotSentMessage(path), kExitTransfer, Failure::Kind::kPermanent);
  }
  Failure failure = OpenDataConnection(run);
  if (failure.failed()) return failure;
  const Reply reply = Exchange(run, "STOR " + remote_name);
  if (reply.IsRefusal()) {
    run.DataConnection->Close();
    return Fails(NotSentMessage(path), kExitTransfer, KindOf(reply));
  }
  return SendData(run, file, path, bytes);
}
