// The directory walk.
#include "upload/walk.h"

#include "upload/control.h"
#include "upload/remote_path.h"
#include "upload/transfer.h"

namespace {

std::string NotFoundMessage(const std::string& RemotePath) {
  return "На сервере каталог \"" + RemotePath + "\" не обнаружен";
}

bool EnterRemoteDirectory(RunState& run, const DirectoryContext& dir) {
  run.WriteMessage("Переходим в каталог \"" + dir.RemotePath + "\"");
  if (Exchange(run, "CWD " + dir.RemotePath).IsPositive()) return true;
  if (!run.options.CreateDirs) {
    Report(run,
           {NotFoundMessage(dir.RemotePath),
            "Разрешение на создание каталогов (ключ \"/c\") отсутствует"},
           kExitDirectory);
    return false;
  }
  if (MakeRemotePath(run, dir)) return true;
  Report(run, {NotFoundMessage(dir.RemotePath)}, kExitDirectory);
  return false;
}

// Files the run cannot use are reported in their place; the others go on.
void SendFiles(RunState& run, const DirectoryContext& dir, const std::vector<ListingEntry>& entries,
               bool entered) {
  for (const ListingEntry& entry : entries) {
    if (run.TransferAborted) return;
    if (entry.is_directory) continue;
    if (IsUnusable(run.options, entry)) {
      Report(run, {NotSentMessage(dir.LocalDir.Text() + entry.name)}, kExitTransfer);
    }
    // A file must not land in whatever remote directory was entered last.
    if (entered && IsEligibleFile(run.options, entry)) UploadFile(run, dir.LocalDir, entry);
  }
}

void VisitSubdirectories(RunState& run, const DirectoryContext& dir,
                         const std::vector<ListingEntry>& entries, DirectoryChain& chain,
                         TreeScan& scan) {
  if (!run.options.Recurse) return;
  for (const ListingEntry& entry : entries) {
    if (run.TransferAborted) return;
    if (!entry.is_directory) continue;
    const DirectoryContext subdir{dir.LocalDir.Child(entry.name), dir.FileMask,
                                  JoinRemotePath(dir.RemotePath, entry.name)};
    if (entry.unnamed) {
      Report(run, {NotSentMessage(subdir.LocalDir.Text())}, kExitTransfer);
      continue;
    }
    if (!chain.Enter(subdir.LocalDir)) continue;
    UploadDirectory(run, subdir, chain, scan);
    chain.Leave();
  }
}

}  // namespace

void UploadTree(RunState& run, const std::string& LocalMask, const std::string& RemotePath) {
  const SplitMask split = SplitLocalMask(LocalMask);
  const DirectoryContext top{LocalPath{split.LocalDir, ""}, split.FileMask, RemotePath};
  DirectoryChain chain;
  chain.Enter(top.LocalDir);
  TreeScan scan(run.options, split.FileMask);
  UploadDirectory(run, top, chain, scan);
}

// A directory is listed once by the walk; its answer comes from the pre-scan when that listed it
// before, else from these entries. A directory that holds nothing to send but something to report
// is visited without entering its remote counterpart.
void UploadDirectory(RunState& run, const DirectoryContext& dir, DirectoryChain& chain,
                     TreeScan& scan) {
  const TreeContent* known = scan.Known(dir.LocalDir);
  if (known != nullptr && !known->eligible && !known->failed) return;
  std::vector<ListingEntry> entries;
  if (!ReadDirectory(run.options, dir.LocalDir, dir.FileMask, &entries)) {
    Report(run, {"Не удается прочитать каталог \"" + dir.LocalDir.Text() + "\""}, kExitTransfer);
    return;
  }
  const TreeContent content = known ? *known : scan.ContentOf(dir.LocalDir, entries, chain);
  if (!content.eligible && !content.failed) return;
  if (content.eligible) {
    // A local directory name with a line break would put a command of its own into CWD.
    if (HasLineBreak(dir.RemotePath)) {
      return Report(run, {NotSentMessage(dir.LocalDir.Text())}, kExitTransfer, Walk::kStops);
    }
    if (!EnterRemoteDirectory(run, dir)) return;
    run.TransferAborted = false;
  }
  SendFiles(run, dir, entries, content.eligible);
  VisitSubdirectories(run, dir, entries, chain, scan);
}

bool MakeRemotePath(RunState& run, const DirectoryContext& dir) {
  const std::vector<std::string> prefixes = RemotePathPrefixes(dir.RemotePath);
  for (const std::string& prefix : prefixes) {
    // A refused MKD is not reported: the directory may exist already.
    if (Exchange(run, "MKD " + prefix).IsPositive()) {
      run.WriteMessage("На сервере создан каталог \"" + prefix + "\"");
    }
    if (!Exchange(run, "CWD " + prefix).IsPositive()) return false;
  }
  return !prefixes.empty();
}
