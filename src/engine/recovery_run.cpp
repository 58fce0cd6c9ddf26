#include "engine/recovery_run.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "common/format.h"
#include "common/heap_buffer.h"
#include "engine/cache_plan.h"
#include "engine/download_plan.h"
#include "engine/download_scheduler.h"
#include "engine/entry_fetch.h"
#include "engine/file_check.h"
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

// Checks every entry's local file, several at once unless the disk spins; each verdict goes
// to the log in list order once the check is over.
Status CheckFiles(const char* baseFolder, RunLog& log) {
  FileList& files = GlobalRecoveryState().files;
  const unsigned threads = CheckThreadsFor(baseFolder);
  log.Line("check: " + std::to_string(threads) + " files at a time");
  std::vector<std::string> why;
  Status status = CheckFiles(files, baseFolder, threads, log.on() ? &why : nullptr);
  if (!log.on()) return status;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const FileEntry& entry = *files.At(i);
    const std::uint32_t state = entry.state.load();
    if (state != Intact && state != Invalid) continue;  // not reached: a stop or a failure
    std::string line = "check " + entry.name + ": " + VerdictText(state);
    if (!why[i].empty()) line += " (" + why[i] + ")";
    log.Line(line);
  }
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

// Brings every planned entry into the cache, up to `atOnce` at a time (see RunDownloads). Each
// transfer has a work buffer of its own; the log, which only one thread may write at a time,
// is written under a lock.
Status DownloadFiles(const DownloadPlan& plan, unsigned atOnce, const FetchContext& context,
                     RunLog& log) {
  FileList& files = GlobalRecoveryState().files;
  atOnce = std::max(1u, std::min<unsigned>(atOnce, static_cast<unsigned>(plan.entries.size())));
  std::vector<HeapBuffer> blocks(atOnce);
  for (HeapBuffer& block : blocks) {
    if (!block.Allocate(kFileBlockSize)) {
      return Failure(RecoveryError::MemoryAllocation, "allocate the downloads' buffers", "", "");
    }
  }
  log.Line("download: up to " + std::to_string(atOnce) + " files at a time");
  std::vector<Status> failures(plan.entries.size());
  std::mutex logMutex;
  std::vector<std::size_t> items(plan.entries.size());
  for (std::size_t i = 0; i < items.size(); ++i) items[i] = i;
  const ScheduleResult result = RunDownloads(items, atOnce, [&](std::size_t item, unsigned worker) {
    const PlannedFetch& fetch = plan.entries[item];
    FileEntry& entry = *files.At(fetch.index);
    entry.state.store(Downloading);
    FetchReport report;
    Status status = FetchEntry(entry, fetch, context, blocks[worker], report);
    if (status.stopped) return TransferEnd::kStopped;
    std::lock_guard<std::mutex> lock(logMutex);
    if (!status.ok()) {
      failures[item] = std::move(status);
      if (!report.serverBusy) return TransferEnd::kFailed;
      // Back in the queue: it shows as it was until a transfer takes it again.
      log.Line("fetch " + entry.name + ": turned away (" + failures[item].Detail() + ")");
      entry.state.store(Invalid);
      return TransferEnd::kServerBusy;
    }
    log.Line("fetch " + entry.name + ": " + report.line);
    entry.done.store(entry.toFetch.load());
    entry.state.store(Downloaded);
    return TransferEnd::kDone;
  });
  if (result.atOnce < atOnce) {
    log.Line("download: the server took " + std::to_string(result.atOnce) + " at a time");
  }
  switch (result.end) {
    case ScheduleEnd::kDone: return Ok();
    case ScheduleEnd::kStopped: return Stopped();
    case ScheduleEnd::kFailed: break;
  }
  return failures[result.failedItem];
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

  // The work buffer through which cache files left by an earlier run are read.
  HeapBuffer block;
  if (!block.Allocate(kFileBlockSize)) {
    return Failure(RecoveryError::MemoryAllocation, "allocate the work buffer", "", "");
  }

  if (!EnterPhase(RecoveryPhase::CheckFiles, log)) return Stopped();
  status = CheckFiles(baseFolder, log);
  if (!status.ok()) return status;
  std::uint32_t damaged = 0;
  const std::uint64_t damagedBytes = SumInvalid(state.files, damaged);
  log.Line("check: " + std::to_string(damaged) + " of " + std::to_string(state.files.size()) +
           " files to repair, " + std::to_string(damagedBytes) + " bytes");

  status = CheckWriteFolders(baseFolder, cachePaths);
  if (!status.ok()) return status;
  // Before the first request and the first write: what is fetched, and room for it.
  const FetchContext context{baseFolder, remote.c_str(), caFile};
  DownloadPlan plan;
  status = PlanDownloads(state.files, context, cachePaths, block, plan);
  if (!status.ok()) return status;
  // The rows and the bar count what the block repairs fetch, from the start.
  for (const PlannedFetch& fetch : plan.entries) {
    if (fetch.blocks != nullptr) state.files.At(fetch.index)->toFetch.store(fetch.bytesToFetch);
  }
  status = CheckCacheRoom(plan, baseFolder);
  log.Line(DescribePlan(plan));
  if (!status.ok()) return status;
  PublishPlanTotals(plan.files, plan.bytes);
  if (!EnterPhase(RecoveryPhase::DownloadFiles, log)) return Stopped();
  const unsigned atOnce = request.maxDownloads == 0
                              ? kDefaultDownloadsAtOnce
                              : std::min(request.maxDownloads, kMaxDownloadsAtOnce);
  status = DownloadFiles(plan, atOnce, context, log);
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
