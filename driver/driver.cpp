// The driver: reads the command line, shows the usage text or runs the upload.
#include "driver/driver.h"

#include <cstdlib>
#include <memory>

#include "driver/command_line.h"
#include "ftp/control.h"
#include "net/address.h"
#include "net/tls.h"
#include "upload/run_state.h"
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

constexpr int kImplicitTlsPort = 990;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : value;
}

// The one line that tells why a command line is refused, where the usage text would not.
std::string FaultMessage(CommandLineFault fault, const std::vector<std::string>& parameters) {
  switch (fault) {
    case CommandLineFault::kEncryptInPlace:
      return "Ключ \"/e\" указан вместо одного из пяти параметров";
    case CommandLineFault::kEncryptAfterEmpty:
      return "Ключ \"/e\" указан после пустого параметра";
    case CommandLineFault::kBadValue:
      return "Неверное значение ключа \"" + BadSwitch(parameters) + "\"";
    default:
      return kUsageText;
  }
}

bool TakeServer(Console& console, Options& options) {
  std::string host;
  // Implicit FTPS has a port of its own.
  if (options.ImplicitTls) options.ServerPort = kImplicitTlsPort;
  SplitHostPort(options.ServerHost, &host, &options.ServerPort);
  if (ParseHost(host, &options.ServerAddress)) return true;
  console.WriteMessage("Неверно записан адрес сервера \"" + options.ServerHost + "\"");
  return false;
}

// A password of "-" comes from VARDEK_PASSWORD, out of sight of process lists and task
// definitions.
bool TakePassword(Console& console, Options& options) {
  if (options.UserPassword != "-") return true;
  options.UserPassword = Environment("VARDEK_PASSWORD");
  if (options.UserPassword.empty()) {
    console.WriteMessage(
        "Пароль \"-\" берется из переменной окружения VARDEK_PASSWORD, но она не задана");
  } else if (HasLineBreak(options.UserPassword)) {
    console.WriteMessage("Пароль в переменной окружения VARDEK_PASSWORD содержит перевод строки");
  } else {
    return true;
  }
  return false;
}

// VARDEK_TLS_PIN names the one certificate accepted, for a server whose certificate no
// authority signed; a value that is no fingerprint must not quietly mean "none", and a pin
// without "/e" must not quietly mean a run in the clear.
bool TakePin(Console& console, Options& options) {
  const std::string pin = Environment("VARDEK_TLS_PIN");
  if (pin.empty()) return true;
  if (!options.Encrypt) {
    console.WriteMessage("Переменная окружения VARDEK_TLS_PIN задана, но ключ \"/e\" не указан");
  } else if (!ParseFingerprint(pin, &options.TlsPin)) {
    console.WriteMessage(
        "Переменная окружения VARDEK_TLS_PIN не содержит отпечаток SHA-256 сертификата");
  } else {
    return true;
  }
  return false;
}

// VARDEK_TIMEOUT (seconds) shortens every wait, for tests and impatient scripts. A value that is
// no number must not quietly leave a scheduled run waiting a quarter of an hour.
bool TakeTimeout(Console& console, Options& options) {
  const std::string text = Environment("VARDEK_TIMEOUT");
  if (text.empty()) return true;
  if (!ParseSeconds(text, &options.Timeout)) {
    console.WriteMessage("Переменная окружения VARDEK_TIMEOUT не содержит целое число секунд");
    return false;
  }
  return true;
}

// The command line as the log tells it: the password never.
std::string CommandLineText(const std::vector<std::string>& parameters) {
  std::string text = "vardek";
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    const std::string& parameter = i == 3 ? "***" : parameters[i];
    const bool quoted = parameter.empty() || parameter.find(' ') != std::string::npos;
    text += quoted ? " \"" + parameter + "\"" : " " + parameter;
  }
  return text;
}

// "/l": the log opened and the command line its first line. A log that cannot be written must
// not leave a scheduled job without its story, and a job whose last run still holds the log
// must not run twice at once; their exit codes, else kExitOk.
int OpenLog(Console& console, RunLog& log, const Options& options,
            const std::vector<std::string>& parameters) {
  const RunLog::Opened opened = log.Open(options.LogFile);
  if (opened == RunLog::Opened::kFailed || !log.Write(CommandLineText(parameters))) {
    log.Close();
    console.WriteMessage("Не удается вести журнал в файле \"" + options.LogFile + "\"");
    return kExitUsage;
  }
  console.SetLog(&log);
  if (opened == RunLog::Opened::kBusy) {
    console.WriteMessage("Журнал \"" + options.LogFile +
                         "\" занят: предыдущий запуск этого задания еще не закончен");
    return kExitBusy;
  }
  return kExitOk;
}

int Run(Console& console, Options& options) {
  if (!TakeServer(console, options) || !TakePassword(console, options) ||
      !TakePin(console, options) || !TakeTimeout(console, options)) {
    return kExitUsage;
  }
  options.ShowProgress = Environment("VARDEK_PROGRESS") != "0";
  RunShared shared(console, options.ShowProgress);
  if (options.RateKiB > 0) shared.Limit = std::make_unique<Throttle>(options.RateKiB * 1024LL);
  {
    RunState run(options, shared);
    RunUpload(run);
  }
  return shared.ExitStatus;
}

}  // namespace

int RunDriver(const std::vector<std::string>& parameters) {
  Console console;
  Options options;
  const CommandLineFault fault = ParseCommandLine(parameters, &options);
  if (fault != CommandLineFault::kNone) {
    console.WriteMessage(FaultMessage(fault, parameters));
    return kExitUsage;
  }
  RunLog log;
  int code = options.LogFile.empty() ? kExitOk : OpenLog(console, log, options, parameters);
  if (code == kExitUsage) return code;
  if (code == kExitOk) code = Run(console, options);
  console.Flush();
  console.SetLog(nullptr);
  log.Write("Код завершения: " + std::to_string(code));
  return code;
}
