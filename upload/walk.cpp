// The directory walk.
#include "upload/walk.h"

#include "ftp/control.h"
#include "ftp/file_commands.h"
#include "ftp/remote_path.h"
#include "upload/failure.h"
#include "upload/retry.h"

namespace {

// "/d" and "/p" save round trips where the walk knows the parent: it entered it, so MKD of the
// directory alone is enough; and in a parent that "/c" just made, no directory can be there yet.
bool MakeBelowKnownParent(RunState& run, const DirectoryContext& dir, Reply* refusal) {
  if (MakeDirectory(run.ftp(), dir.RemotePath).IsPositive()) {
    run.WriteMessage("На сервере создан каталог \"" + dir.RemotePath + "\"");
  }
  *refusal = ChangeDirectory(run.ftp(), dir.RemotePath);
  return refusal->IsPositive();
}

// CWD, or with "/c" MKD and CWD from the top of the path down.
Failure EnterOrMake(RunState& run, const DirectoryContext& dir, Entered* entered) {
  const bool known_parent = run.options.SavesRoundTrips() && dir.parent != Entered::kNo &&
                            RemotePathPrefixes(dir.RemotePath).size() > 1;
  Reply reply;
  if (!known_parent || dir.parent != Entered::kCreated) {
    reply = ChangeDirectory(run.ftp(), dir.RemotePath);
    *entered = Entered::kExisting;
    if (reply.IsPositive()) return Failure();
  }
  if (!run.options.CreateDirs) {
    return DirectoryFailure({NotFoundMessage(dir.RemotePath),
                             "Разрешение на создание каталогов (ключ \"/c\") отсутствует"},
                            reply, Walk::kGoesOn);
  }
  *entered = Entered::kCreated;
  const bool made =
      known_parent ? MakeBelowKnownParent(run, dir, &reply) : MakeRemotePath(run, dir, &reply);
  if (made) return Failure();
  return DirectoryFailure({NotFoundMessage(dir.RemotePath)}, reply, Walk::kGoesOn);
}

Failure EnterRemoteDirectory(RunState& run, const DirectoryContext& dir, Entered* entered) {
  run.WriteMessage("Переходим в каталог \"" + dir.RemotePath + "\"");
  const Failure failure = EnterOrMake(run, dir, entered);
  // Wherever a failed chain leaves the connection, its directory is unknown.
  if (failure.failed()) run.ftp().RemoteDir.clear();
  return failure;
}

// Files the run cannot use are reported in their place; the others go on. "/d" compares the
// directory's files with the server's listing of a directory that was there (one that "/c" made
// holds nothing yet) before any is sent: with "/p" on another connection, while the walk goes on.
void SendFiles(RunState& run, const DirectoryContext& dir, const std::vector<ListingEntry>& entries,
               Entered entered, Walker& walker) {
  const bool compare = run.options.Differs && entered == Entered::kExisting;
  std::vector<ListingEntry> compared;
  for (const ListingEntry& entry : entries) {
    if (run.shared.Stopped()) return;
    if (entry.is_directory) continue;
    if (IsUnusable(walker.rules, entry)) {
      Report(run, {NotSentMessage(dir.LocalDir.Text() + entry.name)}, kExitTransfer);
    }
    // A file must not land in whatever remote directory was entered last.
    if (entered == Entered::kNo || !IsEligibleFile(walker.rules, entry)) continue;
    if (compare) {
      compared.push_back(entry);
    } else {
      walker.files.Send(FileJob{dir.LocalDir, {entry}, dir.RemotePath, false});
    }
  }
  if (!compared.empty()) walker.files.Send(FileJob{dir.LocalDir, compared, dir.RemotePath, true});
}

// With "/p" a lost connection is never a directory's failure: the walk goes on with another
// connection, as many times as there are ("/r": as "/r" says).
bool Enter(RunState& run, const DirectoryContext& dir, Walker& walker, Entered* entered) {
  const Step enter = [&] { return EnterRemoteDirectory(run, dir, entered); };
  const bool hand_on = run.options.Parallel > 1;
  Failure lost;
  Tried tried = Attempt(run, std::string(), enter, hand_on, &lost);
  for (int retry = 1; tried == Tried::kLost; ++retry) {
    if (run.options.Retries > 0 && retry > run.options.Retries) {
      Report(run, LostFailure(run.options));
      return false;
    }
    if (!walker.files.Recover(run, lost)) return false;
    tried = Attempt(run, std::string(), enter, hand_on, &lost);
  }
  return tried == Tried::kDone;
}

SelectionRules RulesOf(const Options& options) {
  SelectionRules rules;
  rules.TodayOnly = options.TodayOnly;
  rules.Recurse = options.Recurse;
  rules.Utf8Names = options.Utf8Names;
  // Dates and sizes cost a call per entry on some platforms; only "/t" and "/d" read them.
  rules.Details = options.TodayOnly || options.Differs;
  return rules;
}

void VisitSubdirectories(RunState& run, const DirectoryContext& dir, Entered entered,
                         const std::vector<ListingEntry>& entries, Walker& walker) {
  if (!run.options.Recurse) return;
  for (const ListingEntry& entry : entries) {
    if (run.shared.Stopped()) return;
    if (!entry.is_directory) continue;
    const DirectoryContext subdir{dir.LocalDir.Child(entry.name), dir.FileMask,
                                  JoinRemotePath(dir.RemotePath, entry.name), entered};
    if (IsNameless(walker.rules, entry)) {
      Report(run, {NotSentMessage(subdir.LocalDir.Text())}, kExitTransfer);
      continue;
    }
    if (!walker.chain.Enter(subdir.LocalDir)) continue;
    UploadDirectory(run, subdir, walker);
    walker.chain.Leave();
  }
}

}  // namespace

void UploadTree(RunState& run, const std::string& LocalMask, const std::string& RemotePath,
                ConnectionPool& files) {
  const SplitMask split = SplitLocalMask(LocalMask);
  const DirectoryContext top{LocalPath{split.LocalDir, ""}, split.FileMask, RemotePath};
  const SelectionRules rules = RulesOf(run.options);
  Walker walker{rules, DirectoryChain(), TreeScan(rules, split.FileMask), files};
  walker.chain.Enter(top.LocalDir);
  UploadDirectory(run, top, walker);
  files.Finish();
}

// A directory is listed once by the walk; its answer comes from the pre-scan when that listed it
// before, else from these entries. A directory that holds nothing to send but something to report
// is visited without entering its remote counterpart.
void UploadDirectory(RunState& run, const DirectoryContext& dir, Walker& walker) {
  TreeContent content;
  const bool known = walker.scan.Take(dir.LocalDir, &content);
  if (known && !content.eligible && !content.failed) return;
  std::vector<ListingEntry> entries;
  if (!ReadDirectory(walker.rules, dir.LocalDir, dir.FileMask, &entries)) {
    Report(run, {"Не удается прочитать каталог \"" + dir.LocalDir.Text() + "\""}, kExitTransfer);
    return;
  }
  if (!known) content = walker.scan.ContentOf(dir.LocalDir, entries, walker.chain);
  if (!content.eligible && !content.failed) return;
  Entered entered = Entered::kNo;
  if (content.eligible) {
    // A local directory name with a line break would put a command of its own into CWD.
    if (HasLineBreak(dir.RemotePath)) {
      return Report(run, {NotSentMessage(dir.LocalDir.Text())}, kExitTransfer, Walk::kStops);
    }
    if (!Enter(run, dir, walker, &entered)) return;
    run.ftp().RemoteDir = dir.RemotePath;
  }
  SendFiles(run, dir, entries, entered, walker);
  VisitSubdirectories(run, dir, entered, entries, walker);
}

bool MakeRemotePath(RunState& run, const DirectoryContext& dir, Reply* refusal) {
  const std::vector<std::string> prefixes = RemotePathPrefixes(dir.RemotePath);
  for (const std::string& prefix : prefixes) {
    // A refused MKD is not reported: the directory may exist already.
    if (MakeDirectory(run.ftp(), prefix).IsPositive()) {
      run.WriteMessage("На сервере создан каталог \"" + prefix + "\"");
    }
    *refusal = ChangeDirectory(run.ftp(), prefix);
    if (!refusal->IsPositive()) return false;
  }
  return !prefixes.empty();
}
