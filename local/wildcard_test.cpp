#include "local/wildcard.h"

#include <gtest/gtest.h>

TEST(MatchesMask, MatchesLikeWindowsListings) {
  const struct {
    const char* name;
    const char* mask;
    bool matches;
  } cases[] = {
      {"index.html", "*.html", true},     {"INDEX.HTML", "*.html", true},
      {"index.htm", "*.html", false},     {"index.html.bak", "*.html", false},
      {"old.html", "*.html", true},       {".html", "*.html", true},
      {"pages", "*.html", false},         {"a.b.html", "*.html", true},
      {"Makefile", "*.*", true},          {"noext", "*", true},
      {"", "*", true},                    {"", "x", false},
      {"abc", "a?c", true},               {"ac", "a?c", false},
      {"index.html", "index.html", true}, {"Index.Html", "INDEX.html", true},
      {"\xC0.txt", "\xE0.txt", false},    {"\xC0.txt", "\xC0.TXT", true},
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*a*a*c", false},
      {"report-2026.csv", "report-????.csv", true},
      {"x", "", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesMask(c.name, c.mask), c.matches) << c.name << " / " << c.mask;
  }
}
