// Failures of the protocol as the run reports them.
#include "upload/failure.h"

namespace {

std::string LoginMessage(const std::string& host, LoginFault fault) {
  switch (fault) {
    case LoginFault::kNoTls:
      return "Сервер \"" + host + "\" не поддерживает шифрование";
    case LoginFault::kTlsFailed:
      return "Не удалось установить шифрованное соединение с \"" + host + "\"";
    case LoginFault::kCertificateRefused:
      return "Сертификат сервера \"" + host + "\" не принят";
    case LoginFault::kLoginRefused:
      return "Авторизоваться на сервере \"" + host + "\" не удалось";
    case LoginFault::kDataUnprotected:
      return "Сервер \"" + host + "\" не поддерживает шифрование передаваемых файлов";
    default:
      return "Не удалось установить соединение с \"" + host + "\"";
  }
}

}  // namespace

Failure LoginFailure(const Options& options, const LoginResult& result) {
  if (!result.failed()) return Failure();
  return Failure({LoginMessage(options.ServerHost, result.fault)}, kExitConnection, Walk::kGoesOn,
                 result.kind);
}

Failure TransferFailure(const Options& options, const TransferResult& result,
                        const std::string& local_path) {
  switch (result.fault) {
    case TransferFault::kNone:
      return Failure();
    case TransferFault::kPassiveRefused:
      return Failure(
          {"Сервер \"" + options.ServerHost + "\" отказывается работать в пассивном режиме"},
          kExitPassive, Walk::kStops, result.kind);
    case TransferFault::kNoDataConnection:
      return Failure({"Не удается установить связь с сокетом данных"}, kExitTransfer, Walk::kStops,
                     result.kind);
    default: {
      Failure failure({NotSentMessage(local_path)}, kExitTransfer, Walk::kStops, result.kind);
      failure.sent_data =
          result.fault == TransferFault::kDataLost || result.fault == TransferFault::kNotConfirmed;
      return failure;
    }
  }
}

Failure DirectoryFailure(std::vector<std::string> messages, const Reply& refusal, Walk walk) {
  return Failure(std::move(messages), kExitDirectory, walk, KindOf(refusal));
}

Failure LostFailure(const Options& options) {
  return Failure({"Связь с сервером \"" + options.ServerHost + "\" прервана"}, kExitConnection,
                 Walk::kStops, FailureKind::kLost);
}

void Report(RunState& run, const Failure& failure) {
  // What an interruption makes fail is no failure of the run.
  if (Interrupted()) return;
  {
    std::lock_guard<std::mutex> hold(run.shared.console_lock);
    for (const std::string& message : failure.messages) run.shared.console.WriteMessage(message);
    run.shared.console.WriteMessage("Продолжение работы невозможно");
  }
  if (run.options.Parallel > 1) {
    std::int32_t seen = run.shared.ExitStatus;
    while (seen < failure.code &&
           !run.shared.ExitStatus.compare_exchange_weak(seen, failure.code)) {
    }
  } else {
    run.shared.ExitStatus = failure.code;
  }
  if (failure.walk == Walk::kStops) run.shared.TransferAborted = true;
}

void Report(RunState& run, std::initializer_list<std::string> messages, ExitCode code, Walk walk) {
  Report(run, Failure(messages, code, walk));
}

std::string NotSentMessage(const std::string& local_path) {
  return "Не удалось отправить файл \"" + local_path + "\"";
}

std::string NotFoundMessage(const std::string& remote_path) {
  return "На сервере каталог \"" + remote_path + "\" не обнаружен";
}
