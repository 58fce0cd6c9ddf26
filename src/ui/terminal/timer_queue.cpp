#include "ui/terminal/timer_queue.h"

#include <algorithm>

namespace repair::terminal {

void TimerQueue::Set(int id, std::uint32_t milliseconds, Clock::time_point now) {
  const std::chrono::milliseconds interval(milliseconds);
  timers_[id] = Timer{now + interval, interval};
}

bool TimerQueue::PopDue(Clock::time_point now, int& id) {
  auto first = timers_.end();
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (first == timers_.end() || it->second.deadline < first->second.deadline) first = it;
  }
  if (first == timers_.end() || first->second.deadline > now) return false;
  id = first->first;
  first->second.deadline = now + first->second.interval;
  return true;
}

int TimerQueue::MillisecondsUntilNext(Clock::time_point now) const {
  if (timers_.empty()) return -1;
  Clock::time_point next = Clock::time_point::max();
  for (const auto& entry : timers_) next = std::min(next, entry.second.deadline);
  if (next <= now) return 0;
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
  return wait > 1000000 ? 1000000 : static_cast<int>(wait);
}

}  // namespace repair::terminal
