// The scheduler of downloads at once, with fetches that only count and wait: how many run at
// once, what a failure, a busy server and a stop do to the rest.
#include "engine/download_scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "engine/recovery_state.h"

namespace repair {
namespace {

std::vector<std::size_t> Items(std::size_t count) {
  std::vector<std::size_t> items(count);
  std::iota(items.begin(), items.end(), 0);
  return items;
}

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Counts the fetches under way and the most there were at once; records each item's fetches.
struct Tally {
  explicit Tally(std::size_t items) : fetched(items) {}
  std::atomic<int> underWay{0};
  std::atomic<int> most{0};
  std::vector<std::atomic<int>> fetched;
  int Enter() {
    const int now = ++underWay;
    int seen = most.load();
    while (now > seen && !most.compare_exchange_weak(seen, now)) {
    }
    return now;
  }
  void Leave() { --underWay; }
};

class DownloadSchedulerTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetRecoveryState(); }
};

TEST_F(DownloadSchedulerTest, EveryItemOnceAndNeverMoreAtOnceThanAsked) {
  for (unsigned atOnce : {1u, 3u, 6u}) {
    Tally tally(24);
    std::vector<std::size_t> order;
    std::mutex orderMutex;
    const ScheduleResult result =
        RunDownloads(Items(24), atOnce, [&](std::size_t item, unsigned worker) {
          EXPECT_LT(worker, atOnce);
          tally.Enter();
          {
            std::lock_guard<std::mutex> lock(orderMutex);
            order.push_back(item);
          }
          Pause(5);
          ++tally.fetched[item];
          tally.Leave();
          return TransferEnd::kDone;
        });
    EXPECT_EQ(result.end, ScheduleEnd::kDone) << atOnce;
    EXPECT_EQ(result.atOnce, atOnce);
    EXPECT_LE(tally.most.load(), static_cast<int>(atOnce));
    if (atOnce > 1) {
      EXPECT_GT(tally.most.load(), 1) << "nothing ran at once";
    }
    for (const auto& count : tally.fetched) EXPECT_EQ(count.load(), 1);
    // One at a time, today's order: the list's.
    if (atOnce == 1) {
      EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    }
  }
}

// The first failure ends the downloads: the transfers under way see the group's cancel as a
// stop and end, nothing starts after it, and the run's own stop request stays down.
TEST_F(DownloadSchedulerTest, AFailureCancelsTheOthersAndNamesItsItem) {
  Tally tally(40);
  std::atomic<int> cancelledSeen{0};
  const ScheduleResult result = RunDownloads(Items(40), 4, [&](std::size_t item, unsigned) {
    ++tally.fetched[item];
    if (item < 5) return TransferEnd::kDone;
    if (item == 5) {
      Pause(50);
      return TransferEnd::kFailed;
    }
    for (int i = 0; i < 400; ++i) {  // a long transfer, honouring stops as a real one does
      if (StopRequested()) {
        ++cancelledSeen;
        return TransferEnd::kStopped;
      }
      Pause(5);
    }
    return TransferEnd::kDone;
  });
  EXPECT_EQ(result.end, ScheduleEnd::kFailed);
  EXPECT_EQ(result.failedItem, 5u);
  EXPECT_EQ(cancelledSeen.load(), 3);  // the three others under way with it
  for (std::size_t item = 9; item < 40; ++item) EXPECT_EQ(tally.fetched[item].load(), 0) << item;
  EXPECT_FALSE(StopRequested());  // the calling thread: the run itself was not stopped
}

// A server that takes two connections and refuses the rest: the extra transfers give their
// items back, fewer run at once, and every item still arrives.
TEST_F(DownloadSchedulerTest, ABusyServerMeansFewerAtOnceAndTheItemAgain) {
  Tally tally(30);
  std::atomic<int> refusals{0};
  std::atomic<int> connections{0};
  const ScheduleResult result = RunDownloads(Items(30), 6, [&](std::size_t item, unsigned) {
    if (++connections > 2) {
      Pause(2);
      --connections;
      ++refusals;
      return TransferEnd::kServerBusy;
    }
    Pause(10);
    ++tally.fetched[item];
    --connections;
    return TransferEnd::kDone;
  });
  EXPECT_EQ(result.end, ScheduleEnd::kDone);
  EXPECT_LE(result.atOnce, 2u);
  EXPECT_GE(result.atOnce, 1u);
  EXPECT_GT(refusals.load(), 0);
  for (const auto& count : tally.fetched) EXPECT_EQ(count.load(), 1);
}

// Busy with nothing else under way is the server's answer, not a matter of too many at once;
// so is a refusal repeated past the retries.
TEST_F(DownloadSchedulerTest, BusyWithNothingElseUnderWayIsAFailure) {
  std::atomic<int> calls{0};
  ScheduleResult result = RunDownloads(Items(3), 1, [&](std::size_t, unsigned) {
    ++calls;
    return TransferEnd::kServerBusy;
  });
  EXPECT_EQ(result.end, ScheduleEnd::kFailed);
  EXPECT_EQ(result.failedItem, 0u);
  EXPECT_EQ(calls.load(), 1);

  // Item 0 is refused while item 1 holds the server: tried again once item 1 is in, alone,
  // and refused alone it is a failure.
  std::atomic<int> tries{0};
  std::atomic<bool> oneIn{false};
  std::atomic<bool> retriedAlone{false};
  result = RunDownloads({1, 0}, 2, [&](std::size_t item, unsigned) {
    if (item == 1) {
      Pause(100);
      oneIn = true;
      return TransferEnd::kDone;
    }
    if (++tries == 2) retriedAlone = oneIn.load();
    return TransferEnd::kServerBusy;
  });
  EXPECT_EQ(result.end, ScheduleEnd::kFailed);
  EXPECT_EQ(result.failedItem, 0u);
  EXPECT_EQ(result.atOnce, 1u);
  EXPECT_EQ(tries.load(), 2);
  EXPECT_TRUE(retriedAlone.load());
}

TEST_F(DownloadSchedulerTest, AStopEndsTheDownloadsWithoutAFailure) {
  Tally tally(20);
  const ScheduleResult result = RunDownloads(Items(20), 3, [&](std::size_t item, unsigned) {
    ++tally.fetched[item];
    if (item == 4) RequestStop();
    Pause(5);
    return StopRequested() ? TransferEnd::kStopped : TransferEnd::kDone;
  });
  EXPECT_EQ(result.end, ScheduleEnd::kStopped);
  for (std::size_t item = 8; item < 20; ++item) EXPECT_EQ(tally.fetched[item].load(), 0) << item;
}

}  // namespace
}  // namespace repair
