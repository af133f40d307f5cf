// Passive data connections, and storing a file over one.
#include "ftp/transfer.h"

#include <algorithm>
#include <chrono>

#include "ftp/server_text.h"

namespace {

// Measured from 64 KiB to 1 MiB (and sendfile): natively 64 KiB is the fastest, since the unit
// stays in the processor's cache between the read and the send; under wine, where each call is
// far dearer, 1 MiB is the fastest by far.
#ifdef _WIN32
constexpr int kReadUnit = 1 << 20;
#else
constexpr int kReadUnit = 64 << 10;
#endif

// A file no larger than this goes out while its STOR travels, before the server's 150: it fits in
// the sockets' buffers whether or not the server ever reads it, so a refusal cannot leave the
// send waiting, and a round trip per file is saved.
constexpr std::int64_t kEarlyBytes = 64 << 10;

// How long the completion reply of a listing cut short may take.
constexpr int kOwedSeconds = 5;

// How long a server that refused passive mode may take to close the connection after its reply.
constexpr std::chrono::milliseconds kCloseWait(200);

enum class Copy { kDone, kSourceFault, kSendFault };

// Sends what was read, under a cap in pieces that keep its waits short.
bool SendCapped(TSocket& data, Throttle* limit, const char* bytes, int size) {
  if (limit == nullptr) return data.Send(bytes, size);
  for (int at = 0; at < size;) {
    const int piece = std::min(size - at, limit->Piece());
    if (!limit->Take(piece) || !data.Send(bytes + at, piece)) return false;
    at += piece;
  }
  return true;
}

// Copies the source in reads of up to kReadUnit bytes, each sent at once. A file that reached the
// server only in part is never taken as sent: a read or a send failed, or the source ended short
// of its size at opening. A file that grows is sent up to its new end.
Copy CopyToData(DataSource& source, TSocket& data, Throttle* limit, char* buffer,
                std::int64_t expected, std::int64_t* copied) {
  for (;;) {
    int got = source.Read(buffer, kReadUnit);
    if (got == 0) return *copied >= expected ? Copy::kDone : Copy::kSourceFault;
    if (got < 0) return Copy::kSourceFault;
    if (!SendCapped(data, limit, buffer, got)) return Copy::kSendFault;
    *copied += got;
    source.Advance(got);
  }
}

// The source's part of a progress line, from its first byte to its judgement.
class Watched {
 public:
  explicit Watched(DataSource& source) : source_(source) { source_.Begin(); }
  ~Watched() { source_.End(); }
  Watched(const Watched&) = delete;
  Watched& operator=(const Watched&) = delete;

 private:
  DataSource& source_;
};

// vsftpd answers "500 OOPS: vsf_sysutil_bind", then "500 OOPS: priv_sock_get_int", and closes
// when it cannot listen on a passive port: the connection is lost, not refused. Replies that
// nothing asked for are read here, so that none passes for the next command's.
bool ClosesAfterRefusal(TSocket& control) {
  const TSocket::Clock::time_point deadline = TSocket::Clock::now() + kCloseWait;
  while (control.WaitForInput(deadline)) {
    if (!ReadReplyBy(control, deadline).complete) return true;
  }
  return false;
}

TransferResult Failed(TransferFault fault, FailureKind kind, std::int64_t bytes = 0) {
  TransferResult result;
  result.fault = fault;
  result.kind = kind;
  result.bytes = bytes;
  return result;
}

// EPSV on an IPv6 control connection, PASV on an IPv4 one: PASV can describe only an IPv4
// address.
const char* PassiveCommand(const FtpConnection& ftp) {
  return ftp.ControlConnection.IsIPv6() ? "EPSV" : "PASV";
}

// Connects the data connection to the port of the passive reply, on the control connection's
// host.
TransferResult ConnectPassive(FtpConnection& ftp, const Reply& reply) {
  const bool ipv6 = ftp.ControlConnection.IsIPv6();
  int port = 0;
  const std::string& line = PassiveLine(reply);
  // The address fields are not used: the data connection goes to the host of the control
  // connection, so a reply can neither steer a file to another host nor trip over NAT.
  const bool parsed = ipv6 ? ParseExtendedPassivePort(line, &port) : ParsePassivePort(line, &port);
  if (parsed && ftp.DataConnection.ConnectToPeerOf(ftp.ControlConnection, port)) return {};
  return Failed(TransferFault::kNoDataConnection,
                parsed ? FailureKind::kLost : FailureKind::kPermanent);
}

// Asks for a passive data port (EPSV on an IPv6 control connection, PASV on an IPv4 one) and
// connects the data connection to it, on the control connection's host.
TransferResult OpenDataConnection(FtpConnection& ftp) {
  Reply reply = Exchange(ftp, PassiveCommand(ftp));
  // pure-ftpd draws a passive port at random and answers 425 when another connection to it
  // holds that port.
  for (int again = 0;
       again < ftp.Settings.PassiveAgain && reply.complete && reply.first_line()[0] == '4';
       ++again) {
    reply = Exchange(ftp, PassiveCommand(ftp));
  }
  if (!reply.IsPositive()) {
    const bool closed = reply.complete && ClosesAfterRefusal(ftp.ControlConnection);
    return Failed(TransferFault::kPassiveRefused, closed ? FailureKind::kLost : KindOf(reply));
  }
  return ConnectPassive(ftp, reply);
}

// vsftpd sends a listing's completion reply only once the client has closed its side of the data
// connection: the client has nothing to send and says so as soon as it is connected, which saves
// most of a round trip per listing (every server of the suite sends the whole listing all the
// same). Not under TLS, whose handshake is still to come.
void EndListingData(FtpConnection& ftp) {
  if (!ftp.Settings.Encrypt) ftp.DataConnection.EndSending();
}

// Reads the replies of commands sent in one go that are still to come.
void ReadRest(FtpConnection& ftp, std::size_t count, std::vector<Reply>* replies) {
  while (replies->size() < count) replies->push_back(ReadReply(ftp.ControlConnection));
}

// The lead, PASV (EPSV), the command and the trail in one go, where commands sent so are known to
// be answered: a round trip for them all. The command's first reply in `reply`. Where the server
// turns PASV down (pure-ftpd's 425 when another connection holds the port), one at a time, as
// ever, once the trail's replies are in.
TransferResult OpenDataConnectionWith(FtpConnection& ftp, const std::vector<std::string>& lead,
                                      const std::string& command, AlongWith* along,
                                      std::vector<Reply>* led, Reply* reply) {
  std::string lines;
  for (const std::string& first : lead) {
    lines += ToServerText(first, ftp.Settings.Utf8Names) + "\r\n";
  }
  lines += std::string(PassiveCommand(ftp)) + "\r\n" +
           ToServerText(command, ftp.Settings.Utf8Names) + "\r\n";
  for (const std::string& last : along->trail) {
    lines += ToServerText(last, ftp.Settings.Utf8Names) + "\r\n";
  }
  ftp.ControlConnection.SendText(lines);
  ReadRest(ftp, lead.size(), led);
  const Reply opened = ReadReply(ftp.ControlConnection);
  if (!opened.complete) return Failed(TransferFault::kNoDataConnection, FailureKind::kLost);
  if (!opened.IsPositive()) {
    ReadReply(ftp.ControlConnection);  // the command's, without a data port
    ReadRest(ftp, along->trail.size(), &along->trailed);
    TransferResult result = OpenDataConnection(ftp);
    if (!result.failed()) *reply = Exchange(ftp, command);
    return result;
  }
  const TransferResult result = ConnectPassive(ftp, opened);
  if (!result.failed()) EndListingData(ftp);
  // Without a data connection the server answers the command once it gives up waiting.
  *reply = ReadReply(ftp.ControlConnection);
  return result;
}

// PASV, the command and the trail in one go with what goes before them: the deferred command
// first, the lead, and TYPE I where it is not in force yet.
TransferResult OpenTogether(FtpConnection& ftp, const std::string& command, AlongWith* along,
                            Reply* reply) {
  std::vector<std::string> all;
  const std::size_t deferred = ftp.Deferred.empty() ? 0 : 1;
  if (deferred) all.push_back(std::move(ftp.Deferred));
  ftp.Deferred.clear();
  all.insert(all.end(), along->lead.begin(), along->lead.end());
  if (!ftp.Settings.BinaryOnce || !ftp.BinaryType) all.push_back("TYPE I");
  ftp.BinaryType = true;
  std::vector<Reply> replies;
  const TransferResult result = OpenDataConnectionWith(ftp, all, command, along, &replies, reply);
  replies.resize(all.size());
  if (deferred) ftp.DeferredReply = replies.front();
  along->led.assign(replies.begin() + deferred, replies.begin() + deferred + along->lead.size());
  return result;
}

// Whether the commands can go in one go with the data command at all.
bool GoTogether(const FtpConnection& ftp, const std::string& command, const AlongWith& along) {
  if (ftp.Server.Pipelined != Pipelining::kWorks || HasLineBreak(command)) return false;
  for (const std::vector<std::string>* list : {&along.lead, &along.trail}) {
    for (const std::string& other : *list) {
      if (HasLineBreak(other)) return false;
    }
  }
  return true;
}

// The server still owes the completion reply of a transfer that ended early.
TransferResult Owed(TransferResult result) {
  result.reply_owed = true;
  return result;
}

// The bytes from `from` on, after STOR was taken: TLS where the settings ask for it, the copy,
// the end of the data, and the completion reply.
TransferResult SendData(FtpConnection& ftp, DataSource& source, std::int64_t from,
                        const std::string* size_of, const std::string* early) {
  TSocket& data = ftp.DataConnection;
  // The data connection's TLS starts once the server takes the file, unless it went with STOR.
  if (ftp.Settings.Encrypt && !data.IsProtected() && !data.ProtectLike(ftp.ControlConnection)) {
    data.Close();
    return Owed(Failed(TransferFault::kDataLost, FailureKind::kLost));
  }
  // Not zeroed: a small file leaves the pages it does not need untouched.
  if (!ftp.CopyBuffer) ftp.CopyBuffer.reset(new char[kReadUnit]);
  std::int64_t bytes = 0;
  Watched watched(source);
  if (early != nullptr) SendCommand(ftp, "STOR " + *early);
  Copy copy = CopyToData(source, data, ftp.Settings.Limit, ftp.CopyBuffer.get(),
                         source.Size() - from, &bytes);
  source.Close();
  // The file went out while STOR travelled: the server's answer to STOR says whether it took it.
  if (early != nullptr) {
    if (copy == Copy::kDone) data.EndSending();
    const Reply reply = ReadReply(ftp.ControlConnection);
    if (reply.IsRefusal()) {
      data.Abort();
      return Failed(TransferFault::kStoreRefused,
                    reply.complete ? KindOf(reply) : FailureKind::kLost);
    }
  }
  // The end of the file for the server, and only once the server has closed its side does the
  // file count as delivered.
  if (copy == Copy::kDone && !data.Finish()) copy = Copy::kSendFault;
  // A file cut short ends with a reset: an orderly end would let the server take what the
  // kernel still sends for the whole file.
  if (copy == Copy::kDone) {
    data.Close();
  } else {
    data.Abort();
  }
  // After a failed copy the file is not sent whatever the server says; its reply is left owed.
  if (copy == Copy::kSourceFault) {
    return Owed(Failed(TransferFault::kSourceFault, FailureKind::kPermanent, bytes));
  }
  if (copy == Copy::kSendFault) {
    return Owed(Failed(TransferFault::kDataLost, FailureKind::kLost, bytes));
  }
  // The server has read the end of the data: SIZE waits behind the confirmation.
  if (size_of != nullptr) SendCommand(ftp, "SIZE " + *size_of);
  const Reply done = ReadReply(ftp.ControlConnection);
  TransferResult result = Failed(TransferFault::kNotConfirmed, KindOf(done), bytes);
  if (done.IsPositive()) result = Failed(TransferFault::kNone, FailureKind::kPermanent, bytes);
  if (size_of != nullptr && done.complete) result.size = ReadReply(ftp.ControlConnection);
  return result;
}

// Under TLS the data connection's handshake goes while STOR travels, a round trip per file saved
// (vsftpd, proftpd, pure-ftpd and pyftpdlib all take it): STOR's reply, read whenever it comes,
// still decides, and a refusal ends a handshake that the server would never answer.
TransferResult StoreProtected(FtpConnection& ftp, const std::string& remote_name,
                              DataSource& source, const std::string* size_of) {
  SendCommand(ftp, "STOR " + remote_name);
  Reply reply;
  bool answered = false;
  const auto go_on = [&] {
    reply = ReadReply(ftp.ControlConnection);
    answered = true;
    return reply.IsPreliminary();
  };
  const bool secured = ftp.DataConnection.ProtectLike(ftp.ControlConnection, go_on);
  if (!answered) go_on();
  if (reply.IsRefusal()) {
    ftp.DataConnection.Close();
    return Failed(TransferFault::kStoreRefused, KindOf(reply));
  }
  if (!secured) {
    ftp.DataConnection.Close();
    return Owed(Failed(TransferFault::kDataLost, FailureKind::kLost));
  }
  return SendData(ftp, source, 0, size_of, nullptr);
}

}  // namespace

void UseBinaryType(FtpConnection& ftp) {
  if (ftp.Settings.BinaryOnce && ftp.BinaryType) return;
  Exchange(ftp, "TYPE I");
  ftp.BinaryType = true;
}

TransferResult StoreFile(FtpConnection& ftp, const std::string& remote_name, DataSource& source,
                         std::int64_t from, bool size_after) {
  // A name with a line break would smuggle a command into STOR.
  if (HasLineBreak(remote_name)) {
    return Failed(TransferFault::kStoreRefused, FailureKind::kPermanent);
  }
  if (from > 0 && !source.SkipTo(from)) {
    return Failed(TransferFault::kSourceFault, FailureKind::kPermanent);
  }
  TransferResult result = OpenDataConnection(ftp);
  if (result.failed()) return result;
  // A small file over a plain data connection goes with its STOR; TLS must wait for the server.
  const bool early = from == 0 && !ftp.Settings.Encrypt && source.Size() <= kEarlyBytes;
  const bool along_size = size_after && ftp.Server.Pipelined == Pipelining::kWorks;
  if (early) {
    return SendData(ftp, source, from, along_size ? &remote_name : nullptr, &remote_name);
  }
  if (ftp.Settings.Encrypt && from == 0) {
    return StoreProtected(ftp, remote_name, source, along_size ? &remote_name : nullptr);
  }
  Reply reply;
  if (from > 0) {
    reply = Exchange(ftp, "REST " + std::to_string(from));
    // proftpd refuses REST before STOR unless AllowStoreRestart is on; APPE needs no REST.
    if (!reply.complete) return Failed(TransferFault::kStoreRefused, FailureKind::kLost);
    reply = Exchange(ftp, (reply.IsIntermediate() ? "STOR " : "APPE ") + remote_name);
  } else {
    reply = Exchange(ftp, "STOR " + remote_name);
  }
  if (reply.IsRefusal()) {
    ftp.DataConnection.Close();
    if (from > 0 && reply.complete) return Failed(TransferFault::kResumeRefused, KindOf(reply));
    return Failed(TransferFault::kStoreRefused, KindOf(reply));
  }
  return SendData(ftp, source, from, along_size ? &remote_name : nullptr, nullptr);
}

void SkipOwedReply(FtpConnection& ftp, int seconds) {
  if (!ftp.ControlConnection.IsOpen()) return;
  ReadReplyBy(ftp.ControlConnection, TSocket::Clock::now() + std::chrono::seconds(seconds));
}

namespace {

// The data of a command whose first reply is `reply`, and its completion reply.
Received ReceiveAfter(FtpConnection& ftp, const Reply& reply, std::size_t limit, std::string* data,
                      Reply* refusal) {
  TSocket& connection = ftp.DataConnection;
  // A refusal has no completion reply to wait for.
  if (reply.IsRefusal()) {
    connection.Close();
    if (refusal != nullptr) *refusal = reply;
    return Received::kFailed;
  }
  EndListingData(ftp);
  const bool received = (!ftp.Settings.Encrypt || connection.ProtectLike(ftp.ControlConnection)) &&
                        connection.ReceiveAll(data, limit);
  connection.Close();
  // A cut transfer's completion reply is owed all the same: read within a short wait, so that it
  // cannot pass for the next command's; a server that does not give it loses the connection.
  TSocket& control = ftp.ControlConnection;
  const Reply done =
      received
          ? ReadReply(control)
          : ReadReplyBy(control, TSocket::Clock::now() + std::chrono::seconds(std::min(
                                                             kOwedSeconds, control.ReadTimeout)));
  if (!received || !done.IsPositive()) return Received::kCut;
  return SaysTruncated(done) ? Received::kTruncated : Received::kWhole;
}

}  // namespace

Received ReceiveData(FtpConnection& ftp, const std::string& command, std::size_t limit,
                     std::string* data, Reply* refusal, AlongWith* along) {
  AlongWith none;
  if (along == nullptr) along = &none;
  Reply reply;
  const bool together = GoTogether(ftp, command, *along);
  // The trail's replies come after the command's last; read before whatever is sent next.
  const std::size_t trail = together ? along->trail.size() : 0;
  const auto settled = [&](Received received) {
    if (ftp.ControlConnection.IsOpen()) ReadRest(ftp, trail, &along->trailed);
    return received;
  };
  if (together) {
    if (OpenTogether(ftp, command, along, &reply).failed()) {
      ftp.DataConnection.Close();
      // Without a data connection the command was refused, or the connection is lost.
      return settled(Received::kFailed);
    }
  } else {
    for (const std::string& first : along->lead) along->led.push_back(Exchange(ftp, first));
    UseBinaryType(ftp);
    if (OpenDataConnection(ftp).failed()) return Received::kFailed;
    reply = Exchange(ftp, command);
  }
  return settled(ReceiveAfter(ftp, reply, limit, data, refusal));
}

bool ReceiveEach(FtpConnection& ftp, std::size_t limit, std::vector<OneOfMany>* each) {
  for (const OneOfMany& one : *each) {
    if (!GoTogether(ftp, one.command, one.along)) return false;
  }
  std::vector<std::string> first;
  const bool deferred = !ftp.Deferred.empty();
  if (deferred) first.push_back(std::move(ftp.Deferred));
  ftp.Deferred.clear();
  if (!ftp.Settings.BinaryOnce || !ftp.BinaryType) first.push_back("TYPE I");
  ftp.BinaryType = true;
  std::string lines;
  const auto add = [&](const std::string& command) {
    lines += ToServerText(command, ftp.Settings.Utf8Names) + "\r\n";
  };
  for (const std::string& command : first) add(command);
  for (const OneOfMany& one : *each) {
    for (const std::string& command : one.along.lead) add(command);
    add(PassiveCommand(ftp));
    add(one.command);
    for (const std::string& command : one.along.trail) add(command);
  }
  TSocket& control = ftp.ControlConnection;
  control.SendText(lines);
  std::vector<Reply> replies;
  ReadRest(ftp, first.size(), &replies);
  if (deferred) ftp.DeferredReply = replies.front();
  for (OneOfMany& one : *each) {
    ReadRest(ftp, one.along.lead.size(), &one.along.led);
    const Reply opened = ReadReply(control);
    if (!opened.complete) return false;
    // Without a data connection the server answers the command once it gives up waiting.
    const bool connected = opened.IsPositive() && !ConnectPassive(ftp, opened).failed();
    if (connected) EndListingData(ftp);
    const Reply reply = ReadReply(control);
    one.received = ReceiveAfter(ftp, connected ? reply : Reply(), limit, &one.data, &one.refusal);
    // A command that went on without its data connection owes its completion reply.
    if (!connected && reply.IsPreliminary()) ReadReply(control);
    ReadRest(ftp, one.along.trail.size(), &one.along.trailed);
    if (!control.IsOpen()) return false;
  }
  return true;
}
