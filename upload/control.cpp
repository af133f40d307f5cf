// Command exchanges and failure reports.
#include "upload/control.h"

Reply Exchange(RunState& run, const std::string& command) {
  // Callers refuse such texts with their own messages; this is the last line of defence.
  if (HasLineBreak(command)) return Reply();
  run.ControlConnection->SendText(command + "\r\n");
  return ReadReply(*run.ControlConnection);
}

std::vector<Reply> ExchangeAll(RunState& run, const std::vector<std::string>& commands) {
  std::string lines;
  for (const std::string& command : commands) {
    if (HasLineBreak(command)) return std::vector<Reply>(commands.size());
    lines += command + "\r\n";
  }
  run.ControlConnection->SendText(lines);
  std::vector<Reply> replies;
  for (std::size_t i = 0; i < commands.size(); ++i) {
    replies.push_back(ReadReply(*run.ControlConnection));
  }
  return replies;
}

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

Failure::Kind KindOf(const Reply& reply) {
  if (!reply.complete) return Failure::Kind::kLost;
  return reply.first_line()[0] == '4' ? Failure::Kind::kRefused : Failure::Kind::kPermanent;
}

void Report(RunState& run, const Failure& failure) {
  {
    std::lock_guard<std::mutex> hold(run.shared.console_lock);
    for (const std::string& message : failure.messages) run.shared.console.WriteMessage(message);
    run.shared.console.WriteMessage("Продолжение работы невозможно");
  }
  run.shared.ExitStatus = failure.code;
  if (failure.walk == Walk::kStops) run.shared.TransferAborted = true;
}

void Report(RunState& run, std::initializer_list<std::string> messages, ExitCode code,
            Walk walk) {
  Failure failure;
  failure.messages = messages;
  failure.code = code;
  failure.walk = walk;
  Report(run, failure);
}

std::string NotSentMessage(const std::string& local_path) {
  return "Не удалось отправить файл \"" + local_path + "\"";
}
