// Remote directory listings and file times.
#include "ftp/remote_listing.h"

#include "ftp/file_commands.h"
#include "ftp/server_text.h"
#include "ftp/transfer.h"

namespace {

// A listing larger than this is no site's directory; it is not read.
constexpr std::size_t kLongestListing = 64 << 20;
// MDTM queries sent in one go: a round trip for a directory's files instead of one for each.
constexpr std::size_t kQueriesInFlight = 16;
// MDTM queries that go along with a listing at most: a directory's, where it holds few files.
constexpr std::size_t kTimesAlong = 32;

std::vector<std::string> Lines(const std::string& data) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < data.size()) {
    std::size_t end = data.find_first_of("\r\n", at);
    if (end == std::string::npos) end = data.size();
    if (end > at) lines.push_back(data.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

}  // namespace

namespace {

bool UsesMlsd(const FtpConnection& ftp) {
  return ftp.Server.Features.mlsd && !ftp.Server.MlsdRefused;
}

// The entries of a listing's bytes, in the program's text.
void ReadEntries(const FtpConnection& ftp, bool mlsd, const std::string& data,
                 RemoteDirectory* files) {
  std::string name;
  RemoteFile file;
  for (const std::string& line : Lines(data)) {
    if (mlsd ? ParseMlsdLine(line, &name, &file) : ParseListLine(line, &name, &file)) {
      (*files)[FromServerText(name, ftp.Settings.Utf8Names)] = file;
    }
  }
}

// MLSD listed in FEAT but refused: LIST from then on.
bool Refuses(FtpConnection& ftp, bool mlsd, const Reply& refusal) {
  if (!mlsd || !refusal.complete || refusal.first_line()[0] != '5') return false;
  ftp.Server.MlsdRefused = true;
  return true;
}

}  // namespace

Received ListRemoteDirectory(FtpConnection& ftp, const std::string& path, RemoteDirectory* files) {
  const bool mlsd = UsesMlsd(ftp);
  std::string data;
  const std::string command = mlsd ? "MLSD" : "LIST";
  Reply refusal;
  const Received received = ReceiveData(ftp, path.empty() ? command : command + " " + path,
                                        kLongestListing, &data, &refusal);
  if (Refuses(ftp, mlsd, refusal)) return ListRemoteDirectory(ftp, path, files);
  ReadEntries(ftp, mlsd, data, files);
  return received;
}

Received EnterAndList(FtpConnection& ftp, const std::string& path,
                      const std::vector<std::string>& timed, RemoteDirectory* files, Reply* entered,
                      std::vector<Reply>* times) {
  if (ftp.Server.Pipelined != Pipelining::kWorks || HasLineBreak(path)) {
    *entered = ChangeDirectory(ftp, path);
    return entered->IsPositive() ? ListRemoteDirectory(ftp, std::string(), files)
                                 : Received::kFailed;
  }
  const bool mlsd = UsesMlsd(ftp);
  AlongWith along;
  along.lead = {"CWD " + path};
  // LIST gives no time to the second: the times go along before the sizes are known.
  if (!mlsd && timed.size() <= kTimesAlong) {
    for (const std::string& name : timed) along.trail.push_back("MDTM " + name);
  }
  std::string data;
  Reply refusal;
  const Received received =
      ReceiveData(ftp, mlsd ? "MLSD" : "LIST", kLongestListing, &data, &refusal, &along);
  along.led.resize(1);
  *entered = along.led.front();
  // What was listed then is another directory's.
  if (!entered->IsPositive()) return Received::kFailed;
  ftp.RemoteDir = path;
  if (along.trailed.size() == along.trail.size()) *times = std::move(along.trailed);
  if (Refuses(ftp, mlsd, refusal)) return ListRemoteDirectory(ftp, std::string(), files);
  ReadEntries(ftp, mlsd, data, files);
  return received;
}

bool EnterAndListEach(FtpConnection& ftp, std::vector<DirectoryListing>* dirs) {
  const bool mlsd = UsesMlsd(ftp);
  std::vector<OneOfMany> each(dirs->size());
  for (std::size_t i = 0; i < dirs->size(); ++i) {
    const DirectoryListing& dir = (*dirs)[i];
    each[i].command = mlsd ? "MLSD" : "LIST";
    each[i].along.lead = {"CWD " + dir.path};
    if (!mlsd && dir.timed.size() <= kTimesAlong) {
      for (const std::string& name : dir.timed) each[i].along.trail.push_back("MDTM " + name);
    }
  }
  if (!ReceiveEach(ftp, kLongestListing, &each)) return false;
  for (std::size_t i = 0; i < dirs->size(); ++i) {
    DirectoryListing& dir = (*dirs)[i];
    OneOfMany& one = each[i];
    one.along.led.resize(1);
    dir.entered = one.along.led.front();
    // What was listed then is another directory's.
    if (!dir.entered.IsPositive()) continue;
    ftp.RemoteDir = dir.path;
    if (Refuses(ftp, mlsd, one.refusal)) continue;
    dir.received = one.received;
    ReadEntries(ftp, mlsd, one.data, &dir.files);
    if (one.along.trailed.size() == dir.timed.size()) dir.times = std::move(one.along.trailed);
  }
  return true;
}

void ReadRemoteTime(const Reply& reply, RemoteFile* file) {
  if (!ParseMdtmReply(reply, &file->modified)) file->modified = -1;
}

void AskRemoteTimes(FtpConnection& ftp, const std::vector<std::string>& names,
                    RemoteDirectory* files) {
  for (std::size_t first = 0; first < names.size(); first += kQueriesInFlight) {
    std::vector<std::string> queries;
    for (std::size_t i = first; i < names.size() && i < first + kQueriesInFlight; ++i) {
      queries.push_back("MDTM " + names[i]);
    }
    const std::vector<Reply> replies = ExchangeAll(ftp, queries);
    for (std::size_t i = 0; i < replies.size(); ++i) {
      ReadRemoteTime(replies[i], &(*files)[names[first + i]]);
    }
  }
}
