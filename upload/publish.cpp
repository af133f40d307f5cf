// Storing a file, and with "/a" replacing the server's copy only once the new one is whole.
#include "upload/publish.h"

#include <cstdio>

#include "upload/control.h"
#include "upload/remote_listing.h"
#include "upload/transfer.h"

namespace {

constexpr std::size_t kLongestName = 255;

// RNFR asks for 350 before RNTO. False with the reply that said no.
bool Rename(RunState& run, const std::string& from, const std::string& to, bool* from_taken,
            Reply* refusal) {
  *refusal = Exchange(run, "RNFR " + from);
  *from_taken = refusal->IsIntermediate();
  if (!*from_taken) return false;
  *refusal = Exchange(run, "RNTO " + to);
  return refusal->IsPositive();
}

// IIS and proftpd without AllowOverwrite refuse to rename onto a file: the old one is deleted
// and the rename sent again in one go with RNFR, so that the name stands without a file for one
// round trip.
bool RenameOnto(RunState& run, const std::string& temporary, const std::string& name,
                Reply* refusal) {
  bool from_taken = false;
  if (Rename(run, temporary, name, &from_taken, refusal)) return true;
  if (!from_taken || !refusal->complete) return false;
  *refusal = Exchange(run, "DELE " + name);
  if (!refusal->IsPositive()) return false;
  const std::vector<Reply> replies = ExchangeAll(run, {"RNFR " + temporary, "RNTO " + name});
  *refusal = replies[0].IsIntermediate() ? replies[1] : replies[0];
  return replies[0].IsIntermediate() && replies[1].IsPositive();
}

// A failed transfer leaves nothing behind, as far as the server still answers; a temporary file
// that a lost connection kept is deleted on the next one.
void RemoveTemporary(RunState& run, const std::string& temporary) {
  if (!Exchange(run, "DELE " + temporary).complete) run.LeftTemporary = temporary;
}

void Count(RunState& run, std::int64_t bytes) {
  ++run.shared.FilesSent;
  run.shared.BytesSent += bytes;
}

}  // namespace

std::string TemporaryName(const std::string& name, std::uint32_t random) {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".%06x.part", random & 0xFFFFFFu);
  std::size_t keep = std::min(name.size(), kLongestName - std::char_traits<char>::length(suffix));
  // A UTF-8 continuation byte would start the cut-off rest of a character.
  while (keep > 0 && keep < name.size() &&
         (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) {
    --keep;
  }
  return name.substr(0, keep) + suffix;
}

Failure PublishFile(RunState& run, const LocalPath& LocalDir, const ListingEntry& entry) {
  std::int64_t bytes = 0;
  const std::string stored =
      run.options.Atomic ? TemporaryName(entry.name, run.Random()) : entry.name;
  Failure failure = UploadFile(run, LocalDir, entry, stored, &bytes);
  if (failure.failed()) {
    if (run.options.Atomic) RemoveTemporary(run, stored);
    return failure;
  }
  // With "/a" the file appears under its name with its final time.
  if (run.options.Differs) SetRemoteTime(run, stored, entry.modified);
  Reply refusal;
  if (run.options.Atomic && !RenameOnto(run, stored, entry.name, &refusal)) {
    RemoveTemporary(run, stored);
    return Failure({NotSentMessage(LocalDir.Text() + entry.name)}, kExitTransfer, Walk::kStops,
                   KindOf(refusal));
  }
  Count(run, bytes);
  return Failure();
}
