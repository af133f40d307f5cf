// Fuzzes the commands that a command line puts on the control connection: none may break a line.
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "ftp/remote_path.h"
#include "net/address.h"

#define CHECK(ok) ((ok) ? void() : std::abort())

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  std::vector<std::string> parameters =
      SplitCommandLine(std::string(reinterpret_cast<const char*>(data), size));
  if (!parameters.empty()) parameters.erase(parameters.begin());  // the program name
  Options line;
  if (ParseCommandLine(parameters, &line) != CommandLineFault::kNone) return 0;
  std::vector<std::string> commands = {"USER " + line.UserLogin, "PASS " + line.UserPassword,
                                       "CWD " + line.RemotePath};
  const std::vector<std::string> prefixes = RemotePathPrefixes(line.RemotePath);
  for (std::size_t i = 0; i < prefixes.size(); ++i) {
    // Each path to create is a longer beginning of the remote path than the one before.
    CHECK(line.RemotePath.compare(0, prefixes[i].size(), prefixes[i]) == 0 &&
          (i == 0 || prefixes[i].size() > prefixes[i - 1].size()));
    commands.push_back("MKD " + prefixes[i]);
    commands.push_back("CWD " + prefixes[i]);
  }
  for (const std::string& command : commands) {
    CHECK(command.find_first_of("\r\n") == std::string::npos);
  }
  std::string host;
  int port = 21;
  SplitHostPort(line.ServerHost, &host, &port);
  // The host is the text as given, or what stands inside its brackets.
  CHECK(port >= 1 && port <= 65535 && line.ServerHost.find(host) <= 1);
  return 0;
}
