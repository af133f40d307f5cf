// Passive-mode data transfers: storing a file's bytes, and the data connection that listings
// use too.
#ifndef VARDEK_FTP_TRANSFER_H_
#define VARDEK_FTP_TRANSFER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "ftp/control.h"

// Where a stored file's bytes come from.
class DataSource {
 public:
  // Bytes read, 0 at the end, -1 on a read error.
  virtual int Read(char* buffer, int size) = 0;
  // What the source held when it was opened: one that ends short of it was cut while it was
  // read, and its bytes are neither its old nor its new self.
  virtual std::int64_t Size() const = 0;
  // Reading is over; the source is given back before the server's verdict is waited for.
  virtual void Close() = 0;
  // Reading goes on from the byte at `offset` (a transfer that resumes); false when it cannot.
  virtual bool SkipTo(std::int64_t offset) = 0;

  // Told of the bytes as they go out (a progress line): Begin before the first, End once the
  // transfer is judged, sent or not.
  virtual void Begin() {}
  virtual void Advance(std::int64_t bytes) { (void)bytes; }
  virtual void End() {}

 protected:
  ~DataSource() = default;
};

// Where a transfer stopped.
enum class TransferFault {
  kNone,
  kPassiveRefused,    // PASV or EPSV refused
  kNoDataConnection,  // a passive reply that cannot be read, or no connect to its port
  kStoreRefused,      // STOR refused
  kResumeRefused,     // REST with STOR, and APPE, refused: the file is to go from its first byte
  kSourceFault,       // the source could not be read whole
  kDataLost,          // the data connection failed, or did not end cleanly
  kNotConfirmed,      // no positive completion reply
};

struct TransferResult {
  TransferFault fault = TransferFault::kNone;
  FailureKind kind = FailureKind::kPermanent;
  std::int64_t bytes = 0;  // bytes the server took
  // The transfer ended before the server's completion reply, which is still to come.
  bool reply_owed = false;
  // The reply to SIZE where it went with the end of the data; incomplete where it did not.
  Reply size;

  bool failed() const { return fault != TransferFault::kNone; }
};

// TYPE I before every transfer, or once for the connection where the settings save it.
void UseBinaryType(FtpConnection& ftp);

// Stores the source's bytes under the name in the current remote directory: a data connection,
// STOR, the bytes, and the server's confirmation. From a byte other than the first: the rest
// of the source, after REST and STOR, or where REST is refused with APPE (RFC 959). With
// `size_after`, where the server is known to answer commands sent in one go, SIZE of the file
// goes out as soon as the data has ended, so that its reply follows the confirmation.
TransferResult StoreFile(FtpConnection& ftp, const std::string& remote_name, DataSource& source,
                         std::int64_t from = 0, bool size_after = false);

// Reads the completion reply that a transfer which ended early left owed, waiting at most
// `seconds`, so that it cannot pass for the reply to the next command (a DELE that tidies up).
void SkipOwedReply(FtpConnection& ftp, int seconds);

// How the bytes that a command such as MLSD sends back arrived.
enum class Received {
  kWhole,      // all of them within the limit, and the server confirmed them
  kTruncated,  // all that the server sent, but it said it cut the listing short
  kCut,        // some: the data connection failed, the limit was passed, or no confirmation
  kFailed,     // none: the command was refused, or no data connection
};

// Commands that go in one go with a data command, where the server is known to answer commands
// sent so: `lead` before it (a CWD), `trail` after it (MDTM queries). Their replies, whatever
// they say, in `led` and `trailed`: the caller judges what they are worth. Elsewhere the lead goes
// one command at a time and the trail not at all, `trailed` left empty.
struct AlongWith {
  std::vector<std::string> lead;
  std::vector<std::string> trail;
  std::vector<Reply> led;
  std::vector<Reply> trailed;
};

// The bytes a command such as MLSD sends back over a data connection, opened as a file's is;
// the command's refusal, if it was refused, in `refusal`; what went with it in `along`.
Received ReceiveData(FtpConnection& ftp, const std::string& command, std::size_t limit,
                     std::string* data, Reply* refusal = nullptr, AlongWith* along = nullptr);

// One of several data commands sent in one go, what went with it, and what came back.
struct OneOfMany {
  std::string command;
  AlongWith along;
  std::string data;
  Reply refusal;  // the command's, where it was refused
  Received received = Received::kFailed;
};

// Sends each command with its lead and trail, and a PASV (EPSV) before it, all in one go, then
// reads each one's replies and data in turn: each next passive reply comes with the last
// transfer's completion, a round trip per command rather than two. False, with nothing to trust,
// where the server is not known to answer commands sent so (nothing is sent then) or the
// connection was lost.
bool ReceiveEach(FtpConnection& ftp, std::size_t limit, std::vector<OneOfMany>* each);

#endif  // VARDEK_FTP_TRANSFER_H_
