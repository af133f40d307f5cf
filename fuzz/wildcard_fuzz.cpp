// Fuzzes MatchesMask against a plain dynamic-programming matcher; the input is name NUL mask.
#include <cstdlib>
#include <string>
#include <vector>

#include "local/wildcard.h"

#define CHECK(ok) ((ok) ? void() : std::abort())

static char Fold(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Whether name[i..] matches mask[j..], for every i and j, from the ends backwards.
static bool Reference(const std::string& name, const std::string& mask) {
  if (mask == "*.*") return true;  // every name, as on Windows
  std::vector<std::vector<bool>> tail(name.size() + 2, std::vector<bool>(mask.size() + 1));
  tail[name.size()][mask.size()] = true;
  for (std::size_t i = name.size() + 1; i-- > 0;) {
    for (std::size_t j = mask.size(); j-- > 0;) {
      const bool one = i < name.size() && (mask[j] == '?' || Fold(mask[j]) == Fold(name[i]));
      tail[i][j] = mask[j] == '*' ? tail[i][j + 1] || (i < name.size() && tail[i + 1][j])
                                  : one && tail[i + 1][j + 1];
    }
  }
  return tail[0][0];
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = input.find('\0');
  const std::string name = input.substr(0, cut);
  const std::string mask = cut == std::string::npos ? name : input.substr(cut + 1);
  const bool matches = MatchesMask(name, mask);
  CHECK(matches == Reference(name, mask));
  // Without wildcards a mask matches only itself, in any ASCII case; "*" matches every name.
  if (mask.find_first_of("*?") == std::string::npos) {
    CHECK(matches == (FoldCase(name) == FoldCase(mask)));
  }
  CHECK(MatchesMask(name, "*") && MatchesMask(name, name) && MatchesMask(FoldCase(name), name));
  const int order = CompareFoldedCase(name, mask);
  CHECK((order < 0) == (FoldCase(name) < FoldCase(mask)) &&
        (order == 0) == (FoldCase(name) == FoldCase(mask)));
  return 0;
}
