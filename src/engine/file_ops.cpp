#include "engine/file_ops.h"

#include <cstring>
#include <string>

#include "codec/codec.h"
#include "engine/recovery_state.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/os_error.h"
#include "platform/paths.h"

namespace repair {
namespace {

constexpr int kFolderAttempts = 10;
// Deletion and moving give up when the attempt count reaches this, after one more attempt.
constexpr int kLastRetry = 10;
constexpr std::uint32_t kRetryPauseMs = 100;

// A file (or FIFO, socket, device) below the write root where a folder has to be: no listed
// file can be there (the cache plan refuses a manifest in which a file is another entry's
// folder), so it is a client file in the wrong shape, removed to make room. A link there is
// left alone: the walk of every change refuses it. True when it was removed.
bool RemoveFileInTheWay(const char* prefix) {
  // The folder walk's prefixes end with exactly one separator, found as a separator.
  std::string name = prefix;
  if (!name.empty()) name.pop_back();
  if (name.empty() || !platform::IsBelowWriteRoot(name.c_str())) return false;
  const platform::EntryKind kind = platform::LookAtEntry(name.c_str());
  if (kind != platform::EntryKind::kFile && kind != platform::EntryKind::kOther) return false;
  return platform::DeleteFileOnce(name.c_str());
}

// Makes sure the folder named by `prefix` (ending with its separator) exists. `osError`
// receives the last failed attempt's OS error.
bool EnsureFolder(const char* prefix, int& osError) {
  for (int attempt = 1; attempt <= kFolderAttempts; ++attempt) {
    if (platform::PathExists(prefix) || platform::CreateFolder(prefix)) return true;
    osError = platform::LastOsError();
    if (RemoveFileInTheWay(prefix) && platform::CreateFolder(prefix)) return true;
    // Pause after every failure, the last one included: about a second in all.
    platform::SleepMs(kRetryPauseMs);
  }
  return false;
}

Status ReadFailure(platform::ReadStatus status, const char* path, int osError) {
  switch (status) {
    case platform::ReadStatus::kOpenFailed:
      return OsFailure(RecoveryError::NotExistFile, "open", path, osError);
    case platform::ReadStatus::kNoMemory:
      return Failure(RecoveryError::MemoryAllocation, "read", path, "too large to hold");
    default: return OsFailure(RecoveryError::Unknown, "read", path, osError);
  }
}

}  // namespace

Status EnsureParentFolders(const char* path) {
  platform::PathFolder folder;
  if (!platform::SplitFolder(path, folder)) {
    return Failure(RecoveryError::Unknown, "make folder", path, "folder part too long");
  }
  // No separator in the folder part ("name" or "C:name"): nothing to create.
  if (folder.path[folder.driveLength] == '\0') return Ok();
  if (platform::PathExists(folder.path)) return Ok();

  // Walk the separators left to right: the root first, then each deeper folder.
  char prefix[sizeof folder.path];
  const std::string_view folders(folder.path);
  const platform::NameRules rules = platform::HostPathRules();
  for (std::size_t i = platform::NextSeparator(folders, folder.driveLength, rules);
       i < folders.size(); i = platform::NextSeparator(folders, i + 1, rules)) {
    std::memcpy(prefix, folder.path, i + 1);
    prefix[i + 1] = '\0';
    int osError = 0;
    if (!EnsureFolder(prefix, osError)) {
      return OsFailure(RecoveryError::Unknown, "make folder", prefix, osError);
    }
  }
  return Ok();
}

bool LinkedFolderOnPath(const char* baseFolder, const char* path) {
  const std::size_t baseLength = std::strlen(baseFolder);
  if (std::strncmp(path, baseFolder, baseLength) != 0) return false;
  const std::string_view whole(path);
  const platform::NameRules rules = platform::HostPathRules();
  // Each folder below the base, named without its separator; a doubled separator names none.
  std::size_t previous = baseLength == 0 ? std::string_view::npos : baseLength - 1;
  for (std::size_t i = platform::NextSeparator(whole, baseLength, rules); i < whole.size();
       previous = i, i = platform::NextSeparator(whole, i + 1, rules)) {
    if (i == 0 || previous == i - 1) continue;
    const std::string prefix(whole.substr(0, i));
    switch (platform::LookAtEntry(prefix.c_str())) {
      case platform::EntryKind::kLink: return true;
      case platform::EntryKind::kFolder: break;
      // Missing, or a file in the way: nothing deeper exists to be a link.
      default: return false;
    }
  }
  return false;
}

Status ReadWholeFile(const char* path, HeapBuffer& buffer, std::uint32_t& size) {
  size = 0;
  const platform::ReadStatus status = platform::ReadFileBytes(path, buffer);
  if (status == platform::ReadStatus::kOk) {
    // The platform refuses files over 32 bits, so the size fits.
    size = static_cast<std::uint32_t>(buffer.size());
    return Ok();
  }
  const int osError = platform::LastOsError();
  buffer.Reset();
  return ReadFailure(status, path, osError);
}

Status DigestFile(const char* path, HeapBuffer& block, std::uint8_t* digest) {
  platform::FileReader reader;
  const platform::ReadStatus opened = reader.Open(path);
  if (opened != platform::ReadStatus::kOk) {
    // Whatever cannot be opened is missing as far as the run is concerned.
    const int osError = platform::LastOsError();
    if (opened == platform::ReadStatus::kNoMemory) return ReadFailure(opened, path, osError);
    return OsFailure(RecoveryError::NotExistFile, "open", path, osError);
  }
  Md5Stream md5;
  const std::uint32_t capacity = static_cast<std::uint32_t>(block.size());
  std::uint64_t total = 0;
  for (;;) {
    if (StopRequested()) return Stopped();
    std::uint32_t got = 0;
    if (capacity == 0 || !reader.Read(block.data(), capacity, got)) {
      return OsFailure(RecoveryError::Unknown, "read", path, platform::LastOsError());
    }
    if (got == 0) break;
    total += got;
    // A file that grows while it is read would keep the loop going: it is no file to trust.
    if (total > reader.size()) break;
    md5.Update(block.data(), got);
  }
  if (total != reader.size()) {
    return Failure(RecoveryError::Unknown, "read", path, "the file changed length while read");
  }
  md5.Final(digest);
  return Ok();
}

Status WriteWholeFile(const char* path, const std::uint8_t* data, std::uint32_t length) {
  Status folders = EnsureParentFolders(path);
  if (!folders.ok()) return folders;
  if (!platform::WriteFileBytes(path, data, length)) {
    return OsFailure(RecoveryError::Unknown, "write", path, platform::LastOsError());
  }
  return Ok();
}

bool FileExists(const char* path) { return platform::PathExists(path); }

bool DeleteFileRetry(const char* path, int* osError) {
  if (osError != nullptr) *osError = 0;
  if (!platform::PathExists(path)) return false;
  for (int attempt = 0; platform::PathExists(path); ++attempt) {
    if (platform::DeleteFileOnce(path)) return true;
    if (osError != nullptr) *osError = platform::LastOsError();
    if (attempt == kLastRetry) return false;
    platform::SleepMs(kRetryPauseMs);
  }
  return true;  // gone by itself between attempts
}

Status MoveFileRetry(const char* source, const char* target) {
  if (!platform::PathExists(source)) {
    return Failure(RecoveryError::NotExistFile, "move", source, "the downloaded file is gone");
  }
  Status folders = EnsureParentFolders(target);
  if (!folders.ok()) return folders;
  int osError = 0;
  if (platform::PathExists(target) && !DeleteFileRetry(target, &osError)) {
    return OsFailure(RecoveryError::Unknown, "delete", target, osError);
  }
  for (int attempt = 0; !platform::PathExists(target); ++attempt) {
    if (platform::MoveFileOnce(source, target)) return Ok();
    osError = platform::LastOsError();
    if (attempt == kLastRetry) return OsFailure(RecoveryError::Unknown, "move", target, osError);
    platform::SleepMs(kRetryPauseMs);
  }
  return Ok();  // the target appeared between attempts
}

}  // namespace repair
