#include "engine/download_plan.h"

#include "common/format.h"
#include "engine/file_download.h"
#include "engine/url.h"
#include "platform/disk_info.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace repair {

Status PlanDownloads(const FileList& files, const FetchContext& context,
                     const std::vector<std::string>& cachePaths, HeapBuffer& block,
                     DownloadPlan& plan) {
  plan = DownloadPlan();
  char url[kPathBufferSize];
  for (std::size_t i = 0; i < files.size(); ++i) {
    const FileEntry& entry = *files.At(i);
    if (entry.state.load() != Invalid) continue;
    if (StopRequested()) return Stopped();
    PlannedFetch fetch;
    fetch.index = i;
    if (!BuildFileUrl(url, context.remote, entry.name.c_str())) {
      return Failure(RecoveryError::Unknown, "fetch", entry.name, "URL over 259 characters");
    }
    fetch.url = url;
    fetch.cachePath = i < cachePaths.size() ? cachePaths[i] : std::string();
    if (fetch.cachePath.empty()) {  // too long for the buffers
      return Failure(RecoveryError::Unknown, "fetch", entry.name, "cache path over 259 characters");
    }
    fetch.empty = IsEmptyEntry(entry);
    if (!fetch.empty) {
      Status status = CacheFileMatches(fetch.cachePath.c_str(), entry, block, fetch.cached);
      if (!status.ok()) return status;
    }
    if (fetch.empty) {
      ++plan.emptyFiles;
    } else if (fetch.cached) {
      ++plan.cachedFiles;
    } else {
      fetch.bytesToFetch =
          entry.size - ResumableBytes(fetch.cachePath.c_str(), entry.size, entry.md5);
      // What the cache file takes beyond the part file it grows from.
      std::uint32_t written = fetch.bytesToFetch;
      Status status = PlanBlockFetch(entry, context, fetch);
      if (!status.ok()) return status;
      if (fetch.blocks != nullptr) {
        ++plan.blockFiles;
        written = entry.size - fetch.blocks->partKeep;
      }
      ++plan.files;
      plan.bytes += fetch.bytesToFetch;
      plan.roomNeeded += std::uint64_t{written} + kCacheSlackPerFile;
    }
    plan.entries.push_back(std::move(fetch));
  }
  return Ok();
}

Status CheckCacheRoom(DownloadPlan& plan, const char* baseFolder) {
  plan.freeKnown = false;
  plan.freeBytes = 0;
  if (plan.roomNeeded == 0) return Ok();
  // Every cache path lies in the one cache folder: asked where it is, or will be made.
  std::string where = baseFolder;
  platform::PathFolder folder;
  for (const PlannedFetch& fetch : plan.entries) {
    if (fetch.bytesToFetch == 0) continue;
    if (platform::SplitFolder(fetch.cachePath.c_str(), folder) &&
        platform::LookAtEntry(folder.path) == platform::EntryKind::kFolder) {
      where = folder.path;
    }
    break;
  }
  plan.freeKnown = platform::FreeDiskBytes(where.c_str(), plan.freeBytes);
  if (!plan.freeKnown || plan.freeBytes >= plan.roomNeeded) return Ok();
  return Failure(RecoveryError::DiskSpace, "make room for the downloads in", where,
                 std::to_string(plan.roomNeeded) + " bytes needed, " +
                     std::to_string(plan.freeBytes) + " free");
}

std::string DescribePlan(const DownloadPlan& plan) {
  std::string line = "plan: " + std::to_string(plan.files) + " files to fetch, " +
                     std::to_string(plan.bytes) + " bytes (" + std::to_string(plan.blockFiles) +
                     " by blocks, " + std::to_string(plan.cachedFiles) + " in the cache, " +
                     std::to_string(plan.emptyFiles) + " empty); room needed " +
                     std::to_string(plan.roomNeeded) + " bytes, free ";
  return line + (plan.freeKnown ? std::to_string(plan.freeBytes) : std::string("unknown"));
}

}  // namespace repair
