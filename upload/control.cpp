// Command exchanges and failure reports.
#include "upload/control.h"

#include <algorithm>
#include <chrono>

#include "upload/server_text.h"

Reply Exchange(RunState& run, const std::string& command) {
  // Callers refuse such texts with their own messages; this is the last line of defence.
  if (HasLineBreak(command)) return Reply();
  run.ControlConnection->SendText(ToServerText(command, run.options.Utf8Names) + "\r\n");
  return ReadReply(*run.ControlConnection);
}

namespace {

using Clock = TSocket::Clock;

// How long a reply may take after the one before it while it is not known whether the server
// answers commands sent in one go: a few times the first reply's round trip, and a second at
// least.
Clock::duration ProbeWait(Clock::duration first_reply) {
  return std::max<Clock::duration>(std::chrono::seconds(1), 4 * first_reply);
}

// After a server dropped commands: NOOP, and every reply up to its own (200, or 500 or 502 from
// a server without NOOP), late ones of the dropped commands among them, so that the next reply
// read belongs to the next command.
bool Resynchronise(RunState& run, std::size_t late) {
  run.ControlConnection->SendText("NOOP\r\n");
  for (std::size_t i = 0; i <= late; ++i) {
    const Reply reply = ReadReply(*run.ControlConnection);
    if (!reply.complete) return false;
    const std::string code = reply.first_line().substr(0, 3);
    if (code == "200" || code == "500" || code == "502") return true;
  }
  return false;
}

}  // namespace

std::vector<Reply> ExchangeAll(RunState& run, const std::vector<std::string>& commands) {
  std::vector<Reply> replies;
  Pipelining known = run.shared.Pipelined;
  if (known == Pipelining::kLosesCommands || commands.size() < 2) {
    for (const std::string& command : commands) replies.push_back(Exchange(run, command));
    return replies;
  }
  std::string lines;
  for (const std::string& command : commands) {
    if (HasLineBreak(command)) return std::vector<Reply>(commands.size());
    lines += ToServerText(command, run.options.Utf8Names) + "\r\n";
  }
  TSocket& control = *run.ControlConnection;
  const Clock::time_point sent = Clock::now();
  control.SendText(lines);
  replies.push_back(ReadReply(control));
  const Clock::duration wait = ProbeWait(Clock::now() - sent);
  while (replies.size() < commands.size()) {
    if (known == Pipelining::kUnknown && replies.back().complete &&
        !control.WaitForInput(Clock::now() + wait)) {
      run.shared.Pipelined = Pipelining::kLosesCommands;
      if (!Resynchronise(run, commands.size() - replies.size())) break;
      while (replies.size() < commands.size())
        replies.push_back(Exchange(run, commands[replies.size()]));
      return replies;
    }
    replies.push_back(ReadReply(control));
  }
  replies.resize(commands.size());  // incomplete after a reply cut short
  if (replies.back().complete && known == Pipelining::kUnknown) {
    run.shared.Pipelined = Pipelining::kWorks;
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

void Report(RunState& run, std::initializer_list<std::string> messages, ExitCode code, Walk walk) {
  Report(run, Failure(messages, code, walk));
}

std::string NotSentMessage(const std::string& local_path) {
  return "Не удалось отправить файл \"" + local_path + "\"";
}

std::string NotFoundMessage(const std::string& remote_path) {
  return "На сервере каталог \"" + remote_path + "\" не обнаружен";
}
