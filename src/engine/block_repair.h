// Repairing a large damaged client file block by block: its block index (block_index.h) says
// which blocks of the local copy are still right, and only the others are fetched, each run of
// neighbouring blocks with one single-range request. The result is held to the manifest's
// whole-file MD5 like any download; whenever block repair cannot be used (no index, a stale or
// garbage one, a host that answers a range with the whole file) the caller downloads the whole
// file as it always did.
//
// The repair builds "<cache path>.part" in file order, each block checked against the index
// before it is written: the part file is always a run of good blocks, maybe with a piece of
// the next. A run that is cut off leaves it; the next run keeps every block of it that the
// index still confirms and goes on from there, so no block is fetched twice and no run fetches
// more than the whole file. The whole-file download's resume record beside the part is
// removed first: that download never continues a part it did not write.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/heap_buffer.h"
#include "engine/block_index.h"
#include "engine/status.h"

namespace repair {

class Md5Stream;

// One entry's block repair.
struct BlockRepairJob {
  std::string fileUrl;    // the entry's own URL
  std::string indexUrl;   // its block index's URL
  std::string localPath;  // the damaged client file
  std::string cachePath;  // where the repaired file goes, as for DownloadToCache
  std::uint32_t size = 0;
  const std::uint8_t* md5 = nullptr;  // 16 bytes, the manifest's
  std::string caFile;                 // as HttpRequest::caFile
};

// True when an entry of `size` bytes is worth an index request: the run asks for none below.
// (The steps below work for any size.)
inline bool BlockRepairWorthTrying(std::uint32_t size) { return size >= kBlockRepairMinSize; }

// Where the blocks of one repair come from. Counted in blocks, except bytesToFetch.
struct BlockRepairCounts {
  std::uint32_t blocks = 0;
  std::uint32_t kept = 0;     // already in the part file, from a run that was cut off
  std::uint32_t reused = 0;   // taken from the local file
  std::uint32_t fetched = 0;  // fetched (planned: to fetch)
  std::uint32_t ranges = 0;   // range requests (planned: to make)
  std::uint32_t bytesToFetch = 0;
};

enum class BlockRepairOutcome {
  kReady,     // planned: ExecuteBlockRepair may go on
  kRepaired,  // the cache file holds exactly the entry's bytes
  kFallBack,  // block repair is no use here: fetch the whole file (status.note says why)
  kStopped,   // a stop request; the part file stays for the next run
  kFailed,    // status says what failed, as a whole-file download would have failed
};

struct BlockRepairResult {
  BlockRepairOutcome outcome = BlockRepairOutcome::kFallBack;
  Status status;  // kFailed: the failure; kFallBack: code None, the reason in `note`
  BlockRepairCounts counts;
  // kFailed because the server turned the index request or a range away (TurnedAway): a host at
  // its connection limit, worth asking again later rather than fetching the whole file.
  bool serverBusy = false;
};

// "1 of 4096 blocks fetched (1048576 bytes, 1 range), 4095 reused, 0 kept": for the run log.
std::string DescribeBlockRepair(const BlockRepairResult& result);

// Fetches the index at `url` of a file of `size` bytes with `md5` (one GET, refused unread when
// it declares more than MaxBlockIndexLength(size) bytes) and checks it with ParseBlockIndex.
// False, with `why` for a person, when there is none, it cannot be had or it is not this file's;
// `httpStatus` is the status of the answer (0 when none was read), `turnedAway` whether the
// server turned the request away (TurnedAway). A stop request ends it.
bool FetchBlockIndex(const std::string& url, const std::string& caFile, std::uint32_t size,
                     const std::uint8_t* md5, BlockIndex& index, std::string& why,
                     std::uint32_t* httpStatus = nullptr, bool* turnedAway = nullptr);

// What PlanBlockRepair found.
struct BlockRepairPlan {
  enum Source : std::uint8_t { kFromPart, kFromLocal, kFetch };
  BlockIndex index;
  std::vector<std::uint8_t> sources;  // by block
  std::uint32_t partKeep = 0;         // the part file's bytes that stay: its good blocks
  std::unique_ptr<Md5Stream> digest;  // of those bytes, to go on with
  HeapBuffer block;                   // one block's bytes; may be released between the steps
  BlockRepairCounts counts;
  bool executed = false;  // ExecuteBlockRepair has begun: the digest is no longer the plan's
  BlockRepairPlan();
  ~BlockRepairPlan();
};

// Fetches the entry's index (one request, at most MaxBlockIndexLength bytes), checks its
// binding to the entry, then digests the part file's blocks and the local file's, block by
// block, and lists what to fetch. Writes nothing. kReady, kFallBack, kStopped, or kFailed
// (serverBusy) when the server turned the index request away.
BlockRepairResult PlanBlockRepair(const BlockRepairJob& job, BlockRepairPlan& plan);

// Builds the part file from the plan: the local file's good blocks, checked again as they are
// copied, and the others fetched with one range request per run of neighbouring blocks, each
// answer a 206 for exactly the range asked; renames it to the cache file when its MD5 is the
// entry's. `counter` (optional) is set to 0 and raised by every fetched byte. kRepaired,
// kFallBack (the part file is removed), kStopped or kFailed (the part file is kept, holding
// good blocks only). A plan is executed once: a second call falls back. The plan's block
// buffer is allocated again when it was released after planning.
BlockRepairResult ExecuteBlockRepair(const BlockRepairJob& job, BlockRepairPlan& plan,
                                     std::atomic<std::uint32_t>* counter);

// Plans and executes. `toFetch` (optional) is set to the bytes the plan leaves to fetch, and
// back to the entry's size when the caller must fetch the whole file after all.
BlockRepairResult RepairFromBlocks(const BlockRepairJob& job, std::atomic<std::uint32_t>* counter,
                                   std::atomic<std::uint32_t>* toFetch);

}  // namespace repair
