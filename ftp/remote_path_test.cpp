#include "ftp/remote_path.h"

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

TEST(JoinRemotePath, JoinsWithExactlyOneSlash) {
  EXPECT_EQ(JoinRemotePath("/", "sub"), "/sub");
  EXPECT_EQ(JoinRemotePath("/up/", "sub"), "/up/sub");
  EXPECT_EQ(JoinRemotePath("/up", "sub"), "/up/sub");
  EXPECT_EQ(JoinRemotePath("www", "sub"), "www/sub");
  EXPECT_EQ(JoinRemotePath("/a//", "b"), "/a//b");  // a "//" the user typed stays
}
