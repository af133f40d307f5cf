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
  if (!run.CreateDirs) {
    ReportFailure(run,
                  {NotFoundMessage(dir.RemotePath),
                   "Разрешение на создание каталогов (ключ \"/c\") отсутствует"},
                  kExitDirectory);
    return false;
  }
  if (MakeRemotePath(run, dir)) return true;
  ReportFailure(run, {NotFoundMessage(dir.RemotePath)}, kExitDirectory);
  return false;
}

void SendFiles(RunState& run, const DirectoryContext& dir) {
  Listing listing(dir.LocalDir, dir.FileMask);
  ListingEntry entry;
  while (!run.TransferAborted && listing.Next(&entry)) {
    if (IsEligibleFile(run, entry)) UploadFile(run, dir.LocalDir, entry);
  }
}

void VisitSubdirectories(RunState& run, const DirectoryContext& dir, DirectoryChain& chain) {
  if (!run.Recurse) return;
  Listing listing(dir.LocalDir, dir.FileMask);
  ListingEntry entry;
  while (!run.TransferAborted && listing.Next(&entry)) {
    if (!entry.is_directory || !IsUsable(entry)) continue;
    const std::string subdir = dir.LocalDir + entry.name + kDirectoryJoin;
    if (!chain.Enter(subdir)) continue;
    UploadDirectory(run, subdir + dir.FileMask, JoinRemotePath(dir.RemotePath, entry.name), chain);
    chain.Leave();
  }
}

}  // namespace

void UploadTree(RunState& run, const std::string& LocalMask, const std::string& RemotePath) {
  DirectoryChain chain;
  chain.Enter(SplitLocalMask(LocalMask).LocalDir);
  UploadDirectory(run, LocalMask, RemotePath, chain);
}

void UploadDirectory(RunState& run, const std::string& LocalMask, const std::string& RemotePath,
                     DirectoryChain& chain) {
  DirectoryContext dir;
  SplitMask split = SplitLocalMask(LocalMask);
  dir.LocalDir = split.LocalDir;
  dir.FileMask = split.FileMask;
  dir.RemotePath = RemotePath;
  if (!HasEligibleFiles(run, dir.LocalDir, dir.FileMask, chain)) return;
  // A local directory name with a line break would put a command of its own into CWD.
  if (HasLineBreak(RemotePath)) {
    ReportFileNotSent(run, dir.LocalDir);
    return;
  }
  if (!EnterRemoteDirectory(run, dir)) return;
  run.TransferAborted = false;
  SendFiles(run, dir);
  VisitSubdirectories(run, dir, chain);
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
