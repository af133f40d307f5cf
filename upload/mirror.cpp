// Deleting what is gone, and "/n"'s word for it.
#include "upload/mirror.h"

#include <algorithm>
#include <utility>

#include "ftp/file_commands.h"
#include "ftp/remote_path.h"
#include "local/selection.h"
#include "local/wildcard.h"
#include "upload/failure.h"
#include "upload/publish.h"
#include "upload/retry.h"

namespace {

bool Holds(const std::vector<std::string>& folded, const std::string& name) {
  return std::binary_search(folded.begin(), folded.end(), FoldCase(name));
}

// The cap of "/m:N", said once when it is reached.
bool TakeDeletion(RunState& run) {
  const int cap = run.options.MostDeletions;
  if (cap == 0 || ++run.shared.Deletions <= cap) return true;
  if (!run.shared.CapSaid.exchange(true)) {
    Report(run,
           {"Удалено столько, сколько позволяет ключ \"/m:" + std::to_string(cap) +
            "\": остальное на сервере не удаляется"},
           kExitTransfer);
  }
  return false;
}

// One file or directory deleted (or, with "/n", said to be). A file already gone when the
// command is sent again after a lost connection counts as deleted. False when it was not.
bool DeleteOne(RunState& run, const std::string& dir, const std::string& name, bool directory) {
  const std::string path = JoinRemotePath(dir, name);
  const char* what = directory ? "каталог" : "файл";
  if (!TakeDeletion(run)) return false;
  if (run.options.DryRun) {
    run.WriteMessage(std::string("Будет удалён ") + what + " \"" + path + "\"");
  } else {
    int tries = 0;
    const Step remove = [&] {
      // In the current directory by its name, as files are stored; elsewhere by its path.
      const std::string target = run.ftp().RemoteDir == dir ? name : path;
      const Reply reply = directory ? RemoveDir(run.ftp(), target) : RemoveFile(run.ftp(), target);
      if (reply.IsPositive() || (++tries > 1 && reply.complete && reply.first_line()[0] == '5')) {
        return Failure();
      }
      return Failure({std::string("Не удалось удалить на сервере ") + what + " \"" + path + "\""},
                     kExitTransfer, Walk::kGoesOn, KindOf(reply));
    };
    if (Attempt(run, dir, remove) != Tried::kDone) return false;
    run.WriteMessage(std::string("На сервере удалён ") + what + " \"" + path + "\"");
  }
  ++(directory ? run.shared.DirsDeleted : run.shared.FilesDeleted);
  return true;
}

void SayCut(RunState& run, const std::string& dir) {
  Report(run,
         {"Каталог \"" + dir + "\" на сервере прочитан не полностью: в нём ничего не удаляется"},
         kExitTransfer);
}

// The entries of a listing by name, so that a run deletes in the same order every time.
std::vector<std::pair<std::string, RemoteFile>> InOrder(const RemoteDirectory& entries) {
  std::vector<std::pair<std::string, RemoteFile>> sorted(entries.begin(), entries.end());
  std::sort(sorted.begin(), sorted.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  return sorted;
}

// A selected remote directory that the local side does not have: its selected files and
// directories deleted, depth first, and then the directory itself where nothing else is left.
bool RemoveTree(RunState& run, const std::string& dir, const std::string& mask) {
  ServerListing listing;
  listing.received = ListRemoteDirectory(run.ftp(), dir, &listing.entries);
  if (listing.received != Received::kWhole) {
    SayCut(run, dir);
    return false;
  }
  bool emptied = true;
  for (const auto& [name, entry] : InOrder(listing.entries)) {
    if (name.compare(0, 1, ".") == 0 || !MatchesMask(name, mask) ||
        MatchesAnyMask(name, run.options.Excludes)) {
      emptied = false;
      continue;
    }
    const bool gone = entry.directory ? RemoveTree(run, JoinRemotePath(dir, name), mask)
                                      : DeleteOne(run, dir, name, false);
    emptied = emptied && gone;
  }
  if (!emptied) return false;
  const std::size_t slash = dir.find_last_of('/');
  const std::string parent = slash == 0 ? "/" : dir.substr(0, slash);
  return DeleteOne(run, parent, dir.substr(slash + 1), true);
}

}  // namespace

LocalNames::LocalNames(const std::string& FileMask, const std::vector<ListingEntry>& entries)
    : mask_(FileMask) {
  for (const ListingEntry& entry : entries) {
    (entry.is_directory ? directories_ : files_).push_back(FoldCase(entry.name));
    if (!entry.is_directory) parts_.push_back(FoldCase(TemporaryName(entry.name, PartKey(entry))));
  }
  std::sort(files_.begin(), files_.end());
  std::sort(directories_.begin(), directories_.end());
  std::sort(parts_.begin(), parts_.end());
}

bool LocalNames::HasFile(const std::string& name) const { return Holds(files_, name); }

bool LocalNames::HasDirectory(const std::string& name) const { return Holds(directories_, name); }

bool LocalNames::IsOwnPart(const std::string& name) const { return Holds(parts_, name); }

bool LocalNames::IsLeftTemporary(const std::string& name) const {
  constexpr std::size_t kSuffix = 12;  // ".3f9c2a.part"
  if (name.size() <= kSuffix || name.compare(name.size() - 5, 5, ".part") != 0 ||
      name[name.size() - kSuffix] != '.') {
    return false;
  }
  const std::string random = name.substr(name.size() - 11, 6);
  return random.find_first_not_of("0123456789abcdef") == std::string::npos &&
         HasFile(name.substr(0, name.size() - kSuffix));
}

void DeleteGone(RunState& run, const std::string& dir, const LocalNames& local,
                const ServerListing& listing) {
  if (listing.received != Received::kWhole) return SayCut(run, dir);
  for (const auto& [name, entry] : InOrder(listing.entries)) {
    if (run.shared.Stopped()) return;
    // What vardek never sends lives on the server: .htaccess, .well-known, .ftpquota.
    // An excluded name is not this run's to judge; the part of a file as it is, the next try's.
    if (name.compare(0, 1, ".") == 0 || local.HasFile(name) || local.HasDirectory(name) ||
        local.IsOwnPart(name) || MatchesAnyMask(name, run.options.Excludes)) {
      continue;
    }
    if (entry.directory) {
      if (run.options.Recurse && MatchesMask(name, local.mask())) {
        RemoveTree(run, JoinRemotePath(dir, name), local.mask());
      }
    } else if (MatchesMask(name, local.mask()) || local.IsLeftTemporary(name)) {
      DeleteOne(run, dir, name, false);
    }
  }
}
