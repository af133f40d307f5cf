// What the server holds in the current remote directory: its listing, and its files' times.
#ifndef VARDEK_FTP_REMOTE_LISTING_H_
#define VARDEK_FTP_REMOTE_LISTING_H_

#include <string>
#include <unordered_map>
#include <vector>

#include "ftp/control.h"
#include "ftp/transfer.h"

// The plain files of a remote directory by name, in the program's text.
using RemoteDirectory = std::unordered_map<std::string, RemoteFile>;

// One MLSD of the directory (empty: the current one), or LIST where the server has no MLSD; the
// entries it gave, whole or not.
Received ListRemoteDirectory(FtpConnection& ftp, const std::string& path, RemoteDirectory* files);

// The listing of the directory at `path` once CWD has entered it, as ListRemoteDirectory gives
// it: CWD goes in one go with the listing's commands where the server is known to answer commands
// sent so, a round trip saved. CWD's reply in `entered`; a directory not entered lists nothing.
// Where the listing is LIST, which tells no time to the second, MDTM of the `timed` names goes
// in the same go: their replies in `times`, in order, or none where they did not go.
Received EnterAndList(FtpConnection& ftp, const std::string& path,
                      const std::vector<std::string>& timed, RemoteDirectory* files, Reply* entered,
                      std::vector<Reply>* times);

// One of several directories listed in one go: where, the names whose MDTM goes along, and
// what came back.
struct DirectoryListing {
  std::string path;
  std::vector<std::string> timed;
  Reply entered;  // CWD's reply; nothing listed counts where it did not enter
  Received received = Received::kFailed;
  RemoteDirectory files;
  std::vector<Reply> times;  // in the order of `timed`, or none
};

// Several directories, each entered with CWD and listed as EnterAndList does, all in one go: a
// round trip for each rather than two. False, with nothing to trust, where the server is not
// known to answer commands sent so, or the connection was lost. A directory that MLSD was refused
// in lists nothing (kFailed): LIST serves from then on.
bool EnterAndListEach(FtpConnection& ftp, std::vector<DirectoryListing>* dirs);

// A file's time as MDTM's reply tells it; none where it does not.
void ReadRemoteTime(const Reply& reply, RemoteFile* file);

// MDTM for the named files, several in flight at once; a file whose time the server does not
// tell keeps none.
void AskRemoteTimes(FtpConnection& ftp, const std::vector<std::string>& names,
                    RemoteDirectory* files);

#endif  // VARDEK_FTP_REMOTE_LISTING_H_
