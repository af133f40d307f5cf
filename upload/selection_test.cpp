#include "upload/selection.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <fcntl.h>
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

// The listing takes the date of the last write in local time, and dates that a DOS date cannot
// hold count as no date.
TEST(Listing, DatesFilesInLocalTimeAroundMidnight) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "vardek-listing";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "sub.txt");
  const struct {
    const char* name;
    time_t written;  // seconds since 1970, UTC
    LocalDate date;  // in UTC+3
  } files[] = {
      {"a.txt", 1796590799, {2026, 12, 6}},  // 2026-12-06 20:59:59 UTC = 23:59:59 at UTC+3
      {"B.txt", 1796590800, {2026, 12, 7}},  // 2026-12-06 21:00:00 UTC = 00:00 at UTC+3
      {"c.txt", 157766400, {}},              // 1975
      {"d.TXT", 4354819200, {}},             // 2108
  };
  for (const auto& f : files) {
    const std::string path = (dir / f.name).string();
    std::fclose(std::fopen(path.c_str(), "w"));
    timespec times[2] = {{f.written, 0}, {f.written, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }
  symlink("sub.txt", (dir / "e.txt").c_str());
  symlink("missing", (dir / "f.txt").c_str());
  setenv("TZ", "UTC-3", 1);
  tzset();
  Listing listing(dir.string() + "/", "*.TXT");
  ListingEntry entry;
  for (const auto& f : files) {
    ASSERT_TRUE(listing.Next(&entry));
    EXPECT_EQ(entry.name, f.name);
    EXPECT_FALSE(entry.is_directory);
    EXPECT_EQ(entry.written.year * 10000 + entry.written.month * 100 + entry.written.day,
              f.date.year * 10000 + f.date.month * 100 + f.date.day) << f.name;
  }
  const char* rest[][2] = {{"e.txt", "dir"}, {"f.txt", "file"}, {"sub.txt", "dir"}};
  for (const auto& r : rest) {
    ASSERT_TRUE(listing.Next(&entry));
    EXPECT_EQ(entry.name, r[0]);
    EXPECT_EQ(entry.is_directory ? "dir" : "file", std::string(r[1])) << r[0];
  }
  EXPECT_FALSE(listing.Next(&entry));
  unsetenv("TZ");
  tzset();
  std::filesystem::remove_all(dir);
}

TEST(Listing, AnEmptyMaskOrAMissingDirectoryListsNothing) {
  ListingEntry entry;
  EXPECT_FALSE(Listing("/", "").Next(&entry));
  EXPECT_FALSE(Listing("/no/such/dir/", "*").Next(&entry));
}
