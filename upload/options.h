// What the command line and the environment ask of a run. The driver fills it; the run only
// reads it.
#ifndef VARDEK_UPLOAD_OPTIONS_H_
#define VARDEK_UPLOAD_OPTIONS_H_

#include <string>
#include <vector>

#include "net/address.h"

struct Options {
  std::string LocalMask;
  std::string ServerHost;  // as given: a host, optionally with a port; messages show it so
  Host ServerAddress;      // what ServerHost names, and its port
  int ServerPort = 21;
  std::string UserLogin;
  std::string UserPassword;
  std::string RemotePath;
  bool TodayOnly = false;   // "/t"
  bool Recurse = false;     // "/s"
  bool CreateDirs = false;  // "/c"
  // "/d": only files that the server does not hold as they are, by size and time.
  bool Differs = false;
  // "/a": each file stored under a temporary name and renamed onto its own once whole.
  bool Atomic = false;
  // "/r:N": how many times a failure of a lost connection or a 4xx reply is tried again.
  int Retries = 0;
  // "/p:N": how many control connections share the files.
  int Parallel = 1;
  // "/m[:N]": what matches the mask on the server and is gone here is deleted (implies "/d"),
  // at most N files and directories in a run (0: no cap).
  bool Mirror = false;
  int MostDeletions = 0;
  // "/n": the run says what it would send, create and delete, and changes nothing.
  bool DryRun = false;
  // "/v": each file checked on the server once it arrived: its size, and its digest where the
  // server computes one.
  bool Verify = false;
  // "/u": names and paths go to the server in UTF-8 (RFC 2640), whatever the platform's code page.
  bool Utf8Names = false;
  // "/e": every connection under TLS, checked against TlsPin (a SHA-256 digest) when given;
  // "/e:i": TLS from the connection's first byte (implicit FTPS, port 990 by default).
  bool Encrypt = false;
  bool ImplicitTls = false;
  // "/x:MASK": files and directories whose names match any of these are left alone.
  std::vector<std::string> Excludes;
  // "/l:FILE": every message also appended to FILE with its time; the job's lock.
  std::string LogFile;
  // "/b:N": at most N KiB per second over every data connection together (0: no cap).
  int RateKiB = 0;
  std::string TlsPin;
  int Timeout = 900;  // seconds: every connect, every wait for a reply or a writable socket
  // A progress line for large files, where standard output is a terminal (VARDEK_PROGRESS=0: no).
  bool ShowProgress = true;

  // "/d" and "/p" save the round trips that a plain run spends (TYPE I before each file, MKD
  // of every parent), whose command transcripts stay as they always were.
  bool SavesRoundTrips() const { return Differs || Parallel > 1; }
};

#endif  // VARDEK_UPLOAD_OPTIONS_H_
