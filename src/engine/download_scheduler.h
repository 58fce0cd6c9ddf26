// Several downloads at once: a few workers take the next file from one queue, each over a
// connection of its own, until every file is in, one fails, or the run is stopped.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace repair {

// How one transfer ended, as the caller's fetch reports it.
enum class TransferEnd {
  kDone,
  kServerBusy,  // the server refused the connection, or answered 503 or 429
  kFailed,      // anything else that ends the run
  kStopped,     // a stop request, or the group's cancel, ended it (nothing failed)
};

enum class ScheduleEnd { kDone, kFailed, kStopped };

struct ScheduleResult {
  ScheduleEnd end = ScheduleEnd::kDone;
  std::size_t failedItem = 0;  // kFailed: the item whose failure ended the downloads
  unsigned atOnce = 0;         // transfers at once when the downloads ended
};

// A refused item is tried again at most this many times before its refusal ends the run.
constexpr unsigned kMostBusyRetries = 8;

// Fetches every item of `items` (in their order), up to `atOnce` at a time, by calling
// fetch(item, worker) on worker threads numbered from 0 (worker 0 is the calling thread); a
// worker may keep what it needs per transfer (a buffer, a connection) by its number. Each
// worker runs inside a CancelScope: when an item fails, the group's cancel is raised, no
// further item starts, the transfers under way end as a stop would end them, and the result
// names the failed item (the first to fail, if several did). A server that is busy while other
// transfers of the group are under way is met with fewer at once: the busiest worker numbers
// stop taking items and the item goes back to the front of the queue, to be tried again when
// a transfer has ended. Busy with nothing else under way, or more than kMostBusyRetries times,
// it is a failure like any other. kStopped when the user's stop request ended the downloads.
ScheduleResult RunDownloads(
    const std::vector<std::size_t>& items, unsigned atOnce,
    const std::function<TransferEnd(std::size_t item, unsigned worker)>& fetch);

}  // namespace repair
