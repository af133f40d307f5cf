// The directory walk.
#include "upload/walk.h"

#include <algorithm>

#include "ftp/control.h"
#include "ftp/file_commands.h"
#include "ftp/remote_path.h"
#include "upload/failure.h"
#include "upload/mirror.h"
#include "upload/retry.h"

namespace {

// "/n": a directory that "/c" would make; those below it need no asking.
bool SayMade(RunState& run, const std::string& path) {
  run.WriteMessage("Будет создан каталог \"" + path + "\"");
  return true;
}

FileJob Job(const DirectoryContext& dir, std::vector<ListingEntry> files, bool compare) {
  FileJob job;
  job.LocalDir = dir.LocalDir;
  job.files = std::move(files);
  job.RemotePath = dir.RemotePath;
  job.compare = compare;
  return job;
}

// "/d" and "/p" save round trips where the walk knows the parent: it entered it, so MKD of the
// directory alone is enough; and in a parent that "/c" just made, no directory can be there yet.
bool MakeBelowKnownParent(RunState& run, const DirectoryContext& dir, Reply* refusal) {
  if (run.options.DryRun) return SayMade(run, dir.RemotePath);
  // MKD and CWD in one go: a round trip for each new directory.
  Reply made;
  *refusal = MakeAndEnterDirectory(run.ftp(), dir.RemotePath, &made);
  if (made.IsPositive()) run.WriteMessage("На сервере создан каталог \"" + dir.RemotePath + "\"");
  return refusal->IsPositive();
}

// CWD, or with "/c" MKD and CWD from the top of the path down.
Failure EnterOrMake(RunState& run, const DirectoryContext& dir, Entered* entered) {
  const bool known_parent = run.options.SavesRoundTrips() && dir.parent != Entered::kNo &&
                            RemotePathPrefixes(dir.RemotePath).size() > 1;
  Reply reply;
  if (!known_parent || dir.parent != Entered::kCreated) {
    reply = dir.asked.complete ? dir.asked : ChangeDirectory(run.ftp(), dir.RemotePath);
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
      FileJob job = Job(dir, {entry}, false);
      job.fresh = entered == Entered::kCreated;
      walker.files.Send(std::move(job));
    }
  }
  // "/m" lists a directory that was there also when nothing in it is to be sent.
  const bool mirror = compare && walker.mirror;
  if (compared.empty() && !mirror) return;
  FileJob job = Job(dir, std::move(compared), true);
  if (mirror) job.mirror = std::make_shared<const LocalNames>(dir.FileMask, entries);
  walker.files.Send(std::move(job));
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

// "/n" names what an exclude leaves out of what the mask selects.
void SayExcluded(RunState& run, const DirectoryContext& dir,
                 const std::vector<ListingEntry>& excluded) {
  for (const ListingEntry& entry : excluded) {
    if (entry.is_directory && !run.options.Recurse) continue;
    run.WriteMessage(std::string(entry.is_directory ? "Исключён каталог \"" : "Исключён файл \"") +
                     dir.LocalDir.Text() + entry.name + "\"");
  }
}

SelectionRules RulesOf(const Options& options) {
  SelectionRules rules;
  rules.TodayOnly = options.TodayOnly;
  rules.Recurse = options.Recurse;
  rules.Utf8Names = options.Utf8Names;
  rules.Excludes = options.Excludes;
  // Dates and sizes cost a call per entry on some platforms; only "/t", "/d", "/n" (which says
  // how much it would send) and "/a" (whose temporary names they make) read them.
  rules.Details = options.TodayOnly || options.Differs || options.DryRun || options.Atomic;
  return rules;
}

// Directories asked for in one go: their commands and replies stay well within the sockets'
// buffers, so that neither side waits for the other to read.
constexpr std::size_t kAskedAtOnce = 32;

// "/p": below a directory that was there, the walk asks whether its subdirectories are there
// in one go, a round trip for them all rather than one for each; other connections send their
// files, and enter each of them themselves. Each CWD is followed by one back to the directory:
// pure-ftpd answers a failed CWD after a failed one later and later (0.1 s, 0.2 s, ...) until a
// CWD succeeds. Only answers that asking again would not change are kept, and only for absolute
// paths, which every CWD of them resolves alike.
std::vector<Reply> AskAhead(RunState& run, const DirectoryContext& dir, Entered entered,
                            const std::vector<ListingEntry>& entries, const Walker& walker) {
  std::vector<Reply> answers(entries.size());
  if (run.options.Parallel < 2 || run.options.DryRun || entered != Entered::kExisting ||
      dir.RemotePath.compare(0, 1, "/") != 0) {
    return answers;
  }
  std::vector<std::string> commands;
  std::vector<std::size_t> asked;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string path = JoinRemotePath(dir.RemotePath, entries[i].name);
    if (!entries[i].is_directory || IsNameless(walker.rules, entries[i]) || HasLineBreak(path)) {
      continue;
    }
    commands.push_back("CWD " + path);
    commands.push_back("CWD " + dir.RemotePath);
    asked.push_back(i);
  }
  if (asked.size() < 2) return answers;
  std::vector<Reply> replies;
  for (std::size_t first = 0; first < commands.size(); first += 2 * kAskedAtOnce) {
    const std::size_t end = std::min(commands.size(), first + 2 * kAskedAtOnce);
    const std::vector<Reply> some =
        ExchangeAll(run.ftp(), {commands.begin() + first, commands.begin() + end});
    replies.insert(replies.end(), some.begin(), some.end());
  }
  run.ftp().RemoteDir = replies.back().IsPositive() ? dir.RemotePath : std::string();
  for (std::size_t k = 0; k < asked.size(); ++k) {
    const Reply& reply = replies[2 * k];
    if (reply.IsPositive() || (reply.complete && reply.first_line()[0] == '5')) {
      answers[asked[k]] = reply;
    }
  }
  return answers;
}

void VisitSubdirectories(RunState& run, const DirectoryContext& dir, Entered entered,
                         const std::vector<ListingEntry>& entries, Walker& walker) {
  if (!run.options.Recurse) return;
  const std::vector<Reply> asked = AskAhead(run, dir, entered, entries, walker);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ListingEntry& entry = entries[i];
    if (run.shared.Stopped()) return;
    if (!entry.is_directory) continue;
    const DirectoryContext subdir{dir.LocalDir.Child(entry.name), dir.FileMask,
                                  JoinRemotePath(dir.RemotePath, entry.name), entered, asked[i]};
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
  const DirectoryContext top{LocalPath{split.LocalDir, ""}, split.FileMask, RemotePath,
                             Entered::kNo, Reply()};
  const SelectionRules rules = RulesOf(run.options);
  Walker walker{rules, DirectoryChain(), TreeScan(rules, split.FileMask), files};
  walker.mirror = run.options.Mirror && !run.options.TodayOnly;
  // Files that "/t" leaves out are not gone.
  if (run.options.Mirror && run.options.TodayOnly) {
    run.WriteMessage("С ключом \"/t\" ключ \"/m\" на сервере ничего не удаляет");
  }
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
  if (known && !content.eligible && !content.failed && !walker.mirror) return;
  std::vector<ListingEntry> entries, excluded;
  if (!ReadDirectory(walker.rules, dir.LocalDir, dir.FileMask, &entries,
                     run.options.DryRun ? &excluded : nullptr)) {
    Report(run, {"Не удается прочитать каталог \"" + dir.LocalDir.Text() + "\""}, kExitTransfer);
    return;
  }
  if (!known) content = walker.scan.ContentOf(dir.LocalDir, entries, walker.chain);
  // A mistyped mask or an unmounted drive must not empty the server.
  if (walker.mirror && !content.eligible && dir.LocalDir.below.empty()) {
    Report(run,
           {"По маске \"" + dir.FileMask +
            "\" не выбран ни один локальный файл: на сервере ничего не удаляется"},
           kExitTransfer);
    walker.mirror = false;
  }
  if (!content.eligible && !content.failed && !walker.mirror) return;
  Entered entered = Entered::kNo;
  if (content.eligible) {
    // A local directory name with a line break would put a command of its own into CWD.
    if (HasLineBreak(dir.RemotePath)) {
      return Report(run, {NotSentMessage(dir.LocalDir.Text())}, kExitTransfer, Walk::kStops);
    }
    if (!Enter(run, dir, walker, &entered)) return;
    // "/n" is where the directory would be made only in its plan; a directory asked for ahead is
    // not where the connection is.
    const bool planned = run.options.DryRun && entered == Entered::kCreated;
    if (planned) run.ftp().RemoteDir.clear();
    if (!planned && !dir.asked.IsPositive()) run.ftp().RemoteDir = dir.RemotePath;
  } else if (walker.mirror && !HasLineBreak(dir.RemotePath) &&
             (dir.asked.complete ? dir.asked : ChangeDirectory(run.ftp(), dir.RemotePath))
                 .IsPositive()) {
    // Nothing to send here, but what the server holds may be gone; where the server has no
    // such directory, nothing is.
    entered = Entered::kExisting;
  }
  SayExcluded(run, dir, excluded);
  SendFiles(run, dir, entries, entered, walker);
  VisitSubdirectories(run, dir, entered, entries, walker);
}

bool MakeRemotePath(RunState& run, const DirectoryContext& dir, Reply* refusal) {
  const std::vector<std::string> prefixes = RemotePathPrefixes(dir.RemotePath);
  bool missing = false;
  for (const std::string& prefix : prefixes) {
    // "/n" asks which of the path is there, and says what it would make of the rest.
    if (run.options.DryRun) {
      missing = missing || !ChangeDirectory(run.ftp(), prefix).IsPositive();
      if (missing) SayMade(run, prefix);
      continue;
    }
    // A refused MKD is not reported: the directory may exist already.
    if (MakeDirectory(run.ftp(), prefix).IsPositive()) {
      run.WriteMessage("На сервере создан каталог \"" + prefix + "\"");
    }
    *refusal = ChangeDirectory(run.ftp(), prefix);
    if (!refusal->IsPositive()) return false;
  }
  return !prefixes.empty();
}
