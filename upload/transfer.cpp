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

// Copies the file in reads of up to kReadUnit bytes, each sent at once. False when a read or a
// send failed, so that a file that reached the server only in part is never taken as sent; also
// when the file ended short of its size at opening: cut while it was read, it arrived as neither
// its old nor its new self. A file that grows is sent up to its new end.
bool CopyToData(LocalFile& file, TSocket& data, char* buffer, std::int64_t* copied) {
  for (;;) {
    int got = file.Read(buffer, kReadUnit);
    if (got == 0) return *copied >= file.Size();
    if (got < 0 || !data.Send(buffer, got)) return false;
    *copied += got;
  }
}

}  // namespace

void UseBinaryType(RunState& run) {
  if (run.options.Differs && run.BinaryType) return;
  Exchange(run, "TYPE I");
  run.BinaryType = true;
}

DataOpen OpenDataConnection(RunState& run) {
  // PASV can describe only an IPv4 address.
  const bool ipv6 = run.ControlConnection->IsIPv6();
  const Reply reply = Exchange(run, ipv6 ? "EPSV" : "PASV");
  if (!reply.IsPositive()) return DataOpen::kPassiveRefused;
  int port = 0;
  const std::string& line = PassiveLine(reply);
  // The address fields are not used: the data connection goes to the host of the control
  // connection, so a reply can neither steer a file to another host nor trip over NAT.
  const bool parsed =
      ipv6 ? ParseExtendedPassivePort(line, &port) : ParsePassivePort(line, &port);
  if (parsed && run.DataConnection->ConnectToPeerOf(*run.ControlConnection, port)) {
    return DataOpen::kOpen;
  }
  return DataOpen::kUnreachable;
}

bool UploadFile(RunState& run, const LocalPath& LocalDir, const ListingEntry& entry,
                const std::string& remote_name, std::int64_t* bytes) {
  const std::string path = LocalDir.Text() + entry.name;
  auto not_sent = [&run, &path] {
    Report(run, {NotSentMessage(path)}, kExitTransfer, Walk::kStops);
    return false;
  };
  UseBinaryType(run);
  run.WriteMessage("Отправляем на сервер файл \"" + path + "\"");
  LocalFile file;
  // A name with a line break would smuggle a command into STOR; a file that cannot be read must
  // not replace the server's copy with an empty one.
  if (HasLineBreak(remote_name) || !file.Open(LocalDir, entry.name)) return not_sent();

  switch (OpenDataConnection(run)) {
    case DataOpen::kPassiveRefused:
      Report(run,
             {"Сервер \"" + run.options.ServerHost + "\" отказывается работать в пассивном режиме"},
             kExitPassive, Walk::kStops);
      return false;
    case DataOpen::kUnreachable:
      Report(run, {"Не удается установить связь с сокетом данных"}, kExitTransfer, Walk::kStops);
      return false;
    case DataOpen::kOpen:
      break;
  }
  const Reply reply = Exchange(run, "STOR " + remote_name);
  // The data connection's TLS starts once the server takes the file: pyftpdlib takes bytes that
  // come before as the end of the connection.
  if (reply.IsRefusal() ||
      (run.options.Encrypt && !run.DataConnection->ProtectLike(*run.ControlConnection))) {
    run.DataConnection->Close();
    return not_sent();
  }
  // Not zeroed: a small file leaves the pages it does not need untouched.
  if (!run.CopyBuffer) run.CopyBuffer.reset(new char[kReadUnit]);
  *bytes = 0;
  bool copied = CopyToData(file, *run.DataConnection, run.CopyBuffer.get(), bytes);
  file.Close();
  // The end of the file for the server, and only once the server has closed its side does the
  // file count as delivered.
  copied = copied && run.DataConnection->Finish();
  run.DataConnection->Close();
  // After a failed copy the file is not sent whatever the server says; and its reply, if it
  // ever comes, is not worth another time-out, since the walk ends here.
  if (!copied || !ReadReply(*run.ControlConnection).IsPositive()) return not_sent();
  return true;
}
