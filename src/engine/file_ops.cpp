#include "engine/file_ops.h"

#include <cstring>
#include <string>

#include "codec/codec.h"
#include "engine/recovery_state.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
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

// Makes sure the folder named by `prefix` (ending with its separator) exists.
bool EnsureFolder(const char* prefix) {
  for (int attempt = 1; attempt <= kFolderAttempts; ++attempt) {
    if (platform::PathExists(prefix) || platform::CreateFolder(prefix)) return true;
    if (RemoveFileInTheWay(prefix) && platform::CreateFolder(prefix)) return true;
    // Pause after every failure, the last one included: about a second in all.
    platform::SleepMs(kRetryPauseMs);
  }
  return false;
}

}  // namespace

bool EnsureParentFolders(const char* path) {
  platform::PathFolder folder;
  if (!platform::SplitFolder(path, folder)) {
    SetError(RecoveryError::Unknown);
    return false;
  }
  // No separator in the folder part ("name" or "C:name"): nothing to create.
  if (folder.path[folder.driveLength] == '\0') return true;
  if (platform::PathExists(folder.path)) return true;

  // Walk the separators left to right: the root first, then each deeper folder.
  char prefix[sizeof folder.path];
  const std::string_view folders(folder.path);
  const platform::NameRules rules = platform::HostPathRules();
  for (std::size_t i = platform::NextSeparator(folders, folder.driveLength, rules);
       i < folders.size(); i = platform::NextSeparator(folders, i + 1, rules)) {
    std::memcpy(prefix, folder.path, i + 1);
    prefix[i + 1] = '\0';
    if (!EnsureFolder(prefix)) {
      SetError(RecoveryError::Unknown);
      return false;
    }
  }
  return true;
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

bool ReadWholeFile(const char* path, HeapBuffer& buffer, std::uint32_t& size) {
  size = 0;
  switch (platform::ReadFileBytes(path, buffer)) {
    case platform::ReadStatus::kOk:
      // The platform refuses files over 32 bits, so the size fits.
      size = static_cast<std::uint32_t>(buffer.size());
      return true;
    case platform::ReadStatus::kOpenFailed: SetError(RecoveryError::NotExistFile); break;
    case platform::ReadStatus::kNoMemory: SetError(RecoveryError::MemoryAllocation); break;
    case platform::ReadStatus::kReadFailed: SetError(RecoveryError::Unknown); break;
  }
  buffer.Reset();
  return false;
}

bool DigestFile(const char* path, HeapBuffer& block, std::uint8_t* digest) {
  platform::FileReader reader;
  switch (reader.Open(path)) {
    case platform::ReadStatus::kOk: break;
    case platform::ReadStatus::kNoMemory: SetError(RecoveryError::MemoryAllocation); return false;
    default: SetError(RecoveryError::NotExistFile); return false;
  }
  Md5Stream md5;
  const std::uint32_t capacity = static_cast<std::uint32_t>(block.size());
  std::uint64_t total = 0;
  for (;;) {
    if (StopRequested()) return false;
    std::uint32_t got = 0;
    if (capacity == 0 || !reader.Read(block.data(), capacity, got)) {
      SetError(RecoveryError::Unknown);
      return false;
    }
    if (got == 0) break;
    total += got;
    // A file that grows while it is read would keep the loop going: it is no file to trust.
    if (total > reader.size()) break;
    md5.Update(block.data(), got);
  }
  if (total != reader.size()) {
    SetError(RecoveryError::Unknown);
    return false;
  }
  md5.Final(digest);
  return true;
}

bool WriteWholeFile(const char* path, const std::uint8_t* data, std::uint32_t length) {
  if (!EnsureParentFolders(path)) return false;
  if (!platform::WriteFileBytes(path, data, length)) {
    SetError(RecoveryError::Unknown);
    return false;
  }
  return true;
}

bool FileExists(const char* path) { return platform::PathExists(path); }

bool DeleteFileRetry(const char* path) {
  if (!platform::PathExists(path)) return false;
  for (int attempt = 0; platform::PathExists(path); ++attempt) {
    if (platform::DeleteFileOnce(path)) return true;
    if (attempt == kLastRetry) return false;
    platform::SleepMs(kRetryPauseMs);
  }
  return true;  // gone by itself between attempts
}

bool MoveFileRetry(const char* source, const char* target) {
  if (!platform::PathExists(source)) return false;
  if (!EnsureParentFolders(target)) return false;
  if (platform::PathExists(target) && !DeleteFileRetry(target)) return false;
  for (int attempt = 0; !platform::PathExists(target); ++attempt) {
    if (platform::MoveFileOnce(source, target)) return true;
    if (attempt == kLastRetry) return false;
    platform::SleepMs(kRetryPauseMs);
  }
  return true;  // the target appeared between attempts
}

}  // namespace repair
