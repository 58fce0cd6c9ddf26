#include "engine/file_check.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "codec/codec.h"
#include "common/format.h"
#include "engine/file_ops.h"
#include "engine/worker_threads.h"
#include "platform/file_io.h"
#include "platform/paths.h"

namespace repair {

unsigned CheckThreads(platform::DiskKind kind, unsigned cores) {
  if (kind == platform::DiskKind::kRotational) return 1;
  return std::clamp(cores, 1u, kMostCheckThreads);
}

unsigned CheckThreadsFor(const char* baseFolder) {
  return CheckThreads(platform::DiskKindOf(baseFolder), std::thread::hardware_concurrency());
}

Status CheckEntry(FileEntry& entry, const char* baseFolder, HeapBuffer& block, std::string& why) {
  why.clear();
  entry.state.store(Checking);
  char localPath[kPathBufferSize];
  if (!platform::BuildLocalPath(localPath, baseFolder, entry.name.c_str())) {
    return Failure(RecoveryError::Unknown, "check", entry.name, "path over 259 characters");
  }
  // The length is the cheap half of the comparison: a file of another length cannot have the
  // manifest's bytes. A name the size query does not answer for (a link, a second name of a
  // file) is read as before and judged by its digest.
  std::uint32_t length = 0;
  if (platform::RegularFileSize(localPath, length) && length != entry.size) {
    why = std::to_string(length) + " bytes, not " + std::to_string(entry.size);
    entry.state.store(Invalid);
    return Ok();
  }
  std::uint8_t digest[kMd5Size];
  // A file that cannot be read is a file to repair, not a failure of the run.
  const Status digested = DigestFile(localPath, block, digest);
  // Cut short by a stop, the entry is neither: it stays Checking.
  if (digested.stopped) return digested;
  if (digested.ok() && std::memcmp(digest, entry.md5, kMd5Size) == 0) {
    entry.done.store(entry.size);
    entry.state.store(Intact);
  } else {
    if (!digested.ok()) why = digested.Detail();
    entry.state.store(Invalid);
  }
  return Ok();
}

Status CheckFiles(FileList& files, const char* baseFolder, unsigned threads,
                  std::vector<std::string>* why) {
  if (why != nullptr) why->assign(files.size(), std::string());
  std::atomic<std::size_t> next{0};
  std::atomic<bool> halt{false};
  std::mutex endMutex;
  Status end;  // the first failure or stop, under endMutex
  RunWorkers(std::max(threads, 1u), [&](unsigned) {
    HeapBuffer block;
    if (!block.Allocate(kFileBlockSize)) return;  // the others take this one's share
    std::string reason;
    while (!halt.load()) {
      if (StopRequested()) {
        halt.store(true);
        break;
      }
      const std::size_t index = next.fetch_add(1);
      if (index >= files.size()) break;
      Status status = CheckEntry(*files.At(index), baseFolder, block, reason);
      // Each index is this thread's alone: its slot needs no lock.
      if (why != nullptr) (*why)[index] = reason;
      if (status.ok()) continue;
      halt.store(true);
      std::lock_guard<std::mutex> lock(endMutex);
      if (end.ok()) end = std::move(status);
    }
  });
  if (!end.ok()) return end;
  if (StopRequested()) return Stopped();
  // Entries left unchecked with neither a failure nor a stop: no thread had a block.
  if (next.load() < files.size()) {
    return Failure(RecoveryError::MemoryAllocation, "allocate the check's buffers", "", "");
  }
  return Ok();
}

}  // namespace repair
