#include "engine/manifest.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "codec/builtin_key.h"
#include "codec/codec.h"
#include "common/format.h"
#include "engine/http_fetch.h"

namespace repair {
namespace {

constexpr std::uint32_t kSealedSizeField = 4;
// The packed data is a sealed blob: an ephemeral point, a body XORed with a key stream, and a
// tag, all of it indistinguishable from random bytes, which LZMA cannot shrink (each literal
// costs its 8 bits and a little more). So a real manifest's sealed size is at most its packed
// length and a few bytes. Twice the packed length and 64 KiB leave room for any encoder while
// bounding what a hostile size field can make the tool allocate before a single byte is
// unpacked: at most about twice what the server actually sent.
constexpr std::uint64_t kSealedSizeSlack = 64 * 1024;

std::uint64_t MaxSealedSize(std::uint32_t packedLength) {
  return static_cast<std::uint64_t>(packedLength) * 2 + kSealedSizeSlack;
}

std::uint32_t ReadU32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::int16_t ReadI16(const std::uint8_t* bytes) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8));
}

// The two steps of opening a manifest body, apart so that the body can be released between
// them. Unpacking refuses a body over kMaxManifestLength, a declared length out of bounds and
// LZMA data that does not end within it; opening refuses a blob that does not open.
bool UnpackManifestBody(const std::uint8_t* body, std::uint32_t length, HeapBuffer& unpacked,
                        std::uint32_t& unpackedLength);
bool OpenUnpackedManifest(const HeapBuffer& unpacked, std::uint32_t unpackedLength,
                          HeapBuffer& plaintext, std::uint32_t& plaintextLength);

// A component that Windows would not take as it is: empty (a doubled separator), or ending with
// a dot or a space, which Windows drops. That covers ".", "..", and forms such as "..." or ".. "
// that Windows reads as "..", and every other spelling of a name that is not the name itself
// ("repair.exe." and "repair.exe " are "repair.exe"); or a device's name ("nul.txt", "COM1"),
// which opens a device, not a file. The last byte is looked at even where it
// is the second of a double-byte character: no code page has a dot or a space there, and a name
// that claims one is refused rather than guessed at.
bool IsRewrittenComponent(const std::string& name, std::size_t begin, std::size_t end) {
  return begin == end || name[end - 1] == '.' || name[end - 1] == ' ' ||
         platform::IsWindowsDeviceName(std::string_view(name).substr(begin, end - begin));
}

bool FitsPathBuffer(const char* text) {
  for (std::size_t i = 0; i < kPathBufferSize; ++i) {
    if (text[i] == '\0') return true;
  }
  return false;
}

// Appends under the list lock: the UI thread may count the entries while the list grows.
void AppendLocked(FileList& files, std::unique_ptr<FileEntry> entry) {
  std::lock_guard<std::mutex> lock(GlobalRecoveryState().filesMutex);
  files.Append(std::move(entry));
}

// The entry that keeps the client's own copy of the manifest current; false when the URL
// names no usable file. A body that cannot be digested gets no entry, which is no failure.
bool AppendOwnEntry(const char* url, const std::uint8_t* body, std::uint32_t length,
                    FileList& files) {
  const std::string name = LastComponent(url);
  if (!IsSafeRelativeName(name)) return false;
  std::uint8_t digest[kMd5Size];
  if (DigestMd5(body, length, digest, nullptr) != kCodecOk) return true;
  AppendLocked(files, std::make_unique<FileEntry>(name.c_str(), length, digest));
  return true;
}

bool ParseRecordsOrThrow(const std::uint8_t* plaintext, std::uint32_t length, FileList& files) {
  if (plaintext == nullptr && length != 0) {
    SetError(RecoveryError::InvalidData);
    return false;
  }
  // Collected first, so that a refused manifest adds no record at all.
  std::vector<std::unique_ptr<FileEntry>> entries;
  std::uint32_t consumed = 0;
  while (consumed < length) {
    const std::uint32_t left = length - consumed;
    const std::uint8_t* record = plaintext + consumed;
    if (left < 2) {
      SetError(RecoveryError::InvalidData);
      return false;
    }
    const std::int32_t nameLength = ReadI16(record);
    if (nameLength < 0 || nameLength > kMaxManifestNameLength ||
        left < static_cast<std::uint32_t>(nameLength) + kManifestRecordOverhead) {
      SetError(RecoveryError::InvalidData);
      return false;
    }
    // The name ends at its first zero byte, if it holds one.
    const char* nameBytes = reinterpret_cast<const char*>(record + 2);
    const void* zero = std::memchr(nameBytes, '\0', static_cast<std::size_t>(nameLength));
    const std::string name(nameBytes, zero ? static_cast<const char*>(zero) - nameBytes
                                           : static_cast<std::ptrdiff_t>(nameLength));
    if (!IsSafeRelativeName(name)) {
      SetError(RecoveryError::InvalidData);
      return false;
    }
    const std::uint8_t* tail = record + 2 + nameLength;
    entries.push_back(std::make_unique<FileEntry>(name.c_str(), ReadU32(tail), tail + 4));
    consumed += static_cast<std::uint32_t>(nameLength) + kManifestRecordOverhead;
  }

  std::lock_guard<std::mutex> lock(GlobalRecoveryState().filesMutex);
  for (auto& entry : entries) files.Append(std::move(entry));
  return true;
}

bool ParseManifestOrThrow(const char* url, FileList& files, const char* caFile) {
  if (url == nullptr || !FitsPathBuffer(url)) {
    SetError(RecoveryError::Unknown);
    return false;
  }

  HeapBuffer body;
  std::uint32_t bodyLength = 0;
  if (!FetchUrl(url, body, bodyLength, nullptr, caFile, kMaxManifestLength)) {
    if (GetError() == static_cast<std::int32_t>(RecoveryError::NotExistFile)) {
      SetError(RecoveryError::NotExistHashFile);
    }
    return false;
  }
  if (bodyLength > body.size()) {
    SetError(RecoveryError::InvalidData);
    return false;
  }
  if (!AppendOwnEntry(url, body.data(), bodyLength, files)) {
    SetError(RecoveryError::InvalidData);
    return false;
  }

  // The body goes before the plaintext is allocated: the largest manifest then holds 64 MiB
  // at most, the unpacked blob with either its source or its plaintext.
  HeapBuffer unpacked;
  std::uint32_t unpackedLength = 0;
  if (!UnpackManifestBody(body.data(), bodyLength, unpacked, unpackedLength)) return false;
  body.Reset();
  HeapBuffer plaintext;
  std::uint32_t plaintextLength = 0;
  if (!OpenUnpackedManifest(unpacked, unpackedLength, plaintext, plaintextLength)) return false;
  unpacked.Reset();
  return ParseRecordsOrThrow(plaintext.data(), plaintextLength, files);
}

}  // namespace

bool IsSafeRelativeName(const std::string& name, const platform::NameRules& rules) {
  // A leading separator, a trailing one and a doubled one all make an empty component.
  if (name.empty() || name.find(':') != std::string::npos) return false;
  std::size_t begin = 0;
  while (begin <= name.size()) {
    const std::size_t end = platform::NextSeparator(name, begin, rules);
    if (IsRewrittenComponent(name, begin, end)) return false;
    begin = end + 1;
  }
  return true;
}

bool IsSafeRelativeName(const std::string& name) {
  return IsSafeRelativeName(name, platform::HostManifestRules());
}

bool OpenManifestBody(const std::uint8_t* body, std::uint32_t length, HeapBuffer& plaintext,
                      std::uint32_t& plaintextLength) {
  plaintext.Reset();
  plaintextLength = 0;
  HeapBuffer unpacked;
  std::uint32_t unpackedLength = 0;
  return UnpackManifestBody(body, length, unpacked, unpackedLength) &&
         OpenUnpackedManifest(unpacked, unpackedLength, plaintext, plaintextLength);
}

namespace {

bool UnpackManifestBody(const std::uint8_t* body, std::uint32_t length, HeapBuffer& unpacked,
                        std::uint32_t& unpackedLength) {
  unpackedLength = 0;
  if (body == nullptr || length < kSealedSizeField || length > kMaxManifestLength) {
    SetError(RecoveryError::InvalidData);
    return false;
  }

  // The declared unpacked length is only a capacity: the stream may end earlier at its end
  // marker, and never writes past it.
  unpackedLength = ReadU32(body);
  const std::uint32_t packedLength = length - kSealedSizeField;
  if (unpackedLength > MaxSealedSize(packedLength)) {
    SetError(RecoveryError::InvalidData);
    return false;
  }
  if (!unpacked.Allocate(unpackedLength)) {
    SetError(RecoveryError::MemoryAllocation);
    return false;
  }
  // A body of exactly four bytes has no LZMA data: the codec refuses a zero-length source.
  if (UnpackLzma(body + kSealedSizeField, packedLength, unpacked.data(), &unpackedLength, 0) !=
          kCodecOk ||
      unpackedLength < kSealedOverhead) {
    SetError(RecoveryError::InvalidData);
    return false;
  }
  return true;
}

bool OpenUnpackedManifest(const HeapBuffer& unpacked, std::uint32_t unpackedLength,
                          HeapBuffer& plaintext, std::uint32_t& plaintextLength) {
  // The plaintext is exactly the blob less its overhead: never more than was unpacked.
  HeapBuffer opened;
  if (!opened.Allocate(unpackedLength - kSealedOverhead)) {
    SetError(RecoveryError::MemoryAllocation);
    return false;
  }
  std::uint32_t openedLength = 0;
  if (DecryptSealed(BuiltinKey(), BuiltinKeyLength(), unpacked.data(), unpackedLength,
                    opened.data(), &openedLength) != kCodecOk ||
      openedLength != unpackedLength - kSealedOverhead) {
    SetError(RecoveryError::InvalidData);
    return false;
  }
  plaintext = std::move(opened);
  plaintextLength = openedLength;
  return true;
}

}  // namespace

// Running out of memory for a name or an entry is reported like any other allocation failure.
bool ParseManifestRecords(const std::uint8_t* plaintext, std::uint32_t length, FileList& files) {
  try {
    return ParseRecordsOrThrow(plaintext, length, files);
  } catch (const std::bad_alloc&) {
    SetError(RecoveryError::MemoryAllocation);
    return false;
  }
}

bool ParseManifest(const char* url, FileList& files, const char* caFile) {
  try {
    return ParseManifestOrThrow(url, files, caFile);
  } catch (const std::bad_alloc&) {
    SetError(RecoveryError::MemoryAllocation);
    return false;
  }
}

std::string LastComponent(const char* path, const platform::NameRules& rules) {
  const std::string_view text(path);
  return std::string(text.substr(platform::LastComponentStart(text, rules)));
}

std::string LastComponent(const char* path) {
  return LastComponent(path, platform::HostManifestRules());
}

}  // namespace repair
