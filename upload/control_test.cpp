#include "upload/control.h"

#include <gtest/gtest.h>

#include "tests/loopback_peer.h"

TEST(ReadReply, ReadsMultiLineRepliesWhole) {
  const struct {
    std::string bytes;
    std::vector<std::string> first_lines;  // of successive replies; "!" marks an incomplete one
  } cases[] = {
      {"220 Ready\r\n331 Password\r\n", {"220 Ready", "331 Password", "!"}},
      {"230-Welcome\r\n230-\r\n230 Logged in\r\n250 Ok\r\n", {"230-Welcome", "250 Ok", "!"}},
      {"331-a\r\n 331 indented\r\n331-b\r\n3310 x\r\n331 end\r\n", {"331-a", "!"}},
      {"230-Welcome\r\n", {"!"}},
      {"230-a\r\n230\r\n230 b\r\n200 x\r\n", {"230-a", "200 x", "!"}},
      {"230 a\tb\r\n", {"230 a\tb", "!"}},
      {"12-x\r\n", {"12-x", "!"}},
  };
  for (const auto& c : cases) {
    LoopbackPeer peer(c.bytes);
    TSocket socket;
    ASSERT_TRUE(socket.Connect("127.0.0.1", peer.port()));
    std::vector<std::string> got;
    for (;;) {
      Reply reply = ReadReply(socket);
      got.push_back(reply.complete ? reply.first_line() : "!");
      if (!reply.complete) break;
    }
    EXPECT_EQ(got, c.first_lines) << c.bytes;
  }
}
