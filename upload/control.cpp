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

void Report(RunState& run, std::initializer_list<std::string> messages, ExitCode code, Walk walk) {
  for (const std::string& message : messages) run.WriteMessage(message);
  run.WriteMessage("Продолжение работы невозможно");
  run.ExitStatus = code;
  if (walk == Walk::kStops) run.TransferAborted = true;
}

std::string NotSentMessage(const std::string& local_path) {
  return "Не удалось отправить файл \"" + local_path + "\"";
}
