// The terminal window's timers: repeating deadlines that the message loop waits for, as a
// window's timers repeat until they are killed.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>

namespace repair::terminal {

class TimerQueue {
 public:
  using Clock = std::chrono::steady_clock;

  // Arms timer `id` to fire `milliseconds` after `now`, replacing one of the same id.
  void Set(int id, std::uint32_t milliseconds, Clock::time_point now);
  void Kill(int id) { timers_.erase(id); }
  // The timer due first, if its deadline has passed; it is re-armed with its interval.
  bool PopDue(Clock::time_point now, int& id);
  // Milliseconds until the next deadline (rounded up, at most 1000000), or -1 without timers.
  int MillisecondsUntilNext(Clock::time_point now) const;

 private:
  struct Timer {
    Clock::time_point deadline;
    std::chrono::milliseconds interval;
  };
  std::map<int, Timer> timers_;
};

}  // namespace repair::terminal
