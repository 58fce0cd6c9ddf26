#include "platform/progress_floor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

namespace repair::platform {
namespace {

using Clock = ProgressFloor::Clock;
using std::chrono::milliseconds;

// One thing that happens to a floor of 100 bytes in 1000 ms started at 0 ms: bytes arrive,
// time goes elsewhere, or it is asked whether it holds.
struct Step {
  enum Kind { kCount, kExclude, kCheck } kind;
  int atMs;              // kCheck: when it is asked
  std::uint64_t amount;  // kCount: bytes; kExclude: milliseconds
  bool holds;            // kCheck: the answer expected
};

TEST(ProgressFloor, EndsTheFirstWindowWithTooFewBytes) {
  struct Case {
    const char* name;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"nothing, checked before and at the window's end",
       {{Step::kCheck, 999, 0, true}, {Step::kCheck, 1000, 0, false}}},
      {"one byte short", {{Step::kCount, 0, 99, 0}, {Step::kCheck, 1500, 0, false}}},
      {"exactly the floor", {{Step::kCount, 0, 100, 0}, {Step::kCheck, 1000, 0, true}}},
      {"a good window is no credit for the next one",
       {{Step::kCount, 0, 5000, 0},
        {Step::kCheck, 1200, 0, true},  // the next window runs from 1200 to 2200
        {Step::kCount, 0, 99, 0},
        {Step::kCheck, 2199, 0, true},
        {Step::kCheck, 2200, 0, false}}},
      {"time spent elsewhere extends the window",
       {{Step::kExclude, 0, 700, 0},
        {Step::kCheck, 1699, 0, true},
        {Step::kCheck, 1700, 0, false}}},
  };
  const Clock::time_point zero = Clock::now();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgressFloor floor(100, milliseconds(1000));
    floor.Start(zero);
    for (const Step& step : c.steps) {
      switch (step.kind) {
        case Step::kCount: floor.Count(step.amount); break;
        case Step::kExclude: floor.Exclude(milliseconds(step.amount)); break;
        case Step::kCheck:
          EXPECT_EQ(floor.Holds(zero + milliseconds(step.atMs)), step.holds) << step.atMs;
          break;
      }
    }
  }
}

TEST(ProgressFloor, HoldsUntilStarted) {
  ProgressFloor floor(100, milliseconds(1000));
  const Clock::time_point zero = Clock::now();
  EXPECT_TRUE(floor.Holds(zero + milliseconds(60000)));
  floor.Start(zero + milliseconds(60000));
  EXPECT_TRUE(floor.Holds(zero + milliseconds(60999)));
  EXPECT_FALSE(floor.Holds(zero + milliseconds(61000)));
}

}  // namespace
}  // namespace repair::platform
