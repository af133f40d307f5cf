#include "text/digest.h"

#include <gtest/gtest.h>

#include <string>

// Known answers, and a longer input fed in pieces that straddle the 64-byte blocks.
TEST(Digest, GivesTheKnownAnswersWhateverThePieces) {
  std::string long_input;
  for (int i = 0; i < 1000; ++i) long_input += static_cast<char>(i * 7 % 251);
  const struct {
    DigestKind kind;
    std::string input, empty, abc, long_hex;
  } rows[] = {
      {DigestKind::kCrc32, "123456789", "00000000", "cbf43926", "04da8651"},
      {DigestKind::kMd5, "abc", "d41d8cd98f00b204e9800998ecf8427e",
       "900150983cd24fb0d6963f7d28e17f72", "4b2f37fc49a134b17c7275fd04a1b7ac"},
      {DigestKind::kSha1, "abc", "da39a3ee5e6b4b0d3255bfef95601890afd80709",
       "a9993e364706816aba3e25717850c26c9cd0d89d", "33f233c97a803d84a0db9f3dbc05b63ff2045d92"},
      {DigestKind::kSha256, "abc",
       "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
       "59425e4412e296fc74736673ce067027f384203f59c0d2c3e6be7b13347b3ffc"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Digest(row.kind).Hex(), row.empty);
    Digest short_one(row.kind);
    short_one.Add(row.input.data(), row.input.size());
    EXPECT_EQ(short_one.Hex(), row.abc);
    Digest pieces(row.kind);
    std::size_t at = 0;
    for (std::size_t piece : {1, 63, 64, 65, 200}) {
      pieces.Add(long_input.data() + at, piece);
      at += piece;
    }
    pieces.Add(long_input.data() + at, long_input.size() - at);
    EXPECT_EQ(pieces.Hex(), row.long_hex);
  }
}
