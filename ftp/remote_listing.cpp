// Remote directory listings and file times.
#include "ftp/remote_listing.h"

#include "ftp/server_text.h"
#include "ftp/transfer.h"

namespace {

// A listing larger than this is no site's directory; it is not read.
constexpr std::size_t kLongestListing = 64 << 20;
// MDTM queries sent in one go: a round trip for a directory's files instead of one for each.
constexpr std::size_t kQueriesInFlight = 16;

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

Received ListRemoteDirectory(FtpConnection& ftp, const std::string& path, RemoteDirectory* files) {
  const bool mlsd = ftp.Server.Features.mlsd && !ftp.Server.MlsdRefused;
  std::string data;
  const std::string command = mlsd ? "MLSD" : "LIST";
  Reply refusal;
  const Received received = ReceiveData(ftp, path.empty() ? command : command + " " + path,
                                        kLongestListing, &data, &refusal);
  if (mlsd && refusal.complete && refusal.first_line()[0] == '5') {
    ftp.Server.MlsdRefused = true;
    return ListRemoteDirectory(ftp, path, files);
  }
  std::string name;
  RemoteFile file;
  for (const std::string& line : Lines(data)) {
    if (mlsd ? ParseMlsdLine(line, &name, &file) : ParseListLine(line, &name, &file)) {
      (*files)[FromServerText(name, ftp.Settings.Utf8Names)] = file;
    }
  }
  return received;
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
      RemoteFile& file = (*files)[names[first + i]];
      if (!ParseMdtmReply(replies[i], &file.modified)) file.modified = -1;
    }
  }
}
