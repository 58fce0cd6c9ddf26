#include "engine/download_scheduler.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "engine/recovery_state.h"
#include "engine/worker_threads.h"

namespace repair {
namespace {

class Scheduler {
 public:
  Scheduler(const std::vector<std::size_t>& items, unsigned atOnce,
            const std::function<TransferEnd(std::size_t, unsigned)>& fetch)
      : queue_(items.begin(), items.end()),
        retries_(items.empty() ? 0 : *std::max_element(items.begin(), items.end()) + 1, 0),
        fetch_(fetch),
        limit_(std::max(atOnce, 1u)) {}

  ScheduleResult Run() {
    RunWorkers(limit_, [this](unsigned worker) { Work(worker); });
    ScheduleResult result;
    result.atOnce = limit_;
    if (failed_) {
      result.end = ScheduleEnd::kFailed;
      result.failedItem = failedItem_;
    } else if (!queue_.empty() || unfinished_) {
      result.end = ScheduleEnd::kStopped;
    }
    return result;
  }

 private:
  void Work(unsigned worker) {
    const CancelScope scope(cancel_);
    for (;;) {
      std::size_t item = 0;
      unsigned underWay = 0;  // transfers under way when this one starts, itself included
      {
        std::unique_lock<std::mutex> lock(mutex_);
        // Waits for an item while this worker is within the limit and transfers that may
        // give items back (refused ones) are under way.
        wake_.wait(lock, [&] { return Ended() || worker >= limit_ || Startable(); });
        if (Ended() || worker >= limit_ || queue_.empty()) return;
        item = queue_.front();
        queue_.pop_front();
        underWay = ++active_;
      }
      const TransferEnd end = fetch_(item, worker);
      std::lock_guard<std::mutex> lock(mutex_);
      --active_;
      Settle(item, end, underWay);
      wake_.notify_all();
    }
  }

  // Under the lock.
  bool Ended() const { return failed_ || StopRequested(); }
  bool Startable() const { return !queue_.empty() ? active_ < limit_ : active_ == 0; }

  // Under the lock: what one transfer's end means for the rest.
  void Settle(std::size_t item, TransferEnd end, unsigned underWay) {
    switch (end) {
      case TransferEnd::kDone: return;
      case TransferEnd::kStopped:  // the run's stop, or the group's cancel after a failure
        unfinished_ = true;
        return;
      case TransferEnd::kServerBusy: {
        // Others under way when it started or now: the server held their connections.
        const unsigned others = std::max(underWay - 1, active_);
        if (others > 0 && retries_[item] < kMostBusyRetries && !failed_) {
          ++retries_[item];
          limit_ = std::max(1u, std::min(limit_, others));
          queue_.push_front(item);
          return;
        }
        break;
      }
      case TransferEnd::kFailed: break;
    }
    if (failed_) return;  // only the first failure is the run's
    failed_ = true;
    failedItem_ = item;
    cancel_.store(true);
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::size_t> queue_;
  std::vector<unsigned> retries_;
  const std::function<TransferEnd(std::size_t, unsigned)>& fetch_;
  unsigned limit_;
  unsigned active_ = 0;
  bool failed_ = false;
  bool unfinished_ = false;  // a transfer ended by a stop
  std::size_t failedItem_ = 0;
  std::atomic<bool> cancel_{false};
};

}  // namespace

ScheduleResult RunDownloads(const std::vector<std::size_t>& items, unsigned atOnce,
                            const std::function<TransferEnd(std::size_t, unsigned)>& fetch) {
  Scheduler scheduler(items, atOnce, fetch);
  return scheduler.Run();
}

}  // namespace repair
