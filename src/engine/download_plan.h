// The download plan: after the check and before the first request, which damaged entries are
// fetched and how many bytes that brings, and whether the cache's volume has room for them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/heap_buffer.h"
#include "engine/entry_fetch.h"
#include "engine/recovery_state.h"
#include "engine/status.h"

namespace repair {

// Room each fetched file takes beyond its bytes: the rounding of its last cluster and its part
// file's record.
constexpr std::uint64_t kCacheSlackPerFile = 8 * 1024;

struct DownloadPlan {
  std::vector<PlannedFetch> entries;  // every Invalid entry, in list order
  std::uint32_t files = 0;            // entries that need a request
  std::uint64_t bytes = 0;            // their bytesToFetch, summed
  std::uint32_t cachedFiles = 0;      // entries the cache holds already
  std::uint32_t emptyFiles = 0;       // entries for empty files
  std::uint32_t blockFiles = 0;       // entries repaired by blocks (their bytes: the blocks)
  // Room the cache needs beyond what it holds: bytes and kCacheSlackPerFile per fetched file.
  std::uint64_t roomNeeded = 0;
  bool freeKnown = false;  // whether the system told the cache volume's free space
  std::uint64_t freeBytes = 0;
};

// Plans every Invalid entry of `files`, at the URL under `context.remote` and the cache path
// planned for it by list index (`cachePaths`); a cache file of an earlier run is digested
// through `block` to tell a hit, and a large entry's block repair is planned (PlanBlockFetch:
// its index fetched, the local file read). Nothing is written. Fails (Unknown) for a URL or
// cache path that does not fit the tool's buffers, and as DigestFile for a cache file that
// cannot be read; Stopped() on a stop request.
Status PlanDownloads(const FileList& files, const FetchContext& context,
                     const std::vector<std::string>& cachePaths, HeapBuffer& block,
                     DownloadPlan& plan);

// Asks for the free space of the volume the cache lies on (the cache folder when it exists, else
// the client folder `baseFolder`) and fails with DiskSpace when it is less than the plan's
// roomNeeded. A volume whose free space the system does not tell is not refused.
Status CheckCacheRoom(DownloadPlan& plan, const char* baseFolder);

// The plan in one line for the run log: "plan: 12 files to fetch, 3456789 bytes (2 by blocks,
// 2 in the cache, 1 empty); room needed 3555093 bytes, free 1234567890".
std::string DescribePlan(const DownloadPlan& plan);

}  // namespace repair
