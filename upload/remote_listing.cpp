// Remote directory listings and file times for "/d".
#include "upload/remote_listing.h"

#include <string>
#include <unordered_map>

#include "upload/control.h"
#include "upload/server_text.h"
#include "upload/transfer.h"

namespace {

// The plain files of a remote directory by name.
using RemoteDirectory = std::unordered_map<std::string, RemoteFile>;

// A listing larger than this is no site's directory; it is not read, and the files are sent.
constexpr std::size_t kLongestListing = 64 << 20;
// MDTM queries sent in one go: a round trip for a directory's files instead of one for each.
constexpr std::size_t kQueriesInFlight = 16;

// The listing's bytes, over a data connection opened as a file's is; false unless it came whole
// and the server confirmed it.
bool ReceiveListing(RunState& run, const std::string& command, std::string* data) {
  UseBinaryType(run);
  if (OpenDataConnection(run).failed()) return false;
  TSocket& connection = *run.DataConnection;
  const Reply reply = Exchange(run, command);
  // A refusal has no completion reply to wait for.
  const bool received = !reply.IsRefusal() &&
                        (!run.options.Encrypt || connection.ProtectLike(*run.ControlConnection)) &&
                        connection.ReceiveAll(data, kLongestListing);
  connection.Close();
  return received && ReadReply(*run.ControlConnection).IsPositive();
}

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

// One MLSD (or, where the server has none, LIST) of the current remote directory. False when
// the listing could not be had whole: the directory's files are then sent as without "/d".
bool ReadRemoteDirectory(RunState& run, RemoteDirectory* files) {
  const bool mlsd = run.shared.Features.mlsd;
  std::string data;
  if (!ReceiveListing(run, mlsd ? "MLSD" : "LIST", &data)) return false;
  std::string name;
  RemoteFile file;
  for (const std::string& line : Lines(data)) {
    if (mlsd ? ParseMlsdLine(line, &name, &file) : ParseListLine(line, &name, &file)) {
      (*files)[FromServerText(name, run.options.Utf8Names)] = file;
    }
  }
  return true;
}

// MDTM for the files that the listing gave without a time, several in flight at once; a file
// whose time the server does not tell keeps none.
void AskRemoteTimes(RunState& run, const std::vector<std::string>& names, RemoteDirectory* files) {
  for (std::size_t first = 0; first < names.size(); first += kQueriesInFlight) {
    std::vector<std::string> queries;
    for (std::size_t i = first; i < names.size() && i < first + kQueriesInFlight; ++i) {
      queries.push_back("MDTM " + names[i]);
    }
    const std::vector<Reply> replies = ExchangeAll(run, queries);
    for (std::size_t i = 0; i < replies.size(); ++i) {
      RemoteFile& file = (*files)[names[first + i]];
      if (!ParseMdtmReply(replies[i], &file.modified)) file.modified = -1;
    }
  }
}

// Where FEAT leaves it open (MDTM but no MFMT) and a file's times differ, learns once whether
// the server sets times, before the rule decides: the server's file is given the time it has
// already. A server that cannot is compared by kNotEarlier, rather than sent a file again on
// every run.
void LearnWhetherTimesCanBeSet(RunState& run, const std::string& name, std::int64_t remote_time) {
  if (run.shared.TimesKnown || run.shared.Times == TimeRule::kNotEarlier) return;
  const Reply reply = Exchange(run, "MDTM " + FormatTimeVal(remote_time) + " " + name);
  if (!reply.complete) return;  // the next command tells what became of the connection
  run.shared.TimesKnown = true;
  if (reply.first_line()[0] == '5') run.shared.Times = TimeRule::kNotEarlier;
}

// Where the listing gave a size but no time to the second, MDTM tells it, for all the files of
// the same size at once.
void CompleteRemoteTimes(RunState& run, const std::vector<ListingEntry>& files,
                         RemoteDirectory* remote) {
  std::vector<std::string> names;
  for (const ListingEntry& entry : files) {
    auto found = remote->find(entry.name);
    if (found != remote->end() && NeedsRemoteTime(entry, &found->second)) {
      names.push_back(entry.name);
    }
  }
  AskRemoteTimes(run, names, remote);
}

bool ServerHolds(RunState& run, const RemoteDirectory& remote, const ListingEntry& entry) {
  auto found = remote.find(entry.name);
  const RemoteFile* file = found == remote.end() ? nullptr : &found->second;
  if (file != nullptr && file->size == entry.size && file->modified >= 0 &&
      file->modified != entry.modified) {
    LearnWhetherTimesCanBeSet(run, entry.name, file->modified);
  }
  return IsUnchanged(entry, file, run.shared.Times);
}

}  // namespace

void LearnFeatures(RunState& run) {
  const Reply reply = Exchange(run, "FEAT");
  const ServerFeatures features = ParseFeatures(reply);
  run.shared.Features = features;
  // A server that lists neither way of setting a time can set none; one without FEAT may.
  const bool settable = features.mfmt || features.mdtm || !reply.IsPositive();
  run.shared.Times = settable ? TimeRule::kExact : TimeRule::kNotEarlier;
  run.shared.TimesKnown = features.mfmt || !settable;
}

void SetRemoteTime(RunState& run, const std::string& name, std::int64_t modified) {
  if (run.shared.Times == TimeRule::kNotEarlier) return;
  const bool mfmt = run.shared.Features.mfmt;
  const std::string time = FormatTimeVal(modified);
  const Reply reply = Exchange(run, (mfmt ? "MFMT " : "MDTM ") + time + " " + name);
  // Without MFMT the MDTM form is the only way; a server that turns it down sets no times.
  if (!mfmt && reply.complete && reply.first_line()[0] == '5') {
    run.shared.Times = TimeRule::kNotEarlier;
  }
  if (!mfmt && reply.IsPositive()) run.shared.TimesKnown = true;
}

std::vector<ListingEntry> FilesToSend(RunState& run, const std::vector<ListingEntry>& files) {
  RemoteDirectory remote;
  if (files.empty() || !ReadRemoteDirectory(run, &remote)) return files;
  CompleteRemoteTimes(run, files, &remote);
  std::vector<ListingEntry> changed;
  for (const ListingEntry& entry : files) {
    if (ServerHolds(run, remote, entry)) {
      ++run.shared.FilesUnchanged;
    } else {
      changed.push_back(entry);
    }
  }
  return changed;
}
