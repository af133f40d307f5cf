// Command exchanges and failure reports.
#include "upload/control.h"

Reply Exchange(RunState& run, const std::string& command) {
  // Callers refuse such texts with their own messages; this is the last line of defence.
  if (HasLineBreak(command)) return Reply();
  run.ControlConnection->SendText(command + "\r\n");
  return ReadReply(*run.ControlConnection);
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
