// Reading replies and parsing their text.
#include "upload/reply.h"

#include <cctype>

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
