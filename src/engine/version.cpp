#include "engine/version.h"

#include <new>
#include <utility>

#include "codec/builtin_key.h"
#include "codec/codec.h"
#include "common/format.h"
#include "common/heap_buffer.h"
#include "common/little_endian.h"
#include "engine/file_ops.h"
#include "engine/recovery_state.h"

namespace repair {
namespace {

constexpr char kMajorToken[] = "$MAJORVER$";
constexpr char kMinorToken[] = "$MINORVER$";
constexpr std::uint32_t kStampCapacity = kVersionFileLong - kSealedOverhead;  // 16

std::int32_t ReadWord(const std::uint8_t* bytes) {
  return static_cast<std::int32_t>(LoadLe32(bytes));
}

// Base 10, digits only: callers pass numbers already known not to be negative.
std::string DecimalText(std::int64_t value) {
  return std::to_string(static_cast<long long>(value));
}

}  // namespace

bool DecodeVersionStamp(const std::uint8_t* bytes, std::uint32_t length, VersionStamp& stamp) {
  // Only these two lengths fit the work buffer, so nothing is decrypted before this test.
  if (bytes == nullptr || (length != kVersionFileShort && length != kVersionFileLong)) {
    return false;
  }
  std::uint8_t plaintext[kStampCapacity] = {};
  std::uint32_t plaintextLength = 0;
  const int result =
      DecryptSealed(BuiltinKey(), BuiltinKeyLength(), bytes, length, plaintext, &plaintextLength);
  if (result != kCodecOk || plaintextLength != length - kSealedOverhead) return false;
  stamp.major = ReadWord(plaintext);
  stamp.minor = ReadWord(plaintext + 4);
  stamp.third = ReadWord(plaintext + 8);
  stamp.fourth = plaintextLength == kStampCapacity ? ReadWord(plaintext + 12) : 0;
  return true;
}

Status ReadVersionFile(const char* path, VersionStamp& stamp) {
  HeapBuffer contents;
  std::uint32_t size = 0;
  Status read = ReadWholeFile(path, contents, size);
  if (!read.ok()) {
    if (read.code == RecoveryError::NotExistFile) read.code = RecoveryError::NotExistVersionFile;
    return read;
  }
  if (size > contents.size() || !DecodeVersionStamp(contents.data(), size, stamp)) {
    return Failure(RecoveryError::InvalidData, "open the version file", path,
                   std::to_string(size) + " bytes that do not open with the built-in key");
  }
  return Ok();
}

Status ResolveRemotePath(const char* baseFolder, const char* versionFileName,
                         const char* remoteTemplate, VersionMode mode, std::int32_t major,
                         std::int32_t minor, std::string& resolved) {
  if (baseFolder == nullptr || versionFileName == nullptr || remoteTemplate == nullptr) {
    return Failure(RecoveryError::Unknown, "resolve the build", "", "a setting is missing");
  }

  // 64 bits, so that a rollback from the lowest 32-bit minor cannot overflow.
  std::int64_t selectedMajor = major;
  std::int64_t selectedMinor = minor;
  if (mode != VersionMode::Explicit) {
    char path[kPathBufferSize];
    if (!FormatPath(path, "%s%s", baseFolder, versionFileName)) {
      return Failure(RecoveryError::Unknown, "read the version file", versionFileName,
                     "the path is over 259 characters");
    }
    VersionStamp stamp;
    Status read = ReadVersionFile(path, stamp);
    if (!read.ok()) return read;
    selectedMajor = stamp.major;
    selectedMinor = stamp.minor;
    if (mode == VersionMode::Rollback) --selectedMinor;
  }

  if (selectedMajor < 0 || selectedMinor < 0) {
    return Failure(RecoveryError::NotExistVersionFile, "resolve the build", "",
                   "build " + DecimalText(selectedMajor) + "." + DecimalText(selectedMinor) +
                       " does not exist");
  }

  try {
    std::string path = remoteTemplate;
    ReplaceAll(path, kMajorToken, DecimalText(selectedMajor));
    ReplaceAll(path, kMinorToken, DecimalText(selectedMinor));
    resolved = std::move(path);
  } catch (const std::bad_alloc&) {
    return Failure(RecoveryError::MemoryAllocation, "resolve the build", "", "out of memory");
  }
  return Ok();
}

bool BuildManifestUrl(char out[kPathBufferSize], const std::string& resolved,
                      const char* manifestFileName) {
  if (manifestFileName == nullptr) {
    out[0] = '\0';
    return false;
  }
  return FormatPath(out, "%s/%s", resolved.c_str(), manifestFileName);
}

}  // namespace repair
