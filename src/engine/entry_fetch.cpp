#include "engine/entry_fetch.h"

#include <cstring>

#include "codec/codec.h"
#include "common/format.h"
#include "engine/block_repair.h"
#include "engine/file_download.h"
#include "engine/file_ops.h"
#include "engine/url.h"
#include "platform/file_io.h"
#include "platform/paths.h"

namespace repair {
namespace {

// MD5 of zero bytes: what an entry for an empty file carries.
constexpr std::uint8_t kEmptyMd5[kMd5Size] = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                                              0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};

}  // namespace

Status CacheFileMatches(const char* cachePath, const FileEntry& entry, HeapBuffer& block,
                        bool& matches) {
  matches = false;
  std::uint32_t size = 0;
  // Anything but a plain file at the cache path (a link, a second name of another file, a
  // FIFO) is no cache file: the download replaces the name. An empty cache file is what a
  // crash mid-write leaves: stale, fetched again. One of another length cannot match.
  if (!platform::RegularFileSize(cachePath, size) || size == 0 || size != entry.size) return Ok();
  std::uint8_t digest[kMd5Size];
  Status digested = DigestFile(cachePath, block, digest);
  if (!digested.ok()) return digested;
  matches = std::memcmp(digest, entry.md5, kMd5Size) == 0;
  return Ok();
}

bool IsEmptyEntry(const FileEntry& entry) {
  return entry.size == 0 && std::memcmp(entry.md5, kEmptyMd5, kMd5Size) == 0;
}

namespace {

// The block repair of `entry` as planned in `fetch`. False when the entry is not one for it:
// too small, no local file, or paths that do not fit the tool's buffers.
bool BuildBlockJob(const FileEntry& entry, const PlannedFetch& fetch, const FetchContext& context,
                   BlockRepairJob& job) {
  char localPath[kPathBufferSize];
  char indexUrl[kPathBufferSize];
  const std::string indexName = entry.name + kBlockIndexSuffix;
  if (!BlockRepairWorthTrying(entry.size) ||
      !platform::BuildLocalPath(localPath, context.baseFolder, entry.name.c_str()) ||
      !FileExists(localPath) || !BuildFileUrl(indexUrl, context.remote, indexName.c_str())) {
    return false;
  }
  job.fileUrl = fetch.url;
  job.indexUrl = indexUrl;
  job.localPath = localPath;
  job.cachePath = fetch.cachePath;
  job.size = entry.size;
  job.md5 = entry.md5;
  if (context.caFile != nullptr) job.caFile = context.caFile;
  return true;
}

// A large entry whose local file is there is first repaired block by block from its block
// index, when the release has one: as planned before the downloads, or planned now when the
// plan could not be made then (or was used by an attempt the server turned away). `repaired`
// tells whether the cache file is in place; when it is not and the status is ok, the whole
// file is to be fetched (`why` says why not by blocks).
Status RepairLargeEntry(FileEntry& entry, const PlannedFetch& fetch, const FetchContext& context,
                        bool& repaired, std::string& why, bool& serverBusy) {
  repaired = false;
  why.clear();
  if (!fetch.wholeWhy.empty()) {
    why = "whole file, " + fetch.wholeWhy;
    return Ok();
  }
  BlockRepairJob job;
  if (!BuildBlockJob(entry, fetch, context, job)) return Ok();
  BlockRepairResult result;
  if (fetch.blocks != nullptr && !fetch.blocks->executed) {
    // The entry's toFetch holds the plan's bytes since the plan was made.
    result = ExecuteBlockRepair(job, *fetch.blocks, &entry.done);
    if (result.outcome == BlockRepairOutcome::kFallBack) entry.toFetch.store(entry.size);
  } else {
    result = RepairFromBlocks(job, &entry.done, &entry.toFetch);
  }
  serverBusy = result.serverBusy;
  switch (result.outcome) {
    case BlockRepairOutcome::kRepaired:
      repaired = true;
      why = "by blocks, " + DescribeBlockRepair(result);
      return Ok();
    case BlockRepairOutcome::kStopped: return Stopped();
    case BlockRepairOutcome::kFailed: return result.status;
    default: break;
  }
  why = "whole file, " + result.status.note;
  return Ok();
}

}  // namespace

Status PlanBlockFetch(const FileEntry& entry, const FetchContext& context, PlannedFetch& fetch) {
  BlockRepairJob job;
  if (!BuildBlockJob(entry, fetch, context, job)) return Ok();
  auto plan = std::make_shared<BlockRepairPlan>();
  const BlockRepairResult result = PlanBlockRepair(job, *plan);
  switch (result.outcome) {
    case BlockRepairOutcome::kReady:
      plan->block.Reset();  // a block's buffer for each planned file would add up
      fetch.bytesToFetch = plan->counts.bytesToFetch;
      fetch.blocks = std::move(plan);
      return Ok();
    case BlockRepairOutcome::kStopped: return Stopped();
    case BlockRepairOutcome::kFallBack: fetch.wholeWhy = result.status.note; return Ok();
    default: return Ok();  // the index turned away: planned when the transfer comes
  }
}

Status FetchEntry(FileEntry& entry, const PlannedFetch& plan, const FetchContext& context,
                  HeapBuffer& block, FetchReport& report) {
  report = FetchReport();
  if (plan.empty) {
    report.line = "empty";
    return WriteWholeFile(plan.cachePath.c_str(), nullptr, 0);
  }
  if (plan.cached) {
    report.line = "already in the cache";
    return Ok();
  }
  bool repaired = false;
  std::string why;
  Status status = RepairLargeEntry(entry, plan, context, repaired, why, report.serverBusy);
  if (!status.ok() || repaired) {
    report.line = why;
    return status;
  }
  // The manifest is the only thing that says what a file must hold: bytes that differ
  // from it never reach the cache, let alone the client folder.
  status = DownloadToCache(plan.url.c_str(), plan.cachePath.c_str(), entry.size, entry.md5,
                           &entry.done, block, context.caFile, &report.serverBusy);
  report.line = (why.empty() ? std::string() : why + "; ") + std::to_string(entry.size) + " bytes";
  return status;
}

}  // namespace repair
