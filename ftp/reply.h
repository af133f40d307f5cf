// Replies of the control connection: reading one whole, and every parser of a reply's text.
#ifndef VARDEK_FTP_REPLY_H_
#define VARDEK_FTP_REPLY_H_

#include <cstdint>
#include <string>
#include <vector>

#include "net/socket.h"
#include "text/digest.h"

// One whole reply: a multi-line reply (RFC 959, "123-" ... "123 ") is read up to its last line.
struct Reply {
  static constexpr std::size_t kKeptLines = 64;

  // The first kKeptLines lines, at least one, for the replies whose text is read (227, 229, 257);
  // an endless reply must not fill the memory.
  std::vector<std::string> lines = std::vector<std::string>(1);
  std::string last_line;
  // False when the connection closed, failed or went silent before the reply was whole.
  bool complete = false;

  const std::string& first_line() const { return lines.front(); }
  bool IsPositive() const { return complete && first_line().compare(0, 1, "2") == 0; }
  // 1xx: the server goes on, a transfer starts (150, 125); its completion reply follows.
  bool IsPreliminary() const { return complete && first_line().compare(0, 1, "1") == 0; }
  // 3xx: the server waits for the command that completes this one (350 to RNFR).
  bool IsIntermediate() const { return complete && first_line().compare(0, 1, "3") == 0; }
  // 4xx or 5xx, or no whole reply at all: the server did not take the command.
  bool IsRefusal() const { return !complete || first_line()[0] == '4' || first_line()[0] == '5'; }
};

// Why the server did not do what it was asked, as far as another try could change that.
enum class FailureKind {
  kPermanent,  // a refusal that another try would get again, or a local fault
  kLost,       // the connection closed, reset, fell silent, or could not be made
  kRefused,    // a 4xx reply: the server cannot for now (421 among them)
};
// The kind of failure a reply that did not say yes stands for.
FailureKind KindOf(const Reply& reply);

// Within one time-out; a reply cut short leaves the connection closed.
Reply ReadReply(TSocket& connection);
Reply ReadReplyBy(TSocket& connection, TSocket::Clock::time_point deadline);

// The line of a 227 or 229 reply that holds its fields: the first with a parenthesised group
// (aioftp sends "227-listen socket created" before it).
const std::string& PassiveLine(const Reply& reply);
// The port of a PASV reply: six comma-separated fields between the first "(" and the first ")",
// the last two integers from 0 to 255. False when the reply is malformed.
bool ParsePassivePort(const std::string& reply, int* port);
// The port of an EPSV reply (RFC 2428): "(|||port|)", any printable character but a digit
// standing for "|". False when the reply is malformed or the port is not 1 to 65535.
bool ParseExtendedPassivePort(const std::string& reply, int* port);
// Integer syntax of the port fields: leading blanks, then a signed decimal number or a
// hexadecimal one after $, x, X, 0x or 0X; nothing may follow the digits.
bool ParseInteger(const std::string& text, std::int64_t* value);

// What FEAT (RFC 2389) says the server can do, of what a run uses; none after a refused FEAT.
struct ServerFeatures {
  bool mlsd = false;  // "MLST" is listed, and with it MLSD (RFC 3659)
  bool mfmt = false;  // sets a file's time
  bool mdtm = false;  // tells a file's time; vsftpd also sets it with two arguments
  bool utf8 = false;  // RFC 2640
  // Digests of a stored file, a bit (1 << DigestKind) for each: by HASH (draft-bryan-ftpext-hash,
  // which names them on its line) and by XSHA256, XSHA1, XMD5 and XCRC.
  unsigned hash_digests = 0;
  unsigned x_digests = 0;
};
ServerFeatures ParseFeatures(const Reply& reply);
// The strongest digest the server computes either way; kNone when it computes none.
DigestKind OfferedDigest(const ServerFeatures& features);
// HASH's name of a digest ("SHA-256"), and the X command's ("XSHA256").
const char* HashName(DigestKind kind);
const char* DigestCommand(DigestKind kind);

// A plain file or a directory of a remote directory listing.
struct RemoteFile {
  std::int64_t size = -1;      // -1: not known
  std::int64_t modified = -1;  // UTC, seconds since 1970; -1: not known to the second
  bool directory = false;
};

// One line of an MLSD listing (RFC 3659): "fact=value;...; name", facts in any order and case.
// False for a line that names no plain file or directory (a link, "cdir", "pdir", "." or "..")
// or cannot be read.
bool ParseMlsdLine(const std::string& line, std::string* name, RemoteFile* file);
// One line of a LIST listing in the "ls -l" form of Unix servers. Only the name and the size of a
// plain file are taken (its time is to the minute at best, in the server's own zone), and the
// name of a directory.
bool ParseListLine(const std::string& line, std::string* name, RemoteFile* file);

// Whether the completion reply of a listing says that the server cut it short (pure-ftpd stops
// at 10,000 entries: "226 Output truncated to 10000 matches").
bool SaysTruncated(const Reply& reply);

// A time-val of RFC 3659, "YYYYMMDDHHMMSS" with any fraction of a second (dropped), in UTC, from
// 1970 on.
bool ParseTimeVal(const std::string& text, std::int64_t* seconds);
std::string FormatTimeVal(std::int64_t seconds);
// The size of a 213 reply to SIZE.
bool ParseSizeReply(const Reply& reply, std::int64_t* size);
// The time in an MFMT reply, "213 Modify=YYYYMMDDHHMMSS; name", as the server shows it.
bool ParseModifyReply(const Reply& reply, std::int64_t* seconds);
// Whether the server does not know the command at all (500, 502), rather than refusing it.
bool IsUnknownCommand(const Reply& reply);
// The digest in the last line of a reply to HASH ("213 SHA-256 0-49 <hex> name") or to an X
// command ("250 <HEX>"), in lower case; CRC-32 as eight digits.
bool ParseDigestReply(const Reply& reply, DigestKind kind, bool hash_form, std::string* hex);
// The time of a 213 reply to MDTM.
bool ParseMdtmReply(const Reply& reply, std::int64_t* seconds);

// The directory of a 257 reply line: the text between the first quote and its closing quote,
// a doubled quote standing for one (RFC 959). False when the line names none.
bool DirectoryOfPwdReply(const std::string& line, std::string* directory);

#endif  // VARDEK_FTP_REPLY_H_
