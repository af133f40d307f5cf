#include "upload/walk.h"

#include <gtest/gtest.h>

using Strings = std::vector<std::string>;

TEST(RemotePathPrefixes, BuildsThePathOneComponentAtATime) {
  const struct {
    const char* path;
    Strings prefixes;
  } cases[] = {
      {"/pub/html/site", {"/pub", "/pub/html", "/pub/html/site"}},
      {"pub/html", {"pub", "pub/html"}},
      {"/a/b/", {"/a", "/a/b"}},
      {"a", {"a"}},
      {"a/", {"a"}},
      {"/a", {"/a"}},
      {"/", {}},
      {"/pub//sub", {}},
      {"//sub", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(RemotePathPrefixes(c.path), c.prefixes) << c.path;
}
