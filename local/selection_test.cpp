#include "local/selection.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

TEST(SplitLocalMask, SplitsAtTheLastSeparatorOfThePlatform) {
  const struct {
    const char* mask;
    const char* separators;
    const char* dir;
    const char* file_mask;
  } cases[] = {
      {"c:\\work\\*.html", "/:\\", "c:\\work\\", "*.html"},
      {"d:*.txt", "/:\\", "d:", "*.txt"},
      {"*.txt", "/:\\", "", "*.txt"},
      {"c:\\work\\", "/:\\", "c:\\work\\", ""},
      {"c:\\work", "/:\\", "c:\\", "work"},
      {"c:/work/a\\*.x", "/:\\", "c:/work/a\\", "*.x"},
      {"/home/w/*.html", "/", "/home/w/", "*.html"},
      {"dir\\with:colon/a\\b*.txt", "/", "dir\\with:colon/", "a\\b*.txt"},
      {"c:\\work\\*.html", "/", "", "c:\\work\\*.html"},
      {"/", "/", "/", ""},
  };
  for (const auto& c : cases) {
    SplitMask split = SplitLocalMask(c.mask, c.separators);
    EXPECT_EQ(split.LocalDir, c.dir) << c.mask;
    EXPECT_EQ(split.FileMask, c.file_mask) << c.mask;
  }
}

TEST(IsTodayFile, ComparesCalendarDatesOnly) {
  const LocalDate today{2026, 12, 7};
  auto written = [](LocalDate date) {
    ListingEntry entry;
    entry.written = date;
    return entry;
  };
  EXPECT_TRUE(IsTodayFile(written({2026, 12, 7}), today));
  EXPECT_FALSE(IsTodayFile(written({2026, 12, 6}), today));
  EXPECT_FALSE(IsTodayFile(written({2025, 12, 7}), today));
  EXPECT_FALSE(IsTodayFile(written({2026, 11, 7}), today));
  EXPECT_FALSE(IsTodayFile(written({}), today));  // no valid date
  EXPECT_FALSE(IsTodayFile(written({}), LocalDate{}));
}

// The listing dates the last write in local time (no date where a DOS date has none), admits
// every entry type and goes in name order without regard to case.
TEST(Listing, DatesFilesInLocalTimeAroundMidnight) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "vardek-listing";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "sub.txt");
  symlink("sub.txt", (dir / "e.txt").c_str());
  symlink("missing", (dir / "f.txt").c_str());
  const struct {
    const char* name;
    time_t written;  // UTC; 0: made above
    int date;        // at UTC+3; 0: no date
    bool is_directory;
  } entries[] = {
      {"a.txt", 1796590799, 20261206, false},  // 23:59:59 at UTC+3
      {"B.txt", 1796590800, 20261207, false},  // midnight at UTC+3
      {"c.txt", 157766400, 0, false},          // 1975
      {"d.TXT", 4354819200, 0, false},         // 2108
      {"e.txt", 0, -1, true},                  // a link to a directory
      {"f.txt", 0, -1, false},                 // a broken link
      {"sub.txt", 0, -1, true},
  };
  for (const auto& e : entries) {
    if (e.written == 0) continue;
    const std::string path = (dir / e.name).string();
    std::fclose(std::fopen(path.c_str(), "w"));
    timespec times[2] = {{e.written, 0}, {e.written, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }
  setenv("TZ", "UTC-3", 1);
  tzset();
  Listing listing(LocalPath{dir.string() + "/", ""}, "*.TXT");
  ListingEntry entry;
  for (const auto& e : entries) {
    ASSERT_TRUE(listing.Next(&entry));
    EXPECT_EQ(entry.name, e.name);
    EXPECT_EQ(entry.is_directory, e.is_directory) << e.name;
    const LocalDate& d = entry.written;
    EXPECT_EQ(e.date < 0 ? -1 : d.year * 10000 + d.month * 100 + d.day, e.date) << e.name;
  }
  EXPECT_FALSE(listing.Next(&entry));
  unsetenv("TZ");
  tzset();
  std::filesystem::remove_all(dir);
}

TEST(Listing, AnEmptyMaskListsNothingAMissingDirectoryFails) {
  ListingEntry entry;
  Listing empty_mask(LocalPath{"/", ""}, "");
  EXPECT_FALSE(empty_mask.Next(&entry));
  EXPECT_FALSE(empty_mask.Failed());
  Listing missing(LocalPath{"/no/such/", "dir/"}, "*");
  EXPECT_FALSE(missing.Next(&entry));
  EXPECT_TRUE(missing.Failed());
  Listing not_a_directory(LocalPath{"/etc/hostname/", ""}, "*");
  EXPECT_FALSE(not_a_directory.Next(&entry));
  EXPECT_TRUE(not_a_directory.Failed());
}

// The pre-scan keeps each directory's answer by its path, for the one mask of its run.
TEST(TreeScan, KeepsAnswersApartByRootAndMask) {
  const std::filesystem::path top = std::filesystem::temp_directory_path() / "vardek-scan";
  std::filesystem::remove_all(top);
  for (const char* file : {"one/s.x/a.x", "two/s.x/b.y"}) {
    std::filesystem::create_directories((top / file).parent_path());
    std::fclose(std::fopen((top / file).c_str(), "w"));
  }
  SelectionRules rules;
  rules.Recurse = true;
  auto eligible = [&](TreeScan& scan, const char* root, const char* mask) {
    const LocalPath dir{(top / root).string() + "/", ""};
    std::vector<ListingEntry> entries;
    EXPECT_TRUE(ReadDirectory(rules, dir, mask, &entries));
    DirectoryChain chain;
    chain.Enter(dir);
    return scan.ContentOf(dir, entries, chain).eligible;
  };
  TreeScan x(rules, "*.x");
  EXPECT_TRUE(eligible(x, "one", "*.x"));
  EXPECT_FALSE(eligible(x, "two", "*.x"));  // its s.x holds no *.x
  TreeScan any(rules, "*");
  EXPECT_TRUE(eligible(any, "two", "*"));
  std::filesystem::remove_all(top);
}
