// One damaged entry's way into the recovery cache, as the download phase takes each: what it
// needs (the plan), and the step that gets it there. The download phase runs several of these
// at once, each on a thread of its own with a work buffer of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/heap_buffer.h"
#include "engine/block_repair.h"
#include "engine/recovery_state.h"
#include "engine/status.h"

namespace repair {

// How an entry reaches the cache, decided before the first request.
struct PlannedFetch {
  std::size_t index = 0;  // the entry's position in the run's list
  std::string url;
  std::string cachePath;
  bool empty = false;   // an empty file: its cache file is written, nothing is fetched
  bool cached = false;  // a cache file of an earlier run holds the entry's bytes (digest checked)
  // What the requests bring: the entry's size less what a resumable part file holds, or the
  // blocks a block repair fetches; 0 when nothing is fetched. The plan sums it.
  std::uint32_t bytesToFetch = 0;
  // A large entry's block repair, planned: its index fetched and checked, the local file's
  // blocks digested. Null when the entry is fetched whole, and when its index could not be
  // asked for yet (a busy server): the fetch then plans it itself.
  std::shared_ptr<BlockRepairPlan> blocks;
  std::string wholeWhy;  // why a large entry is fetched whole after all; empty for others
};

// Whether a cache file left by an earlier run holds exactly the entry's bytes (`matches`); a
// failure when the file exists but cannot be read (the run ends).
Status CacheFileMatches(const char* cachePath, const FileEntry& entry, HeapBuffer& block,
                        bool& matches);

// Whether an entry is one for an empty file: its cache file is written, never downloaded (a
// server sends an empty file with Content-Length 0, which is no download at all).
bool IsEmptyEntry(const FileEntry& entry);

// What every fetch of a run shares.
struct FetchContext {
  const char* baseFolder = "";  // the client folder, for a large entry's local file
  const char* remote = "";      // the build's remote folder, for a block index's URL
  const char* caFile = nullptr;
};

// What became of one fetched entry, for the run log: "empty", "already in the cache",
// "N bytes", "by blocks, ..." or "whole file, <why not by blocks>; N bytes".
struct FetchReport {
  std::string line;
  bool serverBusy = false;  // the server turned a request away: worth trying again later
};

// Plans the block repair of a damaged entry large enough for one whose local file is there
// (block_repair.h), before the first download: sets fetch.blocks and lowers bytesToFetch to the
// blocks, or sets fetch.wholeWhy. An index the server turned away leaves both unset. Reads the
// local file; writes nothing. Stopped() on a stop request.
Status PlanBlockFetch(const FileEntry& entry, const FetchContext& context, PlannedFetch& fetch);

// Brings one entry into its cache path as planned: the empty cache file, nothing for a cache
// hit, the damaged blocks of a large file whose release has a block index, otherwise the
// download (resumed where a part file allows), raising the entry's `done` (and setting its
// `toFetch`) as bytes arrive. `block` is this transfer's own work buffer. Stopped() when a stop
// request or the group's cancel ended it (the part file stays for the next run). The entry's
// state is the caller's to set, and so is the log (from `report`): several transfers run at
// once, and only one thread may write the log at a time.
Status FetchEntry(FileEntry& entry, const PlannedFetch& plan, const FetchContext& context,
                  HeapBuffer& block, FetchReport& report);

}  // namespace repair
