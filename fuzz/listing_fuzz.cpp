// Fuzzes the parsers of what a server says for "/d": MLSD and LIST lines, times and FEAT.
#include <cstdlib>
#include <string>

#include "ftp/reply.h"

#define CHECK(ok) ((ok) ? void() : std::abort())

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  std::string name;
  RemoteFile file;
  // A name is the end of its line, never empty; a size or time, when given, is no negative.
  for (bool mlsd : {true, false}) {
    if (mlsd ? ParseMlsdLine(line, &name, &file) : ParseListLine(line, &name, &file)) {
      CHECK(!name.empty() && line.size() > name.size() &&
            line.compare(line.size() - name.size(), name.size(), name) == 0);
      CHECK(file.size >= -1 && file.modified >= -1);
    }
  }
  // A time that reads back formats to the same fourteen digits.
  std::int64_t seconds = 0;
  if (ParseTimeVal(line, &seconds)) {
    const std::string again = FormatTimeVal(seconds);
    std::int64_t same = -1;
    CHECK(again.size() == 14 && ParseTimeVal(again, &same) && same == seconds);
  }
  Reply reply;
  reply.complete = true;
  reply.lines = {"211-Features:", line, "211 End"};
  ParseFeatures(reply);
  return 0;
}
