// The "/d" comparison against the server's listing, and the times it keeps.
#include "upload/differs.h"

#include "ftp/file_commands.h"
#include "ftp/remote_listing.h"

namespace {

// A server that sets no times is compared by kNotEarlier from now on, rather than sent every file
// again on every run; where FEAT promised MFMT, the user hears of it, once.
void SetsNoTimes(RunState& run) {
  run.shared.TimesKnown = true;
  if (run.shared.Times.exchange(TimeRule::kNotEarlier) == TimeRule::kNotEarlier) return;
  if (run.shared.Server.Features.mfmt) {
    run.WriteMessage("Сервер \"" + run.options.ServerHost +
                     "\" не устанавливает время файлов: копия на сервере считается неизменной, "
                     "если она не старше локального файла");
  }
}

constexpr std::int64_t kQuarterHour = 15 * 60;
constexpr std::int64_t kLongestShift = 14 * 3600;  // UTC+14, the farthest zone

// MFMT's reply shows the time set as the server's listings will: a difference from the time asked
// for of whole quarter hours is the server's zone, and its times are read back by it. True when
// a new one was learnt.
bool LearnShift(RunState& run, const Reply& reply, std::int64_t asked) {
  std::int64_t shown = 0;
  if (!ParseModifyReply(reply, &shown)) return false;
  const std::int64_t shift = shown - asked;
  if (shift % kQuarterHour != 0 || shift < -kLongestShift || shift > kLongestShift) return false;
  return run.shared.TimeShift.exchange(shift) != shift;
}

// Whether it is still to be learnt if the server sets times; "/n" sets no time, not even a
// file's own.
bool MayProbeTimes(const RunState& run) {
  return !run.shared.TimesKnown && run.shared.Times != TimeRule::kNotEarlier && !run.options.DryRun;
}

// Where it is not known yet and a file's times differ, learns once whether the server sets
// times, before the rule decides: the server's file is given the time it has already. A server that
// cannot is compared by kNotEarlier, rather than sent a file again on every run.
void LearnWhetherTimesCanBeSet(RunState& run, const std::string& name, std::int64_t remote_time) {
  if (!MayProbeTimes(run)) return;
  const std::int64_t asked = remote_time - run.shared.TimeShift;
  const Reply reply = SetFileTime(run.ftp(), name, asked);
  if (!reply.complete) return;  // the next command tells what became of the connection
  run.shared.TimesKnown = true;
  if (reply.first_line()[0] == '5') SetsNoTimes(run);
  // The listed time was the server's zone's, and was taken for UTC: the file gets its own back.
  if (LearnShift(run, reply, asked)) SetFileTime(run.ftp(), name, asked - run.shared.TimeShift);
}

// Where the listing gave a size but no time to the second, MDTM tells it, for all the files of
// the same size at once, unless its reply came along with the listing (`told`, in the order of
// the files).
void CompleteRemoteTimes(RunState& run, const std::vector<ListingEntry>& files,
                         const std::vector<Reply>& told, RemoteDirectory* remote) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < files.size(); ++i) {
    auto found = remote->find(files[i].name);
    if (found == remote->end() || !NeedsRemoteTime(files[i], &found->second)) continue;
    if (i < told.size() && told[i].complete) {
      ReadRemoteTime(told[i], &found->second);
    } else {
      names.push_back(files[i].name);
    }
  }
  AskRemoteTimes(run.ftp(), names, remote);
}

std::vector<std::string> NamesOf(const std::vector<ListingEntry>& files) {
  std::vector<std::string> names;
  for (const ListingEntry& entry : files) names.push_back(entry.name);
  return names;
}

// The server's file in UTC, as far as its zone is known.
RemoteFile InUtc(const RemoteFile& file, std::int64_t shift) {
  RemoteFile utc = file;
  if (utc.modified >= 0) utc.modified -= shift;
  return utc;
}

bool ServerHolds(RunState& run, const RemoteDirectory& remote, const ListingEntry& entry) {
  auto found = remote.find(entry.name);
  if (found == remote.end()) return false;
  const RemoteFile& file = found->second;
  if (file.size == entry.size && file.modified >= 0 &&
      InUtc(file, run.shared.TimeShift).modified != entry.modified) {
    LearnWhetherTimesCanBeSet(run, entry.name, file.modified);
  }
  // Read again: the probe may have learnt the server's zone.
  const RemoteFile utc = InUtc(file, run.shared.TimeShift);
  return IsUnchanged(entry, &utc, run.shared.Times);
}

// The files the server does not hold as they are, in their order; the others counted unchanged.
void Judge(RunState& run, const RemoteDirectory& remote, const std::vector<ListingEntry>& files,
           std::vector<ListingEntry>* changed) {
  changed->clear();
  for (const ListingEntry& entry : files) {
    if (ServerHolds(run, remote, entry)) {
      ++run.shared.FilesUnchanged;
    } else {
      changed->push_back(entry);
    }
  }
}

// The files a truncated listing does not name go as without "/d"; "/m" says so itself.
void SayTruncated(RunState& run, const std::string& path) {
  run.WriteMessage(
      "Каталог \"" + path +
      "\" на сервере прочитан не полностью: файлы, которых нет в списке, отправляются");
}

}  // namespace

Failure CompareListing(RunState& run, const std::string& path,
                       const std::vector<ListingEntry>& files, std::vector<ListingEntry>* changed,
                       ServerListing* listing, DirectoryListing** known) {
  RemoteDirectory& remote = listing->entries;
  // Without a listing the directory's files are sent as without "/d"; one that the server cut
  // short still tells about the files it names.
  *changed = files;
  if (files.empty() && !run.options.Mirror) return Failure();
  Reply entered;
  std::vector<Reply> told;
  // A listing had with others is taken once, where it entered the directory and came whole.
  DirectoryListing* had = known != nullptr ? *known : nullptr;
  if (known != nullptr) *known = nullptr;
  if (had != nullptr && had->entered.IsPositive() && run.ftp().RemoteDir == path &&
      (had->received == Received::kWhole || had->received == Received::kTruncated)) {
    remote = std::move(had->files);
    told = std::move(had->times);
    listing->received = had->received;
  } else {
    const bool elsewhere = run.ftp().RemoteDir != path;
    listing->received =
        elsewhere ? EnterAndList(run.ftp(), path, NamesOf(files), &remote, &entered, &told)
                  : ListRemoteDirectory(run.ftp(), std::string(), &remote);
    // The files must not land in whatever directory the connection was in.
    if (elsewhere && !entered.IsPositive()) {
      remote.clear();
      if (!entered.complete) return LostFailure(run.options);
      return DirectoryFailure({NotFoundMessage(path)}, entered, Walk::kGoesOn);
    }
  }
  if (listing->received == Received::kFailed || listing->received == Received::kCut) {
    remote.clear();
    return run.ftp().ControlConnection.IsOpen() ? Failure() : LostFailure(run.options);
  }
  // The files it does not name go as without "/d"; "/m" says so itself, as it deletes nothing.
  if (listing->received == Received::kTruncated && !run.options.Mirror) {
    SayTruncated(run, run.ftp().RemoteDir);
  }
  CompleteRemoteTimes(run, files, told, &remote);
  // Times lost with the connection are asked again on the next one ("/r"), not taken as none.
  if (!run.ftp().ControlConnection.IsOpen()) {
    remote.clear();
    listing->received = Received::kCut;
    return LostFailure(run.options);
  }
  // The time given last went along with the listing: how it went counts for this comparison.
  SettleRemoteTime(run, false);
  Judge(run, remote, files, changed);
  return Failure();
}

bool CompareAway(RunState& run, DirectoryListing& known, const std::vector<ListingEntry>& files,
                 std::vector<ListingEntry>* changed, ServerListing* listing) {
  if (!known.entered.IsPositive() ||
      (known.received != Received::kWhole && known.received != Received::kTruncated)) {
    return false;
  }
  RemoteDirectory& remote = known.files;
  // Only a connection in the directory can ask for a time that did not come along, or learn
  // whether the server sets times.
  const bool may_probe = MayProbeTimes(run);
  for (std::size_t i = 0; i < files.size(); ++i) {
    auto found = remote.find(files[i].name);
    if (found == remote.end()) continue;
    RemoteFile& file = found->second;
    if (NeedsRemoteTime(files[i], &file)) {
      if (i >= known.times.size() || !known.times[i].complete) return false;
      ReadRemoteTime(known.times[i], &file);
    }
    if (may_probe && file.size == files[i].size && file.modified >= 0 &&
        InUtc(file, run.shared.TimeShift).modified != files[i].modified) {
      return false;
    }
  }
  if (known.received == Received::kTruncated && !run.options.Mirror) {
    SayTruncated(run, known.path);
  }
  Judge(run, remote, files, changed);
  listing->entries = std::move(remote);
  listing->received = known.received;
  return true;
}

void SetRemoteTime(RunState& run, const std::string& name, std::int64_t modified) {
  if (run.shared.Times == TimeRule::kNotEarlier || run.options.DryRun) return;
  SettleRemoteTime(run, true);
  // Nothing waits for its reply: it goes in one go with the next command, a round trip saved
  // for each file.
  SetFileTimeLater(run.ftp(), name, modified);
}

void SettleRemoteTime(RunState& run, bool now) {
  std::int64_t modified = 0;
  Reply reply;
  if (!TakeFileTimeReply(run.ftp(), now, &modified, &reply)) return;
  LearnShift(run, reply, modified);
  // A server that turns it down sets no times: MFMT listed but not allowed to this login
  // (pyftpdlib without the T permission, proftpd's <Limit MFMT>) as much as MDTM's form.
  if (reply.complete && reply.first_line()[0] == '5') SetsNoTimes(run);
  if (reply.IsPositive()) run.shared.TimesKnown = true;
}
