#include "engine/version.h"

#include <new>
#include <utility>

#include "codec/builtin_key.h"
#include "codec/codec.h"
#include "common/heap_buffer.h"
#include "engine/file_ops.h"
#include "engine/recovery_state.h"

namespace repair {
namespace {

constexpr char kMajorToken[] = "$MAJORVER$";
constexpr char kMinorToken[] = "$MINORVER$";
constexpr std::uint32_t kStampCapacity = kVersionFileLong - kSealedOverhead;  // 16

std::int32_t ReadWord(const std::uint8_t* bytes) {
  const std::uint32_t word =
      static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
      static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
  return static_cast<std::int32_t>(word);
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

bool ReadVersionFile(const char* path, VersionStamp& stamp) {
  HeapBuffer contents;
  std::uint32_t size = 0;
  if (!ReadWholeFile(path, contents, size)) {
    if (GetError() == static_cast<std::int32_t>(RecoveryError::NotExistFile)) {
      SetError(RecoveryError::NotExistVersionFile);
    }
    return false;
  }
  if (size > contents.size() || !DecodeVersionStamp(contents.data(), size, stamp)) {
    SetError(RecoveryError::InvalidData);
    return false;
  }
  return true;
}

void ReplaceAll(std::string& text, const std::string& token, const std::string& replacement) {
  if (token.empty()) return;
  std::string::size_type position = text.find(token);
  while (position != std::string::npos) {
    text.replace(position, token.size(), replacement);
    position = text.find(token, position + replacement.size());
  }
}

bool ResolveRemotePath(const char* baseFolder, const char* versionFileName,
                       const char* remoteTemplate, VersionMode mode, std::int32_t major,
                       std::int32_t minor, std::string& resolved) {
  if (baseFolder == nullptr || versionFileName == nullptr || remoteTemplate == nullptr) {
    SetError(RecoveryError::Unknown);
    return false;
  }

  // 64 bits, so that a rollback from the lowest 32-bit minor cannot overflow.
  std::int64_t selectedMajor = major;
  std::int64_t selectedMinor = minor;
  if (mode != VersionMode::Explicit) {
    char path[kPathBufferSize];
    if (!FormatPath(path, "%s%s", baseFolder, versionFileName)) {
      SetError(RecoveryError::Unknown);
      return false;
    }
    VersionStamp stamp;
    if (!ReadVersionFile(path, stamp)) return false;
    selectedMajor = stamp.major;
    selectedMinor = stamp.minor;
    if (mode == VersionMode::Rollback) --selectedMinor;
  }

  if (selectedMajor < 0 || selectedMinor < 0) {
    SetError(RecoveryError::NotExistVersionFile);
    return false;
  }

  try {
    std::string path = remoteTemplate;
    ReplaceAll(path, kMajorToken, DecimalText(selectedMajor));
    ReplaceAll(path, kMinorToken, DecimalText(selectedMinor));
    resolved = std::move(path);
  } catch (const std::bad_alloc&) {
    SetError(RecoveryError::MemoryAllocation);
    return false;
  }
  return true;
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
