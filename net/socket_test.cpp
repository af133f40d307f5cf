#include "net/socket.h"

#include <gtest/gtest.h>

#include <chrono>

#include "tests/loopback_peer.h"

using Strings = std::vector<std::string>;
using namespace std::string_literals;

// Every line that ReadLine gives until the peer's close, and the empty line after it.
static Strings ReadAllLines(const std::string& bytes) {
  LoopbackPeer peer(bytes);
  TSocket socket;
  EXPECT_TRUE(socket.Connect("127.0.0.1", peer.port()));
  Strings lines;
  for (std::string line = socket.ReadLine(); !line.empty(); line = socket.ReadLine()) {
    lines.push_back(line);
  }
  lines.push_back(socket.ReadLine());
  return lines;
}

TEST(TSocket, ReadLineEndsAtLineFeedOrCarriageReturn) {
  const std::string x4096(4096, 'x');
  const struct {
    std::string bytes;
    Strings lines;
  } cases[] = {
      {"220 Ready\r\n331 Password\r\n", {"220 Ready", "331 Password", ""}},
      {"230 a\tb\x1b[0m\0c\r\n"s, {"230 a\tb\x1b[0m\0c"s, ""}},
      {"\r\n\n\t\r\n  lead\r\n   \r\n"s, {"\t", "  lead", "   ", ""}},
      {"old\rmac\r\rend\n", {"old", "mac", "end", ""}},
      {"\xC0\xFF\x7F ok\r\n", {"\xC0\xFF\x7F ok", ""}},
      {"no end of line", {"no end of line", ""}},
      {x4096 + "\r\nnext\r\n", {x4096, "next", ""}},
      {x4096 + "dropped\r\nnext\r\n", {x4096, "next", ""}},
      {"", {""}},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadAllLines(c.bytes), c.lines) << c.bytes.substr(0, 40);
}

// A line whose end has not come is no line: a reply cut at "22" would pass for a positive one.
TEST(TSocket, ReadLineEndsAfterTheTimeOutOfASilentPeer) {
  LoopbackPeer peer("partial", false);
  TSocket socket;
  socket.ReadTimeout = 1;
  ASSERT_TRUE(socket.Connect("127.0.0.1", peer.port()));
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(socket.ReadLine(), "");
  EXPECT_EQ(socket.ReadLine(), "");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

TEST(TSocket, SendsWholeAndRefusesInetAddrForms) {
  std::string data;
  for (int i = 0; i < 2 * 1024 + 452; ++i) data.push_back(static_cast<char>(i * 7));
  LoopbackPeer peer("");
  TSocket socket;
  EXPECT_FALSE(socket.SendText("x"));                  // not connected
  EXPECT_FALSE(socket.Connect("127.1", peer.port()));  // inet_addr's a.b form is no address
  ASSERT_TRUE(socket.Connect("127.0.0.1", peer.port()));
  EXPECT_FALSE(socket.SendText(""));
  EXPECT_TRUE(socket.SendText(data));
  socket.Close();
  EXPECT_EQ(peer.Received(), data);
  EXPECT_EQ(socket.ReadLine(), "");  // closed: no wait
}
