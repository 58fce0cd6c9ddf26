// The window's timers against a clock the test sets.
#include "ui/terminal/timer_queue.h"

#include <gtest/gtest.h>

namespace repair::terminal {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

TEST(TimerQueueTest, WaitsAreRoundedUpAndCapped) {
  TimerQueue timers;
  const TimerQueue::Clock::time_point start{};
  EXPECT_EQ(timers.MillisecondsUntilNext(start), -1);
  timers.Set(1, 500, start);
  EXPECT_EQ(timers.MillisecondsUntilNext(start + microseconds(100)), 500);  // 499.9 ms
  EXPECT_EQ(timers.MillisecondsUntilNext(start + milliseconds(500)), 0);
  EXPECT_EQ(timers.MillisecondsUntilNext(start + milliseconds(900)), 0);
  timers.Set(1, 4000000000u, start);
  EXPECT_EQ(timers.MillisecondsUntilNext(start), 1000000);
  timers.Kill(1);
  EXPECT_EQ(timers.MillisecondsUntilNext(start), -1);
}

TEST(TimerQueueTest, TheEarliestFiresAndComesBackAfterItsInterval) {
  TimerQueue timers;
  const TimerQueue::Clock::time_point start{};
  timers.Set(101, 300, start);
  timers.Set(100, 200, start);
  int id = 0;
  EXPECT_FALSE(timers.PopDue(start + milliseconds(199), id));
  ASSERT_TRUE(timers.PopDue(start + milliseconds(350), id));
  EXPECT_EQ(id, 100);  // due first, though both are due
  ASSERT_TRUE(timers.PopDue(start + milliseconds(350), id));
  EXPECT_EQ(id, 101);
  EXPECT_FALSE(timers.PopDue(start + milliseconds(350), id));
  // Re-armed from when it fired, not from its old deadline.
  EXPECT_EQ(timers.MillisecondsUntilNext(start + milliseconds(350)), 200);
  timers.Set(100, 50, start + milliseconds(350));  // a new interval replaces the old one
  ASSERT_TRUE(timers.PopDue(start + milliseconds(400), id));
  EXPECT_EQ(id, 100);
}

}  // namespace
}  // namespace repair::terminal
