// Stopping a whole run at once (a signal, the console's Ctrl+C): every wait of a connection is
// cut short. socket_posix.cpp and socket_win.cpp implement it beside the waits themselves.
#ifndef VARDEK_NET_INTERRUPT_H_
#define VARDEK_NET_INTERRUPT_H_

#include <chrono>

// Makes ready what Interrupt needs; once, before a handler may call it. ReleaseInterrupt gives
// it back once no handler can call Interrupt any more.
void PrepareInterrupt();
void ReleaseInterrupt();
// From now on a data connection's waits end at once, and a control connection's within a few
// seconds, enough for the replies and deletions that leave the server tidy. Safe in a signal
// handler and from any thread.
void Interrupt();
bool Interrupted();
// Sleeps the time, or until an interruption; false then.
bool SleepUnlessInterrupted(std::chrono::milliseconds wait);
inline bool SleepUnlessInterrupted(int seconds) {
  return SleepUnlessInterrupted(std::chrono::seconds(seconds));
}

#endif  // VARDEK_NET_INTERRUPT_H_
