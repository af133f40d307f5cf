// The run's shared state and one connection's.
#include "upload/run_state.h"

void RunShared::WriteMessages(std::initializer_list<std::string> messages) {
  std::lock_guard<std::mutex> hold(console_lock);
  for (const std::string& message : messages) console.WriteMessage(message);
}

void RunShared::ShowStatus(const std::string& status) {
  std::lock_guard<std::mutex> hold(console_lock);
  if (status.empty()) {
    console.ClearStatus();
  } else {
    console.ShowStatus(status);
  }
}

namespace {

// pure-ftpd draws a passive port at random and answers 425 when another connection of the run
// holds it: with "/p" it is asked again, a few times.
constexpr int kPassiveAgain = 3;

}  // namespace

FtpSettings ConnectionSettings(const Options& options, Throttle* limit) {
  FtpSettings settings;
  settings.Limit = limit;
  settings.Timeout = options.Timeout;
  settings.Utf8Names = options.Utf8Names;
  settings.Encrypt = options.Encrypt;
  settings.ImplicitTls = options.ImplicitTls;
  settings.Tls = {CertificateName(options.ServerAddress), options.ServerAddress.address,
                  options.TlsPin};
  // "/d" and "/p" save the round trip of TYPE I before each file, which pays for setting each
  // file's time; a plain run's transcript stays as it always was.
  settings.BinaryOnce = options.SavesRoundTrips();
  settings.PassiveAgain = options.Parallel > 1 ? kPassiveAgain : 0;
  return settings;
}
