#include "engine/recovery_run.h"

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "common/format.h"
#include "common/heap_buffer.h"
#include "engine/file_ops.h"
#include "engine/http_fetch.h"
#include "engine/manifest.h"
#include "engine/recovery_state.h"
#include "engine/url.h"
#include "engine/version.h"
#include "platform/file_system.h"
#include "platform/path_split.h"

namespace repair {
namespace {

// MD5 of zero bytes. The digest function refuses empty input, but an empty file is the most
// common damage after a crash: it must compare like any other content, not end the run.
constexpr std::uint8_t kEmptyMd5[kMd5Size] = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                                              0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};

// Digest of a whole buffer, empty buffers included. False only when the digest fails.
bool DigestContent(const HeapBuffer& content, std::uint32_t size, std::uint8_t* digest) {
  if (size == 0) {
    std::memcpy(digest, kEmptyMd5, kMd5Size);
    return true;
  }
  return DigestMd5(content.data(), size, digest, nullptr) == kCodecOk;
}

// The key under which the file system tells names apart: case-insensitive on Windows.
std::string FileSystemKey(const std::string& name) {
  std::string key = name;
  if (platform::kFileNamesIgnoreCase) {
    for (char& c : key) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return key;
}

bool Fail() {
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

// Moves the parsed entries into the shared list, dropping every entry that names the tool's
// own executable (top level only), under the list's lock so that the refresh never reads an
// entry while the list changes shape. Where the file system ignores letter case, so does the
// comparison: "Repair.exe" there is the running tool, which must not be replaced.
void PublishEntries(FileList& parsed, const char* ownFileName) {
  RecoveryState& state = GlobalRecoveryState();
  const std::string ownKey = FileSystemKey(ownFileName);
  std::lock_guard<std::mutex> lock(state.filesMutex);
  for (auto it = parsed.begin(); it != parsed.end(); ++it) {
    if (FileSystemKey((*it)->name) == ownKey) continue;
    state.files.Append(std::move(*it));
  }
  parsed.Clear();
}

// Checks every entry's local file; false ends the run (the error code is set).
bool CheckFiles(const char* baseFolder) {
  FileList& files = GlobalRecoveryState().files;
  char localPath[kPathBufferSize];
  for (auto& entry : files) {
    entry->state.store(Checking);
    if (!BuildLocalPath(localPath, baseFolder, entry->name.c_str())) {
      return FailWith(RecoveryError::Unknown);
    }
    HeapBuffer content;
    std::uint32_t size = 0;
    // A file that cannot be read is a file to repair, not a failure of the run.
    if (!ReadWholeFile(localPath, content, size)) {
      entry->state.store(Invalid);
      continue;
    }
    std::uint8_t digest[kMd5Size];
    if (!DigestContent(content, size, digest)) return FailWith(RecoveryError::Unknown);
    if (std::memcmp(digest, entry->md5, kMd5Size) == 0) {
      entry->done.store(entry->size);
      entry->state.store(Intact);
    } else {
      entry->state.store(Invalid);
    }
  }
  return true;
}

// True when a cache file left by an earlier run holds exactly the entry's bytes. False with
// `failed` set when the file exists but cannot be read (the run ends).
bool CacheFileMatches(const char* cachePath, const FileEntry& entry, bool& failed) {
  failed = false;
  if (!FileExists(cachePath)) return false;
  HeapBuffer content;
  std::uint32_t size = 0;
  if (!ReadWholeFile(cachePath, content, size)) {
    failed = true;
    return false;
  }
  // An empty cache file is what a crash mid-write leaves: stale, fetched again.
  if (size == 0) return false;
  std::uint8_t digest[kMd5Size];
  if (DigestMd5(content.data(), size, digest, nullptr) != kCodecOk) {
    SetError(RecoveryError::Unknown);
    failed = true;
    return false;
  }
  return std::memcmp(digest, entry.md5, kMd5Size) == 0;
}

// Downloads every Invalid entry into the cache; `cachePaths` receives each entry's cache
// path (by list index) for the recover phase. False ends the run.
bool DownloadFiles(const char* baseFolder, const std::string& remote,
                   std::vector<std::string>& cachePaths) {
  FileList& files = GlobalRecoveryState().files;
  cachePaths.assign(files.size(), std::string());
  // Entries in different folders with one file name would share a cache path; each gets its
  // own, so that one entry's bytes can never be moved over another entry's file.
  std::set<std::string> usedCachePaths;
  char url[kPathBufferSize];
  char cachePath[kPathBufferSize];
  std::size_t index = 0;
  for (auto& entry : files) {
    const std::size_t position = index++;
    if (entry->state.load() != Invalid) continue;
    entry->state.store(Downloading);
    if (!BuildFileUrl(url, remote.c_str(), entry->name.c_str())) {
      return FailWith(RecoveryError::Unknown);
    }
    std::uint32_t collision = 0;
    do {
      if (!BuildCachePath(cachePath, baseFolder, entry->name.c_str(), collision++)) {
        return FailWith(RecoveryError::Unknown);
      }
    } while (!usedCachePaths.insert(FileSystemKey(cachePath)).second);
    cachePaths[position] = cachePath;

    bool failed = false;
    bool cached = CacheFileMatches(cachePath, *entry, failed);
    if (failed) return Fail();
    if (!cached) {
      HeapBuffer body;
      std::uint32_t size = 0;
      if (!FetchUrl(url, body, size, &entry->done)) return Fail();
      // The manifest is the only thing that says what a file must hold: bytes that differ
      // from it never reach the cache, let alone the client folder.
      std::uint8_t digest[kMd5Size];
      if (!DigestContent(body, size, digest) || std::memcmp(digest, entry->md5, kMd5Size) != 0) {
        return FailWith(RecoveryError::InvalidData);
      }
      if (!WriteWholeFile(cachePath, body.data(), size)) return Fail();
    }
    entry->done.store(entry->size);
    entry->state.store(Downloaded);
  }
  return true;
}

// Moves each downloaded cache file over its client file. False ends the run.
bool RecoverFiles(const char* baseFolder, const std::vector<std::string>& cachePaths) {
  FileList& files = GlobalRecoveryState().files;
  char localPath[kPathBufferSize];
  std::size_t index = 0;
  for (auto& entry : files) {
    const std::size_t position = index++;
    if (entry->state.load() != Downloaded) continue;
    const char* cachePath = cachePaths[position].c_str();
    if (!BuildLocalPath(localPath, baseFolder, entry->name.c_str())) {
      return FailWith(RecoveryError::Unknown);
    }
    if (!FileExists(cachePath)) return FailWith(RecoveryError::NotExistFile);
    if (FileExists(localPath) && !DeleteFileRetry(localPath)) {
      return FailWith(RecoveryError::Unknown);
    }
    if (!MoveFileRetry(cachePath, localPath)) return FailWith(RecoveryError::Unknown);
    entry->state.store(Recovered);
  }
  return true;
}

}  // namespace

bool BuildLocalPath(char* out, const char* baseFolder, const char* name) {
  if (!FormatPath(out, "%s%s", baseFolder, name)) return false;
  if (platform::kPathSeparator != '\\') {
    for (char* p = out + std::strlen(baseFolder); *p != '\0'; ++p) {
      if (*p == '\\') *p = platform::kPathSeparator;
    }
  }
  return true;
}

bool BuildCachePath(char* out, const char* baseFolder, const char* name, std::uint32_t collision) {
  const std::string bare = LastComponent(name);
  const char sep = platform::kPathSeparator;
  if (collision == 0) {
    return FormatPath(out, "%srecovery%c%s.recovery", baseFolder, sep, bare.c_str());
  }
  return FormatPath(out, "%srecovery%c%s.%u.recovery", baseFolder, sep, bare.c_str(),
                    static_cast<unsigned>(collision));
}

bool RunRecovery(const char* baseFolder, const char* remotePath, const char* versionFileName,
                 const char* manifestFileName, const char* ownFileName,
                 const VersionChoice* version) {
  RecoveryState& state = GlobalRecoveryState();
  if (state.running.load() != 0) return false;
  ResetRecoveryState();
  state.running.store(1);
  state.phase.store(static_cast<std::int32_t>(RecoveryPhase::CheckVersion));

  std::string remote;
  if (!ResolveRemotePath(baseFolder, versionFileName, remotePath, version->versionMode,
                         version->major, version->minor, remote)) {
    return Fail();
  }

  SetPhaseAndWait(RecoveryPhase::DownloadManifest);
  char manifestUrl[kPathBufferSize];
  if (!BuildManifestUrl(manifestUrl, remote, manifestFileName)) {
    return FailWith(RecoveryError::Unknown);
  }
  FileList parsed;
  const bool manifestOk = ParseManifest(manifestUrl, parsed);
  PublishEntries(parsed, ownFileName);
  if (!manifestOk) return Fail();

  SetPhaseAndWait(RecoveryPhase::CheckFiles);
  if (!CheckFiles(baseFolder)) return false;

  SetPhaseAndWait(RecoveryPhase::DownloadFiles);
  std::vector<std::string> cachePaths;
  if (!DownloadFiles(baseFolder, remote, cachePaths)) return false;

  SetPhaseAndWait(RecoveryPhase::RecoverFiles);
  if (!RecoverFiles(baseFolder, cachePaths)) return false;

  state.phase.store(static_cast<std::int32_t>(RecoveryPhase::Finished));
  state.error.store(static_cast<std::int32_t>(RecoveryError::None));
  state.running.store(0);
  return true;
}

}  // namespace repair
