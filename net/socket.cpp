// TSocket's portable part: connecting, chunked sends and the buffered line reader.
#include "net/socket.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "net/interrupt.h"

namespace {

constexpr int kKeepAliveIdle = 60;  // seconds of silence before the first probe
constexpr int kKeepAliveInterval = 10;
// How long a control connection may go on once the run is interrupted.
constexpr int kTidySeconds = 3;
// How often a handshake that waits to read looks at another connection.
constexpr std::chrono::milliseconds kWatchSlice(10);

}  // namespace

TSocket::TSocket() { sockets::Startup(); }

TSocket::~TSocket() {
  Close();
  sockets::Cleanup();
}

void TSocket::Abort() {
  if (Handle == sockets::kNoHandle) return;
  TlsLayer.reset();  // no close_notify: that would say the data ended as it should
  sockets::AbortAndClose(Handle);
  Handle = sockets::kNoHandle;
}

void TSocket::Close() {
  if (Handle == sockets::kNoHandle) return;
  // After a send that failed or ran out of time, close_notify would only wait once more.
  if (TlsLayer && !SendFailed) TlsLayer->Close(Waiter());
  TlsLayer.reset();
  sockets::ShutdownAndClose(Handle);
  Handle = sockets::kNoHandle;
}

// Sends all succeed once the kernel has the bytes, and a file of a few megabytes fits in its
// buffers: a server that reset the connection in the middle would otherwise go unseen. What the
// peer sends up to its close is read through TLS where there is TLS: that takes in the TLS 1.3
// tickets a server sends after the handshake, and the next data connection resumes the newest
// (vsftpd takes each one once only).
bool TSocket::Finish() {
  if (Handle == sockets::kNoHandle || SendFailed) return false;
  if (TlsLayer && !TlsLayer->Close(Waiter())) {
    TlsLayer.reset();  // Close is not to wait for it once more
    return false;
  }
  sockets::ShutdownSending(Handle);
  BoundStep(ReadDeadline());
  char ignored[512];
  int got = 0;
  while ((got = Receive(ignored, sizeof ignored)) > 0) {
  }
  EndStep();
  TlsLayer.reset();  // close_notify is out
  return got == 0 && !TimedOut;
}

void TSocket::EndSending() {
  if (Handle != sockets::kNoHandle && !TlsLayer) sockets::ShutdownSending(Handle);
}

bool TSocket::ReceiveAll(std::string* data, std::size_t limit) {
  BoundStep(ReadDeadline());
  char chunk[16 * 1024];
  int got = 0;
  while ((got = Receive(chunk, sizeof chunk)) > 0 && data->size() <= limit) {
    data->append(chunk, static_cast<std::size_t>(got));
  }
  EndStep();
  return got == 0 && !TimedOut && data->size() <= limit;
}

void TSocket::BoundStep(Clock::time_point deadline) {
  StepDeadline = deadline;
  TimedOut = false;
}

TlsWait TSocket::Waiter() {
  return [this](bool for_writing) { return for_writing ? WaitWritable() : WaitReadable(); };
}

TlsOutcome TSocket::StartTls(const TlsSettings& settings) {
  return StartTlsResuming(settings, nullptr, Waiter());
}

bool TSocket::ProtectLike(const TSocket& control) {
  if (!control.TlsLayer) return false;
  return StartTlsResuming(control.Tls, control.TlsLayer.get(), Waiter()) ==
         TlsOutcome::kEstablished;
}

bool TSocket::ProtectLike(TSocket& control, const std::function<bool()>& go_on) {
  if (!control.TlsLayer) return false;
  // Reading waits in short slices, so that a reply on the control connection is seen soon.
  const TlsWait watching = [this, &control, &go_on](bool for_writing) {
    if (for_writing) return WaitWritable();
    for (;;) {
      if (control.WaitForInput(Clock::now()) && !go_on()) return false;
      const Clock::time_point end = std::min(ReadDeadline(), StepDeadline);
      const int ready = WaitFor(false, std::min(end, Clock::now() + kWatchSlice));
      if (ready != 0) return ready > 0;
      if (Clock::now() >= end) {
        TimedOut = true;
        return false;
      }
    }
  };
  return StartTlsResuming(control.Tls, control.TlsLayer.get(), watching) ==
         TlsOutcome::kEstablished;
}

TlsOutcome TSocket::StartTlsResuming(const TlsSettings& settings, const TlsSession* resume,
                                     const TlsWait& wait) {
  if (Handle == sockets::kNoHandle) return TlsOutcome::kFailed;
  BufferCount = 0;
  BufferPos = kNothingReceived;
  Tls = settings;
  TlsOutcome outcome = TlsOutcome::kFailed;
  BoundStep(ReadDeadline());
  TlsLayer = TlsSession::Handshake(Handle, settings, resume, wait, &outcome);
  EndStep();
  return TlsLayer ? TlsOutcome::kEstablished : outcome;
}

bool TSocket::Connect(const std::string& host, int port) {
  Host parsed;
  return ParseHost(host, &parsed) && Connect(parsed, port);
}

bool TSocket::Connect(const Host& host, int port) {
  std::vector<sockets::Address> candidates;
  if (host.IsAddress()) {
    candidates.push_back(host.address);
  } else {
    candidates = sockets::LookupHost(host.name);
  }
  for (sockets::Address& address : candidates) {
    address.port = static_cast<std::uint16_t>(port & 0xFFFF);
    if (ConnectTo(address)) return true;
  }
  Close();
  return false;
}

bool TSocket::ConnectToPeerOf(const TSocket& other, int port) {
  sockets::Address address = other.PeerAddress;
  address.port = static_cast<std::uint16_t>(port & 0xFFFF);
  return ConnectTo(address);
}

// A host that drops the connection request must not hold the run: the connect never blocks,
// and its outcome is awaited for WriteTimeout at most.
bool TSocket::ConnectTo(const sockets::Address& address) {
  Close();  // an earlier socket is never leaked
  // Bytes left from an earlier connection must never be handed out.
  BufferCount = 0;
  BufferPos = kNothingReceived;
  SendFailed = false;
  Handle = sockets::OpenStream(address.family);
  if (Handle == sockets::kNoHandle) return false;
  PeerAddress = address;
  int started = sockets::StartConnect(Handle, address);
  if (started == 0 && WaitFor(true, Clock::now() + std::chrono::seconds(WriteTimeout)) > 0) {
    started = sockets::ConnectOutcome(Handle) ? 1 : -1;
  }
  if (started == 1) {
    if (KeepAlive) sockets::EnableKeepAlive(Handle, kKeepAliveIdle, kKeepAliveInterval);
    return true;
  }
  Close();
  return false;
}

int TSocket::MillisecondsUntil(Clock::time_point deadline) {
  // Rounded up: a wait that ended a fraction early would pass for a time-out.
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  constexpr std::int64_t kLongest = 2000000000;  // poll and select take an int
  return static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, kLongest));
}

// The whole buffer goes to the kernel in as few calls as it takes; each send takes what fits
// without blocking, so that every wait, and so the whole send of a stalled peer, stays bounded.
bool TSocket::Send(const char* data, int length) {
  if (Handle == sockets::kNoHandle || length <= 0) return false;
  bool sent = TlsLayer ? TlsLayer->Send(data, length, Waiter()) : SendPlain(data, length);
  SendFailed = SendFailed || !sent;
  return sent;
}

// The send comes first and the wait only when the kernel had no room: a wait before every send
// would cost a system call for nothing in most of them.
bool TSocket::SendPlain(const char* data, int length) {
  while (length > 0) {
    int sent = sockets::SendOnce(Handle, data, length);
    if (sent == sockets::kWouldBlock) {
      if (!WaitWritable()) return false;
      continue;
    }
    if (sent < 0) return false;
    data += sent;
    length -= sent;
  }
  return true;
}

bool TSocket::SendText(const std::string& text) {
  return Send(text.data(), static_cast<int>(text.size()));
}

bool TSocket::WaitReadable() {
  if (Handle == sockets::kNoHandle) return false;
  int ready = 0;
  if (Clock::now() < StepDeadline) {
    ready = WaitFor(false, std::min(ReadDeadline(), StepDeadline));
  }
  TimedOut = TimedOut || ready == 0;
  return ready > 0;
}

bool TSocket::WaitForInput(Clock::time_point deadline) {
  if (Handle == sockets::kNoHandle) return false;
  // The LF of the last line's CR LF is no input.
  for (int at = BufferPos; at < BufferCount; ++at) {
    if (!EndsLine(static_cast<std::uint8_t>(Buffer[at]))) return true;
  }
  if (TlsLayer && TlsLayer->HasBuffered()) return true;
  return WaitFor(false, deadline) > 0;
}

// An interrupted run ends a data connection's waits at once (no file is taken further), and cuts
// a control connection's short, to a common deadline a few seconds after the interruption.
int TSocket::WaitFor(bool for_writing, Clock::time_point deadline) {
  static std::atomic<Clock::rep> tidy_until{0};
  for (;;) {
    if (Interrupted()) {
      if (EndsAtInterrupt) return -1;
      Clock::rep expected = 0;
      const Clock::time_point tidy = Clock::now() + std::chrono::seconds(kTidySeconds);
      tidy_until.compare_exchange_strong(expected, tidy.time_since_epoch().count());
      deadline = std::min(deadline, Clock::time_point(Clock::duration(tidy_until.load())));
    }
    const int ready =
        sockets::Wait(Handle, for_writing, MillisecondsUntil(deadline), !Interrupted());
    if (ready != sockets::kInterrupted) return ready;
  }
}

bool TSocket::WaitWritable() {
  if (Handle == sockets::kNoHandle) return false;
  int ready = 0;
  if (Clock::now() < StepDeadline) {
    const Clock::time_point limit = Clock::now() + std::chrono::seconds(WriteTimeout);
    ready = WaitFor(true, std::min(limit, StepDeadline));
  }
  TimedOut = TimedOut || ready == 0;
  return ready > 0;
}

int TSocket::Receive(char* buffer, int size) {
  if (TlsLayer) return TlsLayer->Receive(buffer, size, Waiter());
  while (WaitReadable()) {
    int got = sockets::ReceiveOnce(Handle, buffer, size);
    if (got != sockets::kWouldBlock) return got;
  }
  return 0;
}

void TSocket::FillBuffer() {
  std::memset(Buffer, 0, sizeof Buffer);
  BufferCount = Receive(Buffer, kBufferSize);
  BufferPos = 0;
}

bool TSocket::ReadByte(std::uint8_t* byte) {
  if (BufferPos >= BufferCount) FillBuffer();
  if (BufferPos >= BufferCount) return false;
  *byte = static_cast<std::uint8_t>(Buffer[BufferPos++]);
  return true;
}

std::string TSocket::ReadLine() { return ReadLineBy(ReadDeadline()); }

// A server that trickles bytes, or streams a line without end, must not hold the run beyond the
// deadline: every wait for the line's bytes ends there, and what came by then is no line.
std::string TSocket::ReadLineBy(Clock::time_point deadline) {
  BoundStep(deadline);
  std::string line = ReadLineUntilDeadline();
  EndStep();
  return TimedOut ? std::string() : line;
}

// Servers put TABs, colour codes and even NULs inside their lines, and some repeat a file name
// that holds such bytes: only LF and CR end a line. CR LF is one end, the empty line between the
// two being skipped; a bare CR ends a line on old servers.
bool TSocket::EndsLine(std::uint8_t byte) { return byte == '\n' || byte == '\r'; }

std::string TSocket::ReadLineUntilDeadline() {
  char line[kMaxLine];
  int count = 0;
  std::uint8_t byte = 0;
  while (count < kMaxLine && ReadByte(&byte)) {
    if (!EndsLine(byte)) {
      line[count++] = static_cast<char>(byte);
    } else if (count > 0) {
      return std::string(line, count);
    }
  }
  // An over-long line counts by its first kMaxLine bytes; the rest must not pose as a reply.
  while (count == kMaxLine && ReadByte(&byte) && !EndsLine(byte)) {
  }
  return std::string(line, count);
}
