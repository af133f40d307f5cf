#include "upload/comparison.h"

#include <gtest/gtest.h>

// What fools the peers: a file edited to the same size, one restored with an older time, one
// edited within the same minute; and a server that cannot take a file's time.
TEST(IsUnchanged, ComparesSizeAndTimeToTheSecond) {
  const std::int64_t t = 1796704500;
  const struct {
    std::int64_t size, modified;  // the server's; size -2: no such file
    TimeRule rule;
    bool unchanged;
  } cases[] = {
      {100, t, TimeRule::kExact, true},
      {101, t, TimeRule::kExact, false},       // another size
      {100, t + 1, TimeRule::kExact, false},   // set a second apart: edited since
      {100, t - 3600, TimeRule::kExact, false},
      {100, t + 3600, TimeRule::kExact, false},  // restored from a backup: older than the server's
      {100, -1, TimeRule::kExact, false},      // time unknown: sent, never skipped
      {-1, t, TimeRule::kExact, false},        // size unknown
      {-2, 0, TimeRule::kExact, false},        // no such file
      {100, t, TimeRule::kNotEarlier, true},
      {100, t + 3600, TimeRule::kNotEarlier, true},  // stored after the last write
      {100, t - 1, TimeRule::kNotEarlier, false},    // written since it was stored
      {99, t + 3600, TimeRule::kNotEarlier, false},
  };
  ListingEntry local;
  local.size = 100;
  local.modified = t;
  for (const auto& c : cases) {
    RemoteFile remote;
    remote.size = c.size;
    remote.modified = c.modified;
    EXPECT_EQ(IsUnchanged(local, c.size == -2 ? nullptr : &remote, c.rule), c.unchanged)
        << c.size << " " << c.modified - t;
  }
  RemoteFile listed;  // from LIST: a size, no time to the second
  listed.size = 100;
  EXPECT_TRUE(NeedsRemoteTime(local, &listed));
  listed.size = 99;
  EXPECT_FALSE(NeedsRemoteTime(local, &listed));
  EXPECT_FALSE(NeedsRemoteTime(local, nullptr));
  RemoteFile directory;  // a directory of the file's name, of its size and time
  directory.directory = true;
  directory.size = 100;
  directory.modified = t;
  EXPECT_FALSE(IsUnchanged(local, &directory, TimeRule::kExact));
  directory.modified = -1;
  EXPECT_FALSE(NeedsRemoteTime(local, &directory));
}
