// The driver: reads the command line, shows the usage text or runs the upload.
#include "driver/driver.h"

#include <cstdlib>

#include "driver/command_line.h"
#include "net/tls.h"
#include "upload/control.h"
#include "upload/run_upload.h"

const char kUsageText[] =
    "\r\n"
    "Бесплатная утилита для помещения файлов на ftp в пассивном режиме\r\n"
    "vardek 1.0, (c) 2026 разработчики vardek\r\n"
    "\r\n"
    "Командная строка: vardek file server login password path\r\n"
    "\r\n"
    "В конце строки можно добавить параметры:\r\n"
    "\"/s\" - обрабатывать подкаталоги\r\n"
    "\"/c\" - создавать на сервере отсутствующие подкаталоги\r\n"
    "\"/t\" - копировать на сервер только сегодняшние файлы\r\n"
    "\r\n"
    "Пример: vardek c:\\work\\*.html ftp.example.com root p3#W7x /pub/html/site /s /t";

namespace {

// VARDEK_TIMEOUT (seconds) shortens both waits of a connection, for tests and impatient scripts.
void ApplyTimeoutOverride(TSocket& connection) {
  const char* value = std::getenv("VARDEK_TIMEOUT");
  if (value == nullptr || *value == '\0') return;
  char* end = nullptr;
  long seconds = std::strtol(value, &end, 10);
  if (*end != '\0' || seconds < 1 || seconds > 86400) return;
  connection.ReadTimeout = static_cast<int>(seconds);
  connection.WriteTimeout = static_cast<int>(seconds);
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : value;
}

// A password of "-" comes from VARDEK_PASSWORD, out of sight of process lists and task
// definitions.
bool TakePassword(RunState& run, const std::string& parameter) {
  run.UserPassword = parameter;
  if (parameter != "-") return true;
  run.UserPassword = Environment("VARDEK_PASSWORD");
  if (run.UserPassword.empty()) {
    run.WriteMessage(
        "Пароль \"-\" берется из переменной окружения VARDEK_PASSWORD, но она не задана");
  } else if (HasLineBreak(run.UserPassword)) {
    run.WriteMessage("Пароль в переменной окружения VARDEK_PASSWORD содержит перевод строки");
  } else {
    return true;
  }
  return false;
}

// VARDEK_TLS_PIN names the one certificate accepted, for a server whose certificate no
// authority signed; a value that is no fingerprint must not quietly mean "none".
bool TakePin(RunState& run) {
  const std::string pin = Environment("VARDEK_TLS_PIN");
  if (!run.Encrypt || pin.empty() || ParseFingerprint(pin, &run.TlsPin)) return true;
  run.WriteMessage("Переменная окружения VARDEK_TLS_PIN не содержит отпечаток SHA-256 сертификата");
  return false;
}

}  // namespace

void RunDriver(RunState& run, const std::vector<std::string>& parameters) {
  CommandLine line;
  if (!ParseCommandLine(parameters, &line)) {
    run.WriteMessage(kUsageText);
    run.ExitStatus = kExitUsage;
    return;
  }
  run.ServerHost = line.ServerHost;
  run.UserLogin = line.UserLogin;
  run.TodayOnly = line.TodayOnly;
  run.Recurse = line.Recurse;
  run.CreateDirs = line.CreateDirs;
  run.Encrypt = line.Encrypt;
  if (!TakePassword(run, line.UserPassword) || !TakePin(run)) {
    run.ExitStatus = kExitUsage;
    return;
  }

  run.DataConnection = std::make_unique<TSocket>();
  run.ControlConnection = std::make_unique<TSocket>();
  ApplyTimeoutOverride(*run.DataConnection);
  ApplyTimeoutOverride(*run.ControlConnection);
  RunUpload(run, line.LocalMask, line.RemotePath);
  run.DataConnection.reset();
  run.ControlConnection.reset();
}
