#include "engine/recovery_run.h"

#include <cstring>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "common/format.h"
#include "common/heap_buffer.h"
#include "engine/cache_plan.h"
#include "engine/file_download.h"
#include "engine/file_ops.h"
#include "engine/manifest.h"
#include "engine/own_file.h"
#include "engine/recovery_state.h"
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

// A run the user stopped ends without an error of its own: whatever the step that the stop
// cut short stored is not what went wrong, and must not be reported as if it were.
bool Stop() {
  SetError(RecoveryError::None);
  GlobalRecoveryState().running.store(0);
  return false;
}

bool Fail() {
  if (StopRequested()) return Stop();
  RecoveryState& state = GlobalRecoveryState();
  if (state.error.load() == static_cast<std::int32_t>(RecoveryError::None)) {
    SetError(RecoveryError::Unknown);
  }
  state.running.store(0);
  return false;
}

bool FailWith(RecoveryError code) {
  SetError(code);
  return Fail();
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

// Checks every entry's local file, block by block through the run's work buffer; false ends
// the run (the error code is set).
bool CheckFiles(const char* baseFolder, HeapBuffer& block) {
  FileList& files = GlobalRecoveryState().files;
  char localPath[kPathBufferSize];
  for (auto& entry : files) {
    if (StopRequested()) return Stop();
    entry->state.store(Checking);
    if (!platform::BuildLocalPath(localPath, baseFolder, entry->name.c_str())) {
      return FailWith(RecoveryError::Unknown);
    }
    std::uint8_t digest[kMd5Size];
    // A file that cannot be read is a file to repair, not a failure of the run.
    const bool digested = DigestFile(localPath, block, digest);
    // Cut short by a stop, the entry is neither: it stays Checking.
    if (!digested && StopRequested()) return Stop();
    if (digested && std::memcmp(digest, entry->md5, kMd5Size) == 0) {
      entry->done.store(entry->size);
      entry->state.store(Intact);
    } else {
      // What the failed read stored is not the run's error: left in place, it would be what a
      // window closed later in the run reports.
      SetError(RecoveryError::None);
      entry->state.store(Invalid);
    }
  }
  return true;
}

// True when a cache file left by an earlier run holds exactly the entry's bytes. False with
// `failed` set when the file exists but cannot be read (the run ends).
bool CacheFileMatches(const char* cachePath, const FileEntry& entry, HeapBuffer& block,
                      bool& failed) {
  failed = false;
  std::uint32_t size = 0;
  // Anything but a plain file at the cache path (a link, a second name of another file, a
  // FIFO) is no cache file: the download replaces the name. An empty cache file is what a
  // crash mid-write leaves: stale, fetched again.
  if (!platform::RegularFileSize(cachePath, size) || size == 0) return false;
  std::uint8_t digest[kMd5Size];
  if (!DigestFile(cachePath, block, digest)) {
    failed = true;
    return false;
  }
  return std::memcmp(digest, entry.md5, kMd5Size) == 0;
}

// An entry for an empty file needs no download (a server sends one with Content-Length 0,
// which is no download at all): its cache file is written empty, to be moved like any other.
// True when the entry was such an entry; `failed` is set when the cache file cannot be written.
bool WriteEmptyCacheFile(const char* cachePath, const FileEntry& entry, bool& failed) {
  failed = false;
  if (entry.size != 0 || std::memcmp(entry.md5, kEmptyMd5, kMd5Size) != 0) return false;
  failed = !WriteWholeFile(cachePath, nullptr, 0);
  return !failed;
}

// Before the first write: every folder the run is about to write into, below the base folder,
// must be a real folder. One that is a link or junction ends the run with LinkedFolder; the run
// writes through no link, and a player who moved a folder elsewhere with one is told so rather
// than have it replaced. Reading through such a folder, as the check did, is harmless. False
// ends the run.
bool CheckWriteFolders(const char* baseFolder, const std::vector<std::string>& cachePaths) {
  FileList& files = GlobalRecoveryState().files;
  char localPath[kPathBufferSize];
  // Every cache path lies in the one cache folder: it is looked at once, with the first.
  bool cacheFolderSeen = false;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const FileEntry& entry = *files.At(i);
    if (entry.state.load() != Invalid) continue;
    if (!platform::BuildLocalPath(localPath, baseFolder, entry.name.c_str())) {
      return FailWith(RecoveryError::Unknown);
    }
    bool linked = LinkedFolderOnPath(baseFolder, localPath);
    if (!cacheFolderSeen && !cachePaths[i].empty()) {
      cacheFolderSeen = true;
      linked = linked || LinkedFolderOnPath(baseFolder, cachePaths[i].c_str());
    }
    if (linked) return FailWith(RecoveryError::LinkedFolder);
  }
  return true;
}

// Downloads every Invalid entry into the cache path planned for it (by list index). False ends
// the run.
bool DownloadFiles(const std::string& remote, const std::vector<std::string>& cachePaths,
                   HeapBuffer& block, const char* caFile) {
  FileList& files = GlobalRecoveryState().files;
  char url[kPathBufferSize];
  std::size_t index = 0;
  for (auto& entry : files) {
    const std::size_t position = index++;
    if (entry->state.load() != Invalid) continue;
    if (StopRequested()) return Stop();
    entry->state.store(Downloading);
    if (!BuildFileUrl(url, remote.c_str(), entry->name.c_str())) {
      return FailWith(RecoveryError::Unknown);
    }
    const char* cachePath = cachePaths[position].c_str();
    if (*cachePath == '\0') return FailWith(RecoveryError::Unknown);  // too long for the buffers

    bool failed = false;
    bool cached = WriteEmptyCacheFile(cachePath, *entry, failed);
    if (!cached && !failed) cached = CacheFileMatches(cachePath, *entry, block, failed);
    if (failed) return Fail();
    // The manifest is the only thing that says what a file must hold: bytes that differ
    // from it never reach the cache, let alone the client folder.
    if (!cached &&
        !DownloadToCache(url, cachePath, entry->size, entry->md5, &entry->done, block, caFile)) {
      return Fail();
    }
    entry->done.store(entry->size);
    entry->state.store(Downloaded);
  }
  return true;
}

// Moves one downloaded cache file over its client file. False ends the run.
bool RecoverEntry(FileEntry& entry, const char* cachePath, const char* baseFolder) {
  char localPath[kPathBufferSize];
  if (!platform::BuildLocalPath(localPath, baseFolder, entry.name.c_str())) {
    return FailWith(RecoveryError::Unknown);
  }
  if (!FileExists(cachePath)) return FailWith(RecoveryError::NotExistFile);
  if (FileExists(localPath) && !DeleteFileRetry(localPath)) {
    return FailWith(RecoveryError::Unknown);
  }
  if (!MoveFileRetry(cachePath, localPath)) return FailWith(RecoveryError::Unknown);
  entry.state.store(Recovered);
  return true;
}

// Moves each downloaded cache file over its client file, the version file last: until every
// other file is in place the client still names the build it was, so a run that fails or is
// killed here is followed by one that aims at the same build (a /rollback repeated does not go
// one build further back). False ends the run.
bool RecoverFiles(const char* baseFolder, const char* versionFileName,
                  const std::vector<std::string>& cachePaths) {
  FileList& files = GlobalRecoveryState().files;
  const std::string versionKey = FileNameKey(versionFileName);
  for (const bool versionPass : {false, true}) {
    for (std::size_t i = 0; i < files.size(); ++i) {
      FileEntry& entry = *files.At(i);
      if (entry.state.load() != Downloaded) continue;
      if ((FileNameKey(entry.name) == versionKey) != versionPass) continue;
      if (StopRequested()) return Stop();
      if (!RecoverEntry(entry, cachePaths[i].c_str(), baseFolder)) return false;
    }
  }
  return true;
}

}  // namespace

bool RunRecovery(const RecoveryRequest& request) {
  const char* baseFolder = request.baseFolder.c_str();
  const char* versionFileName = request.versionFileName.c_str();
  const char* caFile = request.caFile.c_str();
  RecoveryState& state = GlobalRecoveryState();
  if (!BeginRun()) return false;
  // Every change the run makes stays below the base folder and passes through no link there.
  const platform::ScopedWriteRoot writeRoot(baseFolder);
  state.phase.store(static_cast<std::int32_t>(RecoveryPhase::CheckVersion));

  std::string remote;
  if (!ResolveRemotePath(baseFolder, versionFileName, request.remotePath.c_str(),
                         request.versionMode, request.major, request.minor, remote)) {
    return Fail();
  }

  if (!SetPhaseAndWait(RecoveryPhase::DownloadManifest)) return Stop();
  char manifestUrl[kPathBufferSize];
  if (!BuildManifestUrl(manifestUrl, remote, request.manifestFileName.c_str())) {
    return FailWith(RecoveryError::Unknown);
  }
  FileList parsed;
  const RecoveryError manifestError = ReadManifest(manifestUrl, caFile, parsed);
  // What was read before a failure (the manifest's own entry) is published all the same.
  PublishEntries(state, parsed, baseFolder, request.ownFileName.c_str());
  if (manifestError != RecoveryError::None) return FailWith(manifestError);
  // Before anything is written: a manifest whose entries would overwrite each other ends here.
  std::vector<std::string> cachePaths;
  if (!PlanCachePaths(state.files, baseFolder, cachePaths)) return Fail();

  // The one work buffer through which every file of the run is read.
  HeapBuffer block;
  if (!block.Allocate(kFileBlockSize)) return FailWith(RecoveryError::MemoryAllocation);

  if (!SetPhaseAndWait(RecoveryPhase::CheckFiles)) return Stop();
  if (!CheckFiles(baseFolder, block)) return false;

  if (!CheckWriteFolders(baseFolder, cachePaths)) return false;
  if (!SetPhaseAndWait(RecoveryPhase::DownloadFiles)) return Stop();
  if (!DownloadFiles(remote, cachePaths, block, caFile)) return false;

  if (!SetPhaseAndWait(RecoveryPhase::RecoverFiles)) return Stop();
  if (!RecoverFiles(baseFolder, versionFileName, cachePaths)) return false;

  state.phase.store(static_cast<std::int32_t>(RecoveryPhase::Finished));
  state.error.store(static_cast<std::int32_t>(RecoveryError::None));
  state.running.store(0);
  return true;
}

}  // namespace repair
