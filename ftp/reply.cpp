// Reading replies and parsing their text.
#include "ftp/reply.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool StartsMultiLineReply(const std::string& line) {
  return line.size() >= 4 && std::isdigit(static_cast<unsigned char>(line[0])) &&
         std::isdigit(static_cast<unsigned char>(line[1])) &&
         std::isdigit(static_cast<unsigned char>(line[2])) && line[3] == '-';
}

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

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Days from 1970-01-01 to the date of the proleptic Gregorian calendar (H. Hinnant's algorithm):
// no time zone of this machine plays a part.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int* y, unsigned* m, unsigned* d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (*m <= 2));
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while ((at = line.find_first_not_of(' ', at)) != std::string::npos) {
    std::size_t end = line.find(' ', at);
    words.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end;
  }
  return words;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == separator) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

bool IsMonth(const std::string& word) {
  static const char* const kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                        "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  const std::string upper = Upper(word);
  for (const char* month : kMonths) {
    if (upper == month) return true;
  }
  return false;
}

// "04:35" or "2025": the last of the date fields of ls.
bool IsTimeOrYear(const std::string& word) {
  if (word.size() == 4) return AllDigits(word);
  return word.size() == 5 && word[2] == ':' && AllDigits(word.substr(0, 2)) &&
         AllDigits(word.substr(3));
}

}  // namespace

// The whole reply, however many lines, must come within one time-out.
Reply ReadReply(TSocket& connection) { return ReadReplyBy(connection, connection.ReadDeadline()); }

Reply ReadReplyBy(TSocket& connection, TSocket::Clock::time_point deadline) {
  Reply reply;
  reply.lines.front() = connection.ReadLineBy(deadline);
  reply.last_line = reply.first_line();
  if (StartsMultiLineReply(reply.first_line())) {
    const std::string end = reply.first_line().substr(0, 3) + " ";
    do {
      reply.last_line = connection.ReadLineBy(deadline);
      if (reply.lines.size() < Reply::kKeptLines) reply.lines.push_back(reply.last_line);
    } while (!reply.last_line.empty() && reply.last_line.compare(0, 4, end) != 0);
  }
  reply.complete = !reply.last_line.empty();
  // After a reply cut short, a late rest would pass for the reply to the next command: the
  // connection is of no more use, and its later commands fail at once instead of waiting again.
  if (!reply.complete) connection.Close();
  return reply;
}

FailureKind KindOf(const Reply& reply) {
  if (!reply.complete) return FailureKind::kLost;
  return reply.first_line()[0] == '4' ? FailureKind::kRefused : FailureKind::kPermanent;
}

const std::string& PassiveLine(const Reply& reply) {
  for (const std::string& line : reply.lines) {
    std::size_t open = line.find('(');
    if (open != std::string::npos && line.find(')', open) != std::string::npos) return line;
  }
  return reply.first_line();
}

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

bool DirectoryOfPwdReply(const std::string& line, std::string* directory) {
  std::size_t at = line.find('"');
  if (at == std::string::npos) return false;
  std::string found;
  for (++at; at < line.size(); ++at) {
    if (line[at] != '"') {
      found.push_back(line[at]);
    } else if (at + 1 < line.size() && line[at + 1] == '"') {
      found.push_back('"');
      ++at;
    } else {
      if (found.empty()) return false;
      *directory = found;
      return true;
    }
  }
  return false;  // no closing quote
}

ServerFeatures ParseFeatures(const Reply& reply) {
  ServerFeatures features;
  if (!reply.IsPositive()) return features;
  // Each feature stands on a line of its own that begins with a blank (RFC 2389).
  for (const std::string& line : reply.lines) {
    if (line.compare(0, 1, " ") != 0) continue;
    const std::vector<std::string> words = Words(line);
    if (words.empty()) continue;
    const std::string name = Upper(words.front());
    features.mlsd = features.mlsd || name == "MLST" || name == "MLSD";
    features.mfmt = features.mfmt || name == "MFMT";
    features.mdtm = features.mdtm || name == "MDTM";
    features.utf8 = features.utf8 || name == "UTF8";
    for (DigestKind kind :
         {DigestKind::kCrc32, DigestKind::kMd5, DigestKind::kSha1, DigestKind::kSha256}) {
      const unsigned bit = 1u << static_cast<int>(kind);
      if (name == DigestCommand(kind)) features.x_digests |= bit;
      if (name != "HASH" || words.size() < 2) continue;
      // "HASH CRC32;MD5;SHA-1*;SHA-256;": the star marks the one in force.
      for (std::string offered : Split(Upper(words[1]), ';')) {
        if (!offered.empty() && offered.back() == '*') offered.pop_back();
        if (offered == HashName(kind)) features.hash_digests |= bit;
      }
    }
  }
  return features;
}

DigestKind OfferedDigest(const ServerFeatures& features) {
  for (DigestKind kind :
       {DigestKind::kSha256, DigestKind::kSha1, DigestKind::kMd5, DigestKind::kCrc32}) {
    if ((features.hash_digests | features.x_digests) & (1u << static_cast<int>(kind))) return kind;
  }
  return DigestKind::kNone;
}

const char* HashName(DigestKind kind) {
  switch (kind) {
    case DigestKind::kSha256:
      return "SHA-256";
    case DigestKind::kSha1:
      return "SHA-1";
    case DigestKind::kMd5:
      return "MD5";
    default:
      return "CRC32";
  }
}

const char* DigestCommand(DigestKind kind) {
  switch (kind) {
    case DigestKind::kSha256:
      return "XSHA256";
    case DigestKind::kSha1:
      return "XSHA1";
    case DigestKind::kMd5:
      return "XMD5";
    default:
      return "XCRC";
  }
}

bool ParseMlsdLine(const std::string& line, std::string* name, RemoteFile* file) {
  // The facts end at the first blank; the name is all that follows, blanks and ";" included.
  const std::size_t blank = line.find(' ');
  if (blank == std::string::npos || blank + 1 >= line.size()) return false;
  RemoteFile found;
  bool listed = false;
  std::size_t at = 0;
  while (at < blank) {
    std::size_t end = line.find(';', at);
    if (end == std::string::npos || end > blank) end = blank;
    const std::string fact = line.substr(at, end - at);
    at = end + 1;
    const std::size_t equals = fact.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = Upper(fact.substr(0, equals));
    const std::string value = fact.substr(equals + 1);
    if (key == "TYPE") {
      found.directory = Upper(value) == "DIR";
      listed = found.directory || Upper(value) == "FILE";
    }
    if (key == "SIZE" && AllDigits(value) && value.size() < 19) {
      found.size = std::strtoll(value.c_str(), nullptr, 10);
    }
    if (key == "MODIFY" && !ParseTimeVal(value, &found.modified)) found.modified = -1;
  }
  const std::string named = line.substr(blank + 1);
  if (!listed || named == "." || named == "..") return false;
  *name = named;
  *file = found;
  return true;
}

bool ParseListLine(const std::string& line, std::string* name, RemoteFile* file) {
  // A plain file or a directory; not a link, nor a device.
  const bool directory = line.compare(0, 1, "d") == 0;
  if (line.compare(0, 1, "-") != 0 && !directory) return false;
  const std::vector<std::string> words = Words(line);
  // The size stands before the month, the name after the time or the year: any text after one
  // blank, blanks alone included.
  for (std::size_t i = 2; i + 2 < words.size(); ++i) {
    if (!IsMonth(words[i]) || !AllDigits(words[i + 1]) || words[i + 1].size() > 2 ||
        !IsTimeOrYear(words[i + 2]) || !AllDigits(words[i - 1]) || words[i - 1].size() > 18) {
      continue;
    }
    std::size_t at = 0;
    for (std::size_t w = 0; w <= i + 2; ++w) at = line.find(words[w], at) + words[w].size();
    if (at + 1 >= line.size()) return false;
    const std::string named = line.substr(at + 1);
    if (named.empty() || named == "." || named == "..") return false;
    *name = named;
    *file = RemoteFile();
    file->directory = directory;
    if (!directory) file->size = std::strtoll(words[i - 1].c_str(), nullptr, 10);
    return true;
  }
  return false;
}

bool SaysTruncated(const Reply& reply) {
  for (const std::string& line : reply.lines) {
    if (Upper(line).find("TRUNCATED") != std::string::npos) return true;
  }
  return false;
}

bool ParseTimeVal(const std::string& text, std::int64_t* seconds) {
  if (text.size() < 14 || !AllDigits(text.substr(0, 14))) return false;
  if (text.size() > 14 && (text[14] != '.' || !AllDigits(text.substr(15)))) return false;
  auto field = [&text](std::size_t at, std::size_t length) {
    return static_cast<unsigned>(std::atoi(text.substr(at, length).c_str()));
  };
  const unsigned month = field(4, 2), day = field(6, 2), hour = field(8, 2), minute = field(10, 2),
                 second = field(12, 2);
  // A time before 1970 is none that a file's can be compared with: the file is sent.
  if (field(0, 4) < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
      minute > 59 || second > 60) {
    return false;
  }
  *seconds = DaysFromCivil(field(0, 4), month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

std::string FormatTimeVal(std::int64_t seconds) {
  std::int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  const std::int64_t rest = seconds - days * 86400;
  int year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(days, &year, &month, &day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02u%02u%02d%02d%02d", year, month, day,
                static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
  return text;
}

bool ParseSizeReply(const Reply& reply, std::int64_t* size) {
  const std::string& line = reply.first_line();
  if (!reply.complete || line.compare(0, 4, "213 ") != 0) return false;
  const std::vector<std::string> words = Words(line.substr(4));
  if (words.empty() || !AllDigits(words.front()) || words.front().size() > 18) return false;
  *size = std::strtoll(words.front().c_str(), nullptr, 10);
  return true;
}

bool ParseModifyReply(const Reply& reply, std::int64_t* seconds) {
  const std::string& line = reply.first_line();
  const std::size_t at = Upper(line).find("MODIFY=");
  if (!reply.IsPositive() || at == std::string::npos) return false;
  const std::size_t end = line.find(';', at);
  return ParseTimeVal(line.substr(at + 7, end == std::string::npos ? end : end - at - 7), seconds);
}

bool IsUnknownCommand(const Reply& reply) {
  const std::string& line = reply.first_line();
  return reply.complete && (line.compare(0, 3, "500") == 0 || line.compare(0, 3, "502") == 0);
}

bool ParseDigestReply(const Reply& reply, DigestKind kind, bool hash_form, std::string* hex) {
  const std::string& line = reply.last_line;
  if (!reply.complete || line.size() < 4 || line[0] != '2') return false;
  const std::vector<std::string> words = Words(line.substr(4));
  const std::size_t at = hash_form ? 2 : 0;
  if (words.size() <= at || (hash_form && Upper(words[0]) != HashName(kind))) return false;
  std::string digits = words[at];
  const std::size_t length = kind == DigestKind::kCrc32  ? 8
                             : kind == DigestKind::kMd5  ? 32
                             : kind == DigestKind::kSha1 ? 40
                                                         : 64;
  // A CRC may come without its leading zeros.
  if (kind == DigestKind::kCrc32 && digits.size() < length) {
    digits.insert(0, length - digits.size(), '0');
  }
  if (digits.size() != length ||
      digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    return false;
  }
  for (char& c : digits) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  *hex = digits;
  return true;
}

bool ParseMdtmReply(const Reply& reply, std::int64_t* seconds) {
  const std::string& line = reply.first_line();
  if (!reply.complete || line.compare(0, 4, "213 ") != 0) return false;
  const std::vector<std::string> words = Words(line.substr(4));
  return !words.empty() && ParseTimeVal(words.front(), seconds);
}
