#include "ftp/reply.h"

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

// A 227 reply goes to ParsePassivePort, a 229 one to ParseExtendedPassivePort.
TEST(ParsePassivePort, TakesThePortOfAPasvOrEpsvReply) {
  const struct {
    const char* reply;
    int port;  // -1: malformed
  } cases[] = {
      {"227 Entering Passive Mode (192,168,1,2,19,137)", 19 * 256 + 137},
      {"227 Entering Passive Mode (10,0,0,5,4,1).", 1025},
      {"227 =127,0,0,1,4,1", -1},
      {"227 (127,0,0,1,4,1", -1},
      {"227 )127,0,0,1,4,1(", -1},
      {"227 (1,2,3,4,5)", -1},
      {"227 (1,2,3,4,5),6)", -1},
      {"227 (10,0,0,5,4,1,9)", -1},
      {"227 (10,0,0,5,4,1 )", -1},
      {"227 (192, 168, 1, 2, 19, 137)", 19 * 256 + 137},
      {"227 (,,,,0,21)", 21},
      {"227 (h,o,s,t,255,255)", 65535},
      {"227 (1,2,3,4,256,0)", -1},
      {"227 (1,2,3,4,-1,0)", -1},
      {"227 (1,2,3,4,x,0)", -1},
      {"227 (1,2,3,4,,0)", -1},
      {"227 (1,2,3,4,0x10,$ff)", 16 * 256 + 255},
      {"227 (1,2,3,4,99999999999999999999,1)", -1},
      {"229 Entering Extended Passive Mode (|||6446|)", 6446},
      {"229 (!!!1!)", 1},
      {"229 (|||65535|).", 65535},
      {"229 listen socket already exists (|||2121|)", 2121},
      {"229 (|||65536|)", -1},
      {"229 (|||0|)", -1},
      {"229 (||6446|)", -1},
      {"229 (|||6446)", -1},
      {"229 (|||6446| )", -1},
      {"229 (|||64a6|)", -1},
      {"229 (|||+64|)", -1},
      {"229 (|||99999999999999999999|)", -1},
      {"229 (111234551)", -1},  // a digit cannot delimit
      {"229 ( 6446 )", -1},
      {"229 (|||", -1},
      {"229 |||6446|", -1},
  };
  for (const auto& c : cases) {
    int port = -1;
    const bool extended = std::string(c.reply).compare(0, 3, "229") == 0;
    bool parsed =
        extended ? ParseExtendedPassivePort(c.reply, &port) : ParsePassivePort(c.reply, &port);
    EXPECT_EQ(parsed ? port : -1, c.port) << c.reply;
  }
}

TEST(ParseInteger, FollowsThePortFieldSyntax) {
  const struct {
    const char* text;
    bool ok;
    std::int64_t value;
  } cases[] = {
      {"19", true, 19},          {"  19", true, 19},         {"+7", true, 7},
      {"-7", true, -7},          {"0x1F", true, 31},         {"X1f", true, 31},
      {"$FF", true, 255},        {"0", true, 0},             {"019", true, 19},
      {"2147483647", true, 2147483647}, {"2147483648", false, 0},
      {"-2147483648", true, -2147483648LL}, {"0xFFFFFFFF", true, -1},
      {"0x100000000", false, 0}, {"", false, 0},             {"  ", false, 0},
      {"19 ", false, 0},         {"1,9", false, 0},          {"\t19", false, 0},
      {"0x", false, 0},          {"$", false, 0},            {"-0x5", false, 0},
      {"- 5", false, 0},         {"1e3", false, 0},          {"0x1G", false, 0},
  };
  for (const auto& c : cases) {
    std::int64_t value = 0;
    EXPECT_EQ(ParseInteger(c.text, &value), c.ok) << c.text;
    EXPECT_EQ(c.ok ? value : 0, c.value) << c.text;
  }
}

TEST(DirectoryOfPwdReply, TakesTheQuotedNameWithDoubledQuotes) {
  const struct {
    const char* line;
    const char* directory;  // nullptr: none
  } cases[] = {
      {"257 \"/home/u\" is the current directory", "/home/u"},
      {"257 \"/\"", "/"},
      {"257 \"/a \"\"b\"\"\" here", "/a \"b\""},
      {"257 \"\"\"\"", "\""},
      {"257 MKD \"/x\" created \"/y\"", "/x"},
      {"257 \"/no/end", nullptr},
      {"257 \"\" empty", nullptr},
      {"257 /home/u", nullptr},
  };
  for (const auto& c : cases) {
    std::string directory = "unchanged";
    bool found = DirectoryOfPwdReply(c.line, &directory);
    EXPECT_EQ(found, c.directory != nullptr) << c.line;
    EXPECT_EQ(directory, c.directory ? c.directory : "unchanged") << c.line;
  }
}

TEST(ParseFeatures, ReadsTheFeaturesARunUses) {
  Reply feat;
  feat.complete = true;
  feat.lines = {"211-Features:", " EPRT", " MDTM", " mfmt", " MLST type*;size*;modify*;",
                " UTF8", "211 End"};
  ServerFeatures features = ParseFeatures(feat);
  EXPECT_TRUE(features.mlsd && features.mfmt && features.mdtm && features.utf8);
  feat.lines = {"211-Features:", " EPSV", " MDTM", " SIZE", "MFMT in the text", "211 End"};
  features = ParseFeatures(feat);  // vsftpd: no MLST, no MFMT
  EXPECT_TRUE(features.mdtm && !features.mlsd && !features.mfmt && !features.utf8);
  feat.lines = {"500 FEAT not understood"};
  features = ParseFeatures(feat);
  EXPECT_FALSE(features.mdtm || features.mlsd || features.mfmt || features.utf8);
  EXPECT_EQ(OfferedDigest(features), DigestKind::kNone);
  // proftpd's mod_digest; a HASH line with MD5 alone, and XCRC beside it.
  feat.lines = {"211-Features:", " HASH CRC32;MD5;SHA-1*;SHA-256;SHA-512;", " XCRC", " XSHA1",
                "211 End"};
  EXPECT_EQ(OfferedDigest(ParseFeatures(feat)), DigestKind::kSha256);
  feat.lines = {"211-Features:", " hash md5*", " XCRC", " XSHA", "211 End"};
  features = ParseFeatures(feat);
  EXPECT_EQ(OfferedDigest(features), DigestKind::kMd5);
  EXPECT_EQ(features.x_digests, 1u << static_cast<int>(DigestKind::kCrc32));
}

// HASH names the digest and its range; X commands answer with the digest alone.
TEST(ParseDigestReply, TakesTheDigestOfTheLastLine) {
  const std::string sha256 = "a948904f2f0f479b8f8197694b30184b0d2ed1c1cd2a1ec0fb85d299a192a447";
  const struct {
    std::vector<std::string> lines;
    DigestKind kind;
    bool hash_form;
    const char* hex;  // nullptr: not read
  } cases[] = {
      {{"213-Computing SHA-256 digest", "213 SHA-256 0-12 " + sha256 + " a b.txt"},
       DigestKind::kSha256, true, sha256.c_str()},
      {{"213 SHA-1 0-12 " + sha256 + " a.txt"}, DigestKind::kSha256, true, nullptr},
      {{"250-Computing CRC32 digest", "250 AF083B2D"}, DigestKind::kCrc32, false, "af083b2d"},
      {{"250 83B2D"}, DigestKind::kCrc32, false, "00083b2d"},
      {{"213 6f5902ac237024bdd0c176cb93063dcg"}, DigestKind::kMd5, false, nullptr},
      {{"550 a.txt: No such file or directory"}, DigestKind::kSha1, false, nullptr},
  };
  for (const auto& c : cases) {
    Reply reply;
    reply.complete = true;
    reply.lines = c.lines;
    reply.last_line = c.lines.back();
    std::string hex = "unchanged";
    EXPECT_EQ(ParseDigestReply(reply, c.kind, c.hash_form, &hex), c.hex != nullptr)
        << c.lines.back();
    EXPECT_EQ(hex, c.hex ? c.hex : "unchanged") << c.lines.back();
  }
}

// An MLSD line gives a plain file's size and time; a LIST line its size alone; both name a
// directory as one.
TEST(ParseListingLine, TakesPlainFilesWithTheirSizeAndTime) {
  const struct {
    bool (*parse)(const std::string& line, std::string* name, RemoteFile* file);
    const char* line;
    const char* name;  // nullptr: neither a plain file nor a directory
    std::int64_t size, modified;
    bool directory = false;
  } cases[] = {
      {ParseMlsdLine, "type=file;size=4096;modify=20261208043500; index.html", "index.html", 4096,
       1796704500},
      {ParseMlsdLine, "Type=File;Size=1;Modify=20261208043500.123;Perm=adfrw; a b;c.txt",
       "a b;c.txt", 1, 1796704500},
      {ParseMlsdLine, "modify=19700101000000;size=0;type=file;unique=803U1; x", "x", 0, 0},
      {ParseMlsdLine, "type=file; no facts of size", "no facts of size", -1, -1},
      {ParseMlsdLine, "type=file;size=7;modify=2026; bad time", "bad time", 7, -1},
      {ParseMlsdLine, "type=file;size=12x; odd size", "odd size", -1, -1},
      {ParseMlsdLine, "type=dir;modify=20261208043500; sub", "sub", -1, 1796704500, true},
      {ParseMlsdLine, "Type=Dir;Modify=20261208043500; .", nullptr, 0, 0},
      {ParseMlsdLine, "type=pdir;modify=20261208043500; ..", nullptr, 0, 0},
      {ParseMlsdLine, "type=cdir;modify=20261208043500; .", nullptr, 0, 0},
      {ParseMlsdLine, "Type=cdir; /home/u", nullptr, 0, 0},
      {ParseMlsdLine, "type=OS.unix=slink:/x;size=3; link", nullptr, 0, 0},
      {ParseMlsdLine, "size=3; no type", nullptr, 0, 0},
      {ParseMlsdLine, "type=file;size=3;", nullptr, 0, 0},
      {ParseMlsdLine, "", nullptr, 0, 0},
      {ParseListLine, "-rw-r--r--    1 1000     1000         4096 Dec 08 04:35 index.html",
       "index.html", 4096, -1},
      {ParseListLine, "-rw-r--r--    1 ftp      ftp             0 Jan  1  2025 with  two blanks",
       "with  two blanks", 0, -1},
      {ParseListLine, "-rw-r--r--   1 owner 12 Dec  8 04:35  leading blank", " leading blank", 12, -1},
      {ParseListLine, "-rw-r--r--    1 1000       1000             7 Dec  8 04:35 Dec 8 04:35 x",
       "Dec 8 04:35 x", 7, -1},
      {ParseListLine, "-rw-r--r-- 1 u g 5 dec 31 23:59 lower.txt", "lower.txt", 5, -1},
      {ParseListLine, "drwxr-xr-x    2 1000     1000         4096 Dec 08 04:35 sub", "sub", -1, -1,
       true},
      {ParseListLine, "drwxr-xr-x    2 1000     1000         4096 Dec 08 04:35 ..", nullptr, 0, -1},
      {ParseListLine, "lrwxrwxrwx    1 1000     1000            6 Dec 08 04:35 l -> target", nullptr,
       0, -1},
      {ParseListLine, "total 12", nullptr, 0, -1},
      {ParseListLine, "-rw-r--r--    1 1000     1000         4096 Dec 08 04:35", nullptr, 0, -1},
      {ParseListLine, "-rw-r--r--    1 1000     1000         4096 Dec 08 04:35 ", nullptr, 0, -1},
      {ParseListLine, "-rw-r--r--    1 1000     1000            3 Dec 08 04:35   ", "  ", 3, -1},
      {ParseListLine, "-rw-r--r--    1 1000     1000         big Dec 08 04:35 x", nullptr, 0, -1},
  };
  for (const auto& c : cases) {
    std::string name;
    RemoteFile file;
    ASSERT_EQ(c.parse(c.line, &name, &file), c.name != nullptr) << c.line;
    if (c.name == nullptr) continue;
    EXPECT_EQ(name, c.name) << c.line;
    EXPECT_EQ(file.size, c.size) << c.line;
    EXPECT_EQ(file.modified, c.modified) << c.line;
    EXPECT_EQ(file.directory, c.directory) << c.line;
  }
}

TEST(ParseTimeVal, ReadsUtcTimesToTheSecond) {
  const struct {
    const char* text;
    std::int64_t seconds;  // -1: refused
  } cases[] = {
      {"19700101000000", 0},          {"20261208043500", 1796704500},
      {"20000229235959", 951868799},  {"20261208043500.999", 1796704500},
      {"21060207062815", 4294967295}, {"1970010100000", -1},
      {"20261308043500", -1},         {"20261208243500", -1},
      {"20261208043500.", -1},        {"2026120804350x", -1},
      {"20261208043500Z", -1},        {"", -1},
      {"19691231235959", -1},         {"00261208043500", -1},
  };
  for (const auto& c : cases) {
    std::int64_t seconds = -1;
    EXPECT_EQ(ParseTimeVal(c.text, &seconds), c.seconds >= 0) << c.text;
    if (c.seconds >= 0) {
      EXPECT_EQ(seconds, c.seconds) << c.text;
      EXPECT_EQ(FormatTimeVal(seconds), std::string(c.text).substr(0, 14)) << c.text;
    }
  }
  Reply mdtm;
  mdtm.complete = true;
  mdtm.lines = {"213 20261208043500"};
  std::int64_t seconds = 0;
  EXPECT_TRUE(ParseMdtmReply(mdtm, &seconds));
  EXPECT_EQ(seconds, 1796704500);
  mdtm.lines = {"550 No such file"};
  EXPECT_FALSE(ParseMdtmReply(mdtm, &seconds));
}

// pure-ftpd stops a listing at 10,000 entries and says so in its completion reply.
TEST(SaysTruncated, FindsTheWordInAnyLineOfTheReply) {
  Reply reply;
  reply.complete = true;
  reply.lines = {"226-Options: -a -l", "226 Output truncated to 10000 matches"};
  EXPECT_TRUE(SaysTruncated(reply));
  reply.lines = {"226-Options: -a -l", "226 3 matches total"};
  EXPECT_FALSE(SaysTruncated(reply));
  reply.lines = {"226 Transfer complete"};
  EXPECT_FALSE(SaysTruncated(reply));
}
