// The "/d" comparison.
#include "upload/comparison.h"

bool IsUnchanged(const ListingEntry& local, const RemoteFile* remote, TimeRule rule) {
  if (remote == nullptr || remote->directory || remote->size < 0 || remote->size != local.size ||
      remote->modified < 0) {
    return false;
  }
  return rule == TimeRule::kExact ? remote->modified == local.modified
                                  : remote->modified >= local.modified;
}

bool NeedsRemoteTime(const ListingEntry& local, const RemoteFile* remote) {
  return remote != nullptr && !remote->directory && remote->size == local.size &&
         remote->modified < 0;
}
