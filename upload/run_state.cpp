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

RunState::RunState(const Options& run_options, RunShared& run_shared)
    : options(run_options),
      shared(run_shared),
      ControlConnection(std::make_unique<TSocket>()),
      DataConnection(std::make_unique<TSocket>()) {
  for (TSocket* connection : {DataConnection.get(), ControlConnection.get()}) {
    connection->ReadTimeout = options.Timeout;
    connection->WriteTimeout = options.Timeout;
  }
  ControlConnection->KeepAlive = true;
}
