// Windows-style wildcard matching of file names, for platforms whose listings do not match.
#ifndef VARDEK_LOCAL_WILDCARD_H_
#define VARDEK_LOCAL_WILDCARD_H_

#include <string>

// "*" matches any run of characters, "?" any one; ASCII letters match without regard to case;
// "*.*" matches every name, as on Windows.
bool MatchesMask(const std::string& name, const std::string& mask);

// The name with ASCII letters in lower case.
std::string FoldCase(std::string name);
// Compares as FoldCase(a) with FoldCase(b) would, byte by byte, without making either: < 0, 0
// or > 0.
int CompareFoldedCase(const std::string& a, const std::string& b);

#endif  // VARDEK_LOCAL_WILDCARD_H_
