// Storing a file, and with "/a" replacing the server's copy only once the new one is whole.
#include "upload/publish.h"

#include <cstdio>

#include "upload/control.h"
#include "upload/remote_listing.h"
#include "upload/transfer.h"

namespace {

constexpr std::size_t kLongestName = 255;

// RNFR asks for 350 before RNTO.
bool Rename(RunState& run, const std::string& from, const std::string& to, bool* from_taken) {
  *from_taken = Exchange(run, "RNFR " + from).IsIntermediate();
  return *from_taken && Exchange(run, "RNTO " + to).IsPositive();
}

// IIS and proftpd without AllowOverwrite refuse to rename onto a file: the old one is deleted
// and the rename sent again in one go with RNFR, so that the name stands without a file for one
// round trip.
bool RenameOnto(RunState& run, const std::string& temporary, const std::string& name) {
  bool from_taken = false;
  if (Rename(run, temporary, name, &from_taken)) return true;
  if (!from_taken || !Exchange(run, "DELE " + name).IsPositive()) return false;
  const std::vector<Reply> replies = ExchangeAll(run, {"RNFR " + temporary, "RNTO " + name});
  return replies[0].IsIntermediate() && replies[1].IsPositive();
}

// A failed transfer leaves nothing behind, as far as the server still answers.
void RemoveTemporary(RunState& run, const std::string& temporary) {
  Exchange(run, "DELE " + temporary);
}

void Count(RunState& run, std::int64_t bytes) {
  ++run.FilesSent;
  run.BytesSent += bytes;
}

}  // namespace

std::string TemporaryName(const std::string& name, std::uint32_t random) {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".%06x.part", random & 0xFFFFFFu);
  std::size_t keep = std::min(name.size(), kLongestName - std::char_traits<char>::length(suffix));
  // A UTF-8 continuation byte would start the cut-off rest of a character.
  while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) {
    --keep;
  }
  return name.substr(0, keep) + suffix;
}

bool PublishFile(RunState& run, const LocalPath& LocalDir, const ListingEntry& entry) {
  std::int64_t bytes = 0;
  if (!run.options.Atomic) {
    if (!UploadFile(run, LocalDir, entry, entry.name, &bytes)) return false;
    if (run.options.Differs) SetRemoteTime(run, entry.name, entry.modified);
    Count(run, bytes);
    return true;
  }
  const std::string temporary = TemporaryName(entry.name, run.Random());
  if (!UploadFile(run, LocalDir, entry, temporary, &bytes)) {
    RemoveTemporary(run, temporary);
    return false;
  }
  // The file appears under its name with its final time.
  if (run.options.Differs) SetRemoteTime(run, temporary, entry.modified);
  if (!RenameOnto(run, temporary, entry.name)) {
    RemoveTemporary(run, temporary);
    Report(run, {NotSentMessage(LocalDir.Text() + entry.name)}, kExitTransfer, Walk::kStops);
    return false;
  }
  Count(run, bytes);
  return true;
}
