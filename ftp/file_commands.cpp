// Directory and file commands.
#include "ftp/file_commands.h"

#include "ftp/server_text.h"

namespace {

// RNFR asks for 350 before RNTO. False with the reply that said no.
bool Rename(FtpConnection& ftp, const std::string& from, const std::string& to, bool* from_taken,
            Reply* refusal) {
  *refusal = Exchange(ftp, "RNFR " + from);
  *from_taken = refusal->IsIntermediate();
  if (!*from_taken) return false;
  *refusal = Exchange(ftp, "RNTO " + to);
  return refusal->IsPositive();
}

}  // namespace

Reply ChangeDirectory(FtpConnection& ftp, const std::string& path) {
  Reply reply = Exchange(ftp, "CWD " + path);
  if (reply.IsPositive()) ftp.RemoteDir = path;
  return reply;
}

Reply MakeDirectory(FtpConnection& ftp, const std::string& path) {
  return Exchange(ftp, "MKD " + path);
}

Reply MakeAndEnterDirectory(FtpConnection& ftp, const std::string& path, Reply* made) {
  const std::vector<Reply> replies = ExchangeAll(ftp, {"MKD " + path, "CWD " + path});
  *made = replies[0];
  if (replies[1].IsPositive()) ftp.RemoteDir = path;
  return replies[1];
}

bool AskCurrentDirectory(FtpConnection& ftp, std::string* path) {
  const Reply reply = Exchange(ftp, "PWD");
  std::string named;
  if (!reply.IsPositive() || !DirectoryOfPwdReply(reply.first_line(), &named)) return false;
  *path = FromServerText(named, ftp.Settings.Utf8Names);
  return true;
}

Reply RemoveFile(FtpConnection& ftp, const std::string& name) {
  return Exchange(ftp, "DELE " + name);
}

Reply AskSize(FtpConnection& ftp, const std::string& name) { return Exchange(ftp, "SIZE " + name); }

bool AskDigest(FtpConnection& ftp, const std::string& name, DigestKind kind, std::string* hex,
               Reply* reply) {
  const unsigned bit = 1u << static_cast<int>(kind);
  // HASH takes the rest of the line as the path; the X commands may read numbers after it.
  if ((ftp.Server.Features.hash_digests & bit) == 0) {
    *reply = Exchange(ftp, std::string(DigestCommand(kind)) + " " + name);
    return ParseDigestReply(*reply, kind, false, hex);
  }
  if (ftp.HashChosen != kind) {
    *reply = Exchange(ftp, std::string("OPTS HASH ") + HashName(kind));
    if (!reply->IsPositive()) return false;
    ftp.HashChosen = kind;
  }
  *reply = Exchange(ftp, "HASH " + name);
  return ParseDigestReply(*reply, kind, true, hex);
}

Reply RemoveDir(FtpConnection& ftp, const std::string& path) {
  return Exchange(ftp, "RMD " + path);
}

// The old file is deleted and the rename sent again in one go with RNFR, so that the name
// stands without a file for one round trip.
bool RenameOnto(FtpConnection& ftp, const std::string& from, const std::string& to,
                Reply* refusal) {
  bool from_taken = false;
  if (Rename(ftp, from, to, &from_taken, refusal)) return true;
  if (!from_taken || !refusal->complete) return false;
  *refusal = RemoveFile(ftp, to);
  if (!refusal->IsPositive()) return false;
  const std::vector<Reply> replies = ExchangeAll(ftp, {"RNFR " + from, "RNTO " + to});
  *refusal = replies[0].IsIntermediate() ? replies[1] : replies[0];
  return replies[0].IsIntermediate() && replies[1].IsPositive();
}

std::string TimeCommand(const FtpConnection& ftp, const std::string& name, std::int64_t modified) {
  return (ftp.Server.Features.mfmt ? "MFMT " : "MDTM ") + FormatTimeVal(modified) + " " + name;
}

void SetFileTimeLater(FtpConnection& ftp, const std::string& name, std::int64_t modified) {
  if (ftp.Server.Pipelined == Pipelining::kLosesCommands || HasLineBreak(name)) {
    ftp.DeferredReply = SetFileTime(ftp, name, modified);
  } else {
    SendDeferred(ftp);
    ftp.Deferred = TimeCommand(ftp, name, modified);
    ftp.DeferredReply = Reply();
  }
  ftp.DeferredTime = modified;
}

bool TakeFileTimeReply(FtpConnection& ftp, bool now, std::int64_t* modified, Reply* reply) {
  if (ftp.DeferredTime < 0 || (!now && !ftp.Deferred.empty())) return false;
  SendDeferred(ftp);
  *modified = ftp.DeferredTime;
  *reply = ftp.DeferredReply;
  ftp.DeferredTime = -1;
  return true;
}

Reply SetFileTime(FtpConnection& ftp, const std::string& name, std::int64_t modified) {
  return Exchange(ftp, TimeCommand(ftp, name, modified));
}
