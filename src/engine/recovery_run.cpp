#include "engine/recovery_run.h"

#include <cstring>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "common/format.h"
#include "common/heap_buffer.h"
#include "engine/block_repair.h"
#include "engine/cache_plan.h"
#include "engine/file_download.h"
#include "engine/file_ops.h"
#include "engine/manifest.h"
#include "engine/own_file.h"
#include "engine/recovery_state.h"
#include "engine/run_log.h"
#include "engine/status.h"
#include "engine/url.h"
#include "engine/version.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace repair {
namespace {

// MD5 of zero bytes: what an entry for an empty file carries.
constexpr std::uint8_t kEmptyMd5[kMd5Size] = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                                              0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};

// How the run ends when a step did not succeed. A run the user stopped ends without an error of
// its own: whatever the step that the stop cut short returned is not what went wrong, and must
// not be reported as if it were. Otherwise the step's code and detail are stored, once.
bool End(const Status& status, RunLog& log) {
  RecoveryState& state = GlobalRecoveryState();
  if (status.stopped || StopRequested()) {
    SetErrorDetail(RecoveryError::None, std::string());
    log.Line("stopped by the user");
  } else {
    // A step that failed without naming a code is still a failure.
    const RecoveryError code =
        status.code == RecoveryError::None ? RecoveryError::Unknown : status.code;
    SetErrorDetail(code, status.Detail());
    log.Failure(status);
  }
  log.Close();
  state.running.store(0);
  return false;
}

}  // namespace

// Under the list's lock, so that the refresh never reads an entry while the list changes shape.
// Where the file system ignores letter case, so does the comparison: "Repair.exe" there is the
// running tool, which must not be replaced; so is any other name that resolves to it.
void PublishEntries(RecoveryState& state, FileList& parsed, const char* baseFolder,
                    const char* ownFileName) {
  // Decided before the lock is taken: a name may need a look at the file system.
  const OwnFileMatcher ownFile(baseFolder, ownFileName);
  std::vector<bool> dropped(parsed.size());
  for (std::size_t i = 0; i < parsed.size(); ++i) dropped[i] = ownFile.Matches(parsed.At(i)->name);
  std::lock_guard<std::mutex> lock(state.filesMutex);
  std::size_t index = 0;
  for (auto it = parsed.begin(); it != parsed.end(); ++it) {
    if (!dropped[index++]) state.files.Append(std::move(*it));
  }
  parsed.Clear();
}

namespace {

// The verdicts of the check, as the log writes them.
const char* VerdictText(std::uint32_t state) { return state == Intact ? "intact" : "damaged"; }

// Checks every entry's local file, block by block through the run's work buffer.
Status CheckFiles(const char* baseFolder, HeapBuffer& block, RunLog& log) {
  FileList& files = GlobalRecoveryState().files;
  char localPath[kPathBufferSize];
  for (auto& entry : files) {
    if (StopRequested()) return Stopped();
    entry->state.store(Checking);
    if (!platform::BuildLocalPath(localPath, baseFolder, entry->name.c_str())) {
      return Failure(RecoveryError::Unknown, "check", entry->name, "path over 259 characters");
    }
    std::uint8_t digest[kMd5Size];
    // A file that cannot be read is a file to repair, not a failure of the run.
    const Status digested = DigestFile(localPath, block, digest);
    // Cut short by a stop, the entry is neither: it stays Checking.
    if (digested.stopped) return digested;
    if (digested.ok() && std::memcmp(digest, entry->md5, kMd5Size) == 0) {
      entry->done.store(entry->size);
      entry->state.store(Intact);
    } else {
      entry->state.store(Invalid);
    }
    if (log.on()) {
      std::string line = "check " + entry->name + ": " + VerdictText(entry->state.load());
      if (!digested.ok()) line += " (" + digested.Detail() + ")";
      log.Line(line);
    }
  }
  return Ok();
}

// True when a cache file left by an earlier run holds exactly the entry's bytes; a failure
// when the file exists but cannot be read (the run ends).
Status CacheFileMatches(const char* cachePath, const FileEntry& entry, HeapBuffer& block,
                        bool& matches) {
  matches = false;
  std::uint32_t size = 0;
  // Anything but a plain file at the cache path (a link, a second name of another file, a
  // FIFO) is no cache file: the download replaces the name. An empty cache file is what a
  // crash mid-write leaves: stale, fetched again.
  if (!platform::RegularFileSize(cachePath, size) || size == 0) return Ok();
  std::uint8_t digest[kMd5Size];
  Status digested = DigestFile(cachePath, block, digest);
  if (!digested.ok()) return digested;
  matches = std::memcmp(digest, entry.md5, kMd5Size) == 0;
  return Ok();
}

// An entry for an empty file needs no download (a server sends one with Content-Length 0,
// which is no download at all): its cache file is written empty, to be moved like any other.
// `written` says whether the entry was such an entry.
Status WriteEmptyCacheFile(const char* cachePath, const FileEntry& entry, bool& written) {
  written = false;
  if (entry.size != 0 || std::memcmp(entry.md5, kEmptyMd5, kMd5Size) != 0) return Ok();
  Status status = WriteWholeFile(cachePath, nullptr, 0);
  written = status.ok();
  return status;
}

// Before the first write: every folder the run is about to write into, below the base folder,
// must be a real folder. One that is a link or junction ends the run with LinkedFolder; the run
// writes through no link, and a player who moved a folder elsewhere with one is told so rather
// than have it replaced. Reading through such a folder, as the check did, is harmless.
Status CheckWriteFolders(const char* baseFolder, const std::vector<std::string>& cachePaths) {
  FileList& files = GlobalRecoveryState().files;
  char localPath[kPathBufferSize];
  // Every cache path lies in the one cache folder: it is looked at once, with the first.
  bool cacheFolderSeen = false;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const FileEntry& entry = *files.At(i);
    if (entry.state.load() != Invalid) continue;
    if (!platform::BuildLocalPath(localPath, baseFolder, entry.name.c_str())) {
      return Failure(RecoveryError::Unknown, "repair", entry.name, "path over 259 characters");
    }
    if (LinkedFolderOnPath(baseFolder, localPath)) {
      return Failure(RecoveryError::LinkedFolder, "write", localPath,
                     "a folder on the way is a link");
    }
    if (!cacheFolderSeen && !cachePaths[i].empty()) {
      cacheFolderSeen = true;
      if (LinkedFolderOnPath(baseFolder, cachePaths[i].c_str())) {
        return Failure(RecoveryError::LinkedFolder, "write", cachePaths[i],
                       "a folder on the way is a link");
      }
    }
  }
  return Ok();
}

// Where the run fetches an entry from and puts it.
struct FetchPlace {
  const char* baseFolder;
  const char* remote;
  const char* url;
  const char* cachePath;
  const char* caFile;
};

// A large entry whose local file is there is first repaired block by block from its block
// index, when the release has one. `repaired` tells whether the cache file is in place; when it
// is not and the status is ok, the whole file is to be fetched.
Status RepairLargeEntry(FileEntry& entry, const FetchPlace& place, RunLog& log, bool& repaired) {
  repaired = false;
  char localPath[kPathBufferSize];
  char indexUrl[kPathBufferSize];
  const std::string indexName = entry.name + kBlockIndexSuffix;
  if (!BlockRepairWorthTrying(entry.size) ||
      !platform::BuildLocalPath(localPath, place.baseFolder, entry.name.c_str()) ||
      !FileExists(localPath) || !BuildFileUrl(indexUrl, place.remote, indexName.c_str())) {
    return Ok();
  }
  BlockRepairJob job;
  job.fileUrl = place.url;
  job.indexUrl = indexUrl;
  job.localPath = localPath;
  job.cachePath = place.cachePath;
  job.size = entry.size;
  job.md5 = entry.md5;
  if (place.caFile != nullptr) job.caFile = place.caFile;
  const BlockRepairResult result = RepairFromBlocks(job, &entry.done, &entry.toFetch);
  switch (result.outcome) {
    case BlockRepairOutcome::kRepaired:
      repaired = true;
      log.Line("fetch " + entry.name + ": by blocks, " + DescribeBlockRepair(result));
      return Ok();
    case BlockRepairOutcome::kStopped: return Stopped();
    case BlockRepairOutcome::kFailed: return result.status;
    default: log.Line("fetch " + entry.name + ": whole file, " + result.status.note); return Ok();
  }
}

// Fetches one Invalid entry into its cache path: nothing for an empty file or a cache file an
// earlier run completed, the damaged blocks of a large file with a block index, otherwise the
// download.
Status FetchEntry(FileEntry& entry, const FetchPlace& place, HeapBuffer& block, RunLog& log) {
  bool cached = false;
  Status status = WriteEmptyCacheFile(place.cachePath, entry, cached);
  if (status.ok() && !cached) status = CacheFileMatches(place.cachePath, entry, block, cached);
  if (!status.ok()) return status;
  if (cached) {
    log.Line("fetch " + entry.name + ": already in the cache");
    return Ok();
  }
  status = RepairLargeEntry(entry, place, log, cached);
  if (!status.ok() || cached) return status;
  // The manifest is the only thing that says what a file must hold: bytes that differ
  // from it never reach the cache, let alone the client folder.
  status = DownloadToCache(place.url, place.cachePath, entry.size, entry.md5, &entry.done, block,
                           place.caFile);
  if (status.ok()) log.Line("fetch " + entry.name + ": " + std::to_string(entry.size) + " bytes");
  return status;
}

// Downloads every Invalid entry into the cache path planned for it (by list index).
Status DownloadFiles(const char* baseFolder, const std::string& remote,
                     const std::vector<std::string>& cachePaths, HeapBuffer& block,
                     const char* caFile, RunLog& log) {
  FileList& files = GlobalRecoveryState().files;
  char url[kPathBufferSize];
  std::size_t index = 0;
  for (auto& entry : files) {
    const std::size_t position = index++;
    if (entry->state.load() != Invalid) continue;
    if (StopRequested()) return Stopped();
    entry->state.store(Downloading);
    if (!BuildFileUrl(url, remote.c_str(), entry->name.c_str())) {
      return Failure(RecoveryError::Unknown, "fetch", entry->name, "URL over 259 characters");
    }
    const char* cachePath = cachePaths[position].c_str();
    if (*cachePath == '\0') {  // too long for the buffers
      return Failure(RecoveryError::Unknown, "fetch", entry->name,
                     "cache path over 259 characters");
    }
    const FetchPlace place{baseFolder, remote.c_str(), url, cachePath, caFile};
    Status status = FetchEntry(*entry, place, block, log);
    if (!status.ok()) return status;
    entry->done.store(entry->toFetch.load());
    entry->state.store(Downloaded);
  }
  return Ok();
}

// Moves one downloaded cache file over its client file.
Status RecoverEntry(FileEntry& entry, const char* cachePath, const char* baseFolder) {
  char localPath[kPathBufferSize];
  if (!platform::BuildLocalPath(localPath, baseFolder, entry.name.c_str())) {
    return Failure(RecoveryError::Unknown, "move", entry.name, "path over 259 characters");
  }
  if (!FileExists(cachePath)) {
    return Failure(RecoveryError::NotExistFile, "move", cachePath, "the downloaded file is gone");
  }
  int osError = 0;
  if (FileExists(localPath) && !DeleteFileRetry(localPath, &osError)) {
    return OsFailure(RecoveryError::Unknown, "delete", localPath, osError);
  }
  Status moved = MoveFileRetry(cachePath, localPath);
  if (!moved.ok()) return moved;
  entry.state.store(Recovered);
  return Ok();
}

// Moves each downloaded cache file over its client file, the version file last: until every
// other file is in place the client still names the build it was, so a run that fails or is
// killed here is followed by one that aims at the same build (a /rollback repeated does not go
// one build further back).
Status RecoverFiles(const char* baseFolder, const char* versionFileName,
                    const std::vector<std::string>& cachePaths) {
  FileList& files = GlobalRecoveryState().files;
  const std::string versionKey = FileNameKey(versionFileName);
  for (const bool versionPass : {false, true}) {
    for (std::size_t i = 0; i < files.size(); ++i) {
      FileEntry& entry = *files.At(i);
      if (entry.state.load() != Downloaded) continue;
      if ((FileNameKey(entry.name) == versionKey) != versionPass) continue;
      if (StopRequested()) return Stopped();
      Status status = RecoverEntry(entry, cachePaths[i].c_str(), baseFolder);
      if (!status.ok()) return status;
    }
  }
  return Ok();
}

const char* PhaseName(RecoveryPhase phase) {
  switch (phase) {
    case RecoveryPhase::CheckVersion: return "check version";
    case RecoveryPhase::DownloadManifest: return "download manifest";
    case RecoveryPhase::CheckFiles: return "check files";
    case RecoveryPhase::DownloadFiles: return "download files";
    case RecoveryPhase::RecoverFiles: return "recover files";
    case RecoveryPhase::Finished: return "finished";
    case RecoveryPhase::Ready: break;
  }
  return "ready";
}

// The phase handshake, logged: the log's time stamps then give each phase's time.
bool EnterPhase(RecoveryPhase phase, RunLog& log) {
  log.Line(std::string("phase: ") + PhaseName(phase));
  return SetPhaseAndWait(phase);
}

std::uint64_t SumInvalid(const FileList& files, std::uint32_t& count) {
  std::uint64_t bytes = 0;
  count = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (files.At(i)->state.load() != Invalid) continue;
    ++count;
    bytes += files.At(i)->size;
  }
  return bytes;
}

// The run from the version step to the last move; returns what ended it.
Status RunSteps(const RecoveryRequest& request, RunLog& log) {
  const char* baseFolder = request.baseFolder.c_str();
  const char* caFile = request.caFile.c_str();
  RecoveryState& state = GlobalRecoveryState();
  log.Line(std::string("phase: ") + PhaseName(RecoveryPhase::CheckVersion));
  state.phase.store(static_cast<std::int32_t>(RecoveryPhase::CheckVersion));

  std::string remote;
  Status status =
      ResolveRemotePath(baseFolder, request.versionFileName.c_str(), request.remotePath.c_str(),
                        request.versionMode, request.major, request.minor, remote);
  if (!status.ok()) return status;
  log.Line("build resolved: remote folder " + remote);

  if (!EnterPhase(RecoveryPhase::DownloadManifest, log)) return Stopped();
  char manifestUrl[kPathBufferSize];
  if (!BuildManifestUrl(manifestUrl, remote, request.manifestFileName.c_str())) {
    return Failure(RecoveryError::Unknown, "fetch the manifest", request.manifestFileName,
                   "URL over 259 characters");
  }
  FileList parsed;
  status = ReadManifest(manifestUrl, caFile, parsed);
  // What was read before a failure (the manifest's own entry) is published all the same.
  PublishEntries(state, parsed, baseFolder, request.ownFileName.c_str());
  if (!status.ok()) return status;
  log.Line(std::string("manifest ") + manifestUrl + ": " + std::to_string(state.files.size()) +
           " files");
  // Before anything is written: a manifest whose entries would overwrite each other ends here.
  std::vector<std::string> cachePaths;
  status = PlanCachePaths(state.files, baseFolder, cachePaths);
  if (!status.ok()) return status;

  // The one work buffer through which every file of the run is read.
  HeapBuffer block;
  if (!block.Allocate(kFileBlockSize)) {
    return Failure(RecoveryError::MemoryAllocation, "allocate the work buffer", "", "");
  }

  if (!EnterPhase(RecoveryPhase::CheckFiles, log)) return Stopped();
  status = CheckFiles(baseFolder, block, log);
  if (!status.ok()) return status;
  std::uint32_t damaged = 0;
  const std::uint64_t damagedBytes = SumInvalid(state.files, damaged);
  log.Line("check: " + std::to_string(damaged) + " of " + std::to_string(state.files.size()) +
           " files to repair, " + std::to_string(damagedBytes) + " bytes");

  status = CheckWriteFolders(baseFolder, cachePaths);
  if (!status.ok()) return status;
  if (!EnterPhase(RecoveryPhase::DownloadFiles, log)) return Stopped();
  status = DownloadFiles(baseFolder, remote, cachePaths, block, caFile, log);
  if (!status.ok()) return status;

  if (!EnterPhase(RecoveryPhase::RecoverFiles, log)) return Stopped();
  return RecoverFiles(baseFolder, request.versionFileName.c_str(), cachePaths);
}

}  // namespace

bool RunRecovery(const RecoveryRequest& request) {
  RecoveryState& state = GlobalRecoveryState();
  if (!BeginRun()) return false;
  // Every change the run makes stays below the base folder and passes through no link there.
  const platform::ScopedWriteRoot writeRoot(request.baseFolder.c_str());
  // Within the write root: the log is made as a cache file is, never through a link.
  RunLog log;
  log.Start(request.runLogPath);
  const Status status = RunSteps(request, log);
  if (!status.ok()) return End(status, log);
  log.Line(std::string("phase: ") + PhaseName(RecoveryPhase::Finished));
  log.Close();
  state.phase.store(static_cast<std::int32_t>(RecoveryPhase::Finished));
  SetErrorDetail(RecoveryError::None, std::string());
  state.running.store(0);
  return true;
}

}  // namespace repair
