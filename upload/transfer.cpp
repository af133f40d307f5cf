// UploadFile and the passive data connection.
#include "upload/transfer.h"

#include <cctype>
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

bool ParseDigits(const std::string& digits, int base, std::uint64_t limit, std::uint64_t* value) {
  if (digits.empty()) return false;
  *value = 0;
  for (char c : digits) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
    if (digit >= base) return false;
    *value = *value * base + digit;
    if (*value > limit) return false;
  }
  return true;
}

// A refused STOR gets no data and no completion reply; nor does one whose reply never came
// whole, since the server may not be taking the file.
bool IsRefusal(const Reply& reply) {
  return !reply.complete || reply.first_line()[0] == '4' || reply.first_line()[0] == '5';
}

// Copies the file in reads of up to kReadUnit bytes, each sent at once. False when a read or a
// send failed, so that a file that reached the server only in part is never taken as sent; also
// when the file ended short of its size at opening: cut while it was read, it arrived as neither
// its old nor its new self. A file that grows is sent up to its new end.
bool CopyToData(LocalFile& file, TSocket& data, char* buffer) {
  std::int64_t copied = 0;
  for (;;) {
    int got = file.Read(buffer, kReadUnit);
    if (got == 0) return copied >= file.Size();
    if (got < 0 || !data.Send(buffer, got)) return false;
    copied += got;
  }
}

// aioftp sends "227-listen socket created" before the line with the fields; the same holds for
// 229.
const std::string& PassiveLine(const Reply& reply) {
  for (const std::string& line : reply.lines) {
    std::size_t open = line.find('(');
    if (open != std::string::npos && line.find(')', open) != std::string::npos) return line;
  }
  return reply.first_line();
}

void AbortTransfer(RunState& run, const std::string& message, ExitCode code) {
  ReportFailure(run, {message}, code);
  run.TransferAborted = true;
}

}  // namespace

bool ParseInteger(const std::string& text, std::int64_t* value) {
  std::size_t at = text.find_first_not_of(' ');
  if (at == std::string::npos) return false;
  std::string rest = text.substr(at);
  std::uint64_t magnitude = 0;
  for (const char* prefix : {"0x", "0X", "$", "x", "X"}) {
    if (rest.compare(0, std::char_traits<char>::length(prefix), prefix) != 0) continue;
    if (!ParseDigits(rest.substr(std::char_traits<char>::length(prefix)), 16, 0xFFFFFFFFu,
                     &magnitude)) {
      return false;
    }
    *value = static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
    return true;
  }
  bool negative = rest[0] == '-';
  if (rest[0] == '-' || rest[0] == '+') rest.erase(0, 1);
  if (!ParseDigits(rest, 10, negative ? 2147483648u : 2147483647u, &magnitude)) return false;
  *value = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  return true;
}

bool ParsePassivePort(const std::string& reply, int* port) {
  std::size_t open = reply.find('(');
  std::size_t close = reply.find(')');
  if (open == std::string::npos || close == std::string::npos || open > close) return false;
  std::string fields[6];
  std::size_t from = open + 1;
  for (int i = 0; i < 5; ++i) {
    std::size_t comma = reply.find(',', from);
    if (comma == std::string::npos || comma > close) return false;
    fields[i] = reply.substr(from, comma - from);
    from = comma + 1;
  }
  fields[5] = reply.substr(from, close - from);
  std::int64_t high = 0;
  std::int64_t low = 0;
  if (!ParseInteger(fields[4], &high) || !ParseInteger(fields[5], &low)) return false;
  if (high < 0 || high > 255 || low < 0 || low > 255) return false;
  *port = static_cast<int>(high * 256 + low);
  return true;
}

bool ParseExtendedPassivePort(const std::string& reply, int* port) {
  std::size_t open = reply.find('(');
  if (open == std::string::npos || reply.size() < open + 4) return false;
  // RFC 2428: any printable character but a digit may stand between the fields.
  const char delimiter = reply[open + 1];
  if (delimiter < 33 || delimiter > 126 || std::isdigit(static_cast<unsigned char>(delimiter)) ||
      reply[open + 2] != delimiter || reply[open + 3] != delimiter) {
    return false;
  }
  std::size_t end = reply.find(delimiter, open + 4);
  if (end == std::string::npos || reply.compare(end + 1, 1, ")") != 0) return false;
  const std::string digits = reply.substr(open + 4, end - open - 4);
  std::uint64_t value = 0;
  if (!ParseDigits(digits, 10, 65535, &value) || value == 0) return false;
  *port = static_cast<int>(value);
  return true;
}

const char* PassiveCommand(const RunState& run) {
  // PASV can describe only an IPv4 address.
  return run.ControlConnection->IsIPv6() ? "EPSV" : "PASV";
}

bool OpenPassiveData(RunState& run, const Reply& reply) {
  int port = 0;
  const std::string& line = PassiveLine(reply);
  // The address fields are not used: the data connection goes to the host of the control
  // connection, so a reply can neither steer a file to another host nor trip over NAT.
  bool parsed = run.ControlConnection->IsIPv6() ? ParseExtendedPassivePort(line, &port)
                                                : ParsePassivePort(line, &port);
  return parsed && run.DataConnection->ConnectToPeerOf(*run.ControlConnection, port);
}

void UploadFile(RunState& run, const std::string& LocalDir, const ListingEntry& entry) {
  const std::string path = LocalDir + entry.name;
  Exchange(run, "TYPE I");
  run.WriteMessage("Отправляем на сервер файл \"" + path + "\"");
  LocalFile file;
  // A name with a line break would smuggle a command into STOR; a file that cannot be read must
  // not replace the server's copy with an empty one.
  if (HasLineBreak(entry.name) || !file.Open(path)) return ReportFileNotSent(run, path);

  Reply reply = Exchange(run, PassiveCommand(run));
  if (!reply.IsPositive()) {
    return AbortTransfer(
        run, "Сервер \"" + run.ServerHost + "\" отказывается работать в пассивном режиме",
        kExitPassive);
  }
  if (!OpenPassiveData(run, reply)) {
    return AbortTransfer(run, "Не удается установить связь с сокетом данных", kExitTransfer);
  }
  reply = Exchange(run, "STOR " + entry.name);
  // The data connection's TLS starts once the server takes the file: pyftpdlib takes bytes that
  // come before as the end of the connection.
  if (IsRefusal(reply) || !run.DataConnection->ProtectLike(*run.ControlConnection)) {
    run.DataConnection->Close();
    return ReportFileNotSent(run, path);
  }
  // Not zeroed: a small file leaves the pages it does not need untouched.
  if (!run.CopyBuffer) run.CopyBuffer.reset(new char[kReadUnit]);
  bool copied = CopyToData(file, *run.DataConnection, run.CopyBuffer.get());
  file.Close();
  // The end of the file for the server, and only once the server has closed its side does the
  // file count as delivered.
  copied = copied && run.DataConnection->Finish();
  run.DataConnection->Close();
  // After a failed copy the file is not sent whatever the server says; and its reply, if it
  // ever comes, is not worth another time-out, since the walk ends here.
  if (!copied || !ReadReply(*run.ControlConnection).IsPositive()) ReportFileNotSent(run, path);
}
