// Commands on the server's directories and files: entering and making directories, where the
// login starts, deleting, renaming into place, and setting a file's time.
#ifndef VARDEK_FTP_FILE_COMMANDS_H_
#define VARDEK_FTP_FILE_COMMANDS_H_

#include <cstdint>
#include <string>

#include "ftp/control.h"

// CWD; the path becomes the connection's RemoteDir once the server takes it.
Reply ChangeDirectory(FtpConnection& ftp, const std::string& path);
Reply MakeDirectory(FtpConnection& ftp, const std::string& path);
// MKD and CWD in one go, a round trip for both (as ExchangeAll sends them): CWD's reply, MKD's
// in `made`.
Reply MakeAndEnterDirectory(FtpConnection& ftp, const std::string& path, Reply* made);
// The current directory after PWD, in the program's text; false when the server names none.
bool AskCurrentDirectory(FtpConnection& ftp, std::string* path);

Reply RemoveFile(FtpConnection& ftp, const std::string& name);
// RMD.
Reply RemoveDir(FtpConnection& ftp, const std::string& path);

// RNFR and RNTO. Where the server will not rename onto a file (IIS, proftpd without
// AllowOverwrite), the file is deleted and the rename sent again; false with the reply that
// said no.
bool RenameOnto(FtpConnection& ftp, const std::string& from, const std::string& to, Reply* refusal);

// SIZE (RFC 3659), in TYPE I.
Reply AskSize(FtpConnection& ftp, const std::string& name);
// The server's digest of the file, in lower-case hexadecimal: by HASH where FEAT names the
// digest on its line (after OPTS HASH, once per connection), else by its X command. False when
// the server told none; the reply in `reply`.
bool AskDigest(FtpConnection& ftp, const std::string& name, DigestKind kind, std::string* hex,
               Reply* reply);

// The command that gives the file a time, as SetFileTime sends it.
std::string TimeCommand(const FtpConnection& ftp, const std::string& name, std::int64_t modified);
// Gives the file a time with the connection's next command, in one go with it, where the
// server is not known to drop such; TakeFileTimeReply tells how it went.
void SetFileTimeLater(FtpConnection& ftp, const std::string& name, std::int64_t modified);
// The reply to the time set later, once a command took it along, or with `now` sent alone now;
// false, and nothing changes, when none is there to tell. `modified`: the time it asked for.
bool TakeFileTimeReply(FtpConnection& ftp, bool now, std::int64_t* modified, Reply* reply);
// Gives the file a time (UTC, seconds since 1970): MFMT where FEAT lists it, else the
// two-argument form of MDTM that vsftpd takes.
Reply SetFileTime(FtpConnection& ftp, const std::string& name, std::int64_t modified);

#endif  // VARDEK_FTP_FILE_COMMANDS_H_
