#include "engine/manifest.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "codec/builtin_key.h"
#include "codec/codec.h"
#include "common/format.h"
#include "common/little_endian.h"
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

std::int16_t ReadI16(const std::uint8_t* bytes) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8));
}

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

RecoveryError ParseRecordsOrThrow(const std::uint8_t* plaintext, std::uint32_t length,
                                  FileList& entries) {
  if (plaintext == nullptr && length != 0) return RecoveryError::InvalidData;
  // Collected first, so that a refused manifest adds no record at all.
  std::vector<std::unique_ptr<FileEntry>> parsed;
  std::uint32_t consumed = 0;
  while (consumed < length) {
    const std::uint32_t left = length - consumed;
    const std::uint8_t* record = plaintext + consumed;
    if (left < 2) return RecoveryError::InvalidData;
    const std::int32_t nameLength = ReadI16(record);
    if (nameLength < 0 || nameLength > kMaxManifestNameLength ||
        left < static_cast<std::uint32_t>(nameLength) + kManifestRecordOverhead) {
      return RecoveryError::InvalidData;
    }
    // The name ends at its first zero byte, if it holds one.
    const char* nameBytes = reinterpret_cast<const char*>(record + 2);
    const void* zero = std::memchr(nameBytes, '\0', static_cast<std::size_t>(nameLength));
    const std::string name(nameBytes, zero ? static_cast<const char*>(zero) - nameBytes
                                           : static_cast<std::ptrdiff_t>(nameLength));
    if (!IsSafeRelativeName(name)) return RecoveryError::InvalidData;
    const std::uint8_t* tail = record + 2 + nameLength;
    parsed.push_back(std::make_unique<FileEntry>(name.c_str(), LoadLe32(tail), tail + 4));
    consumed += static_cast<std::uint32_t>(nameLength) + kManifestRecordOverhead;
  }
  for (auto& entry : parsed) entries.Append(std::move(entry));
  return RecoveryError::None;
}

Status ReadManifestOrThrow(const char* url, const char* caFile, FileList& entries) {
  HeapBuffer body;
  std::uint32_t length = 0;
  Status fetched = FetchManifest(url, caFile, body, length);
  if (!fetched.ok()) return fetched;
  std::unique_ptr<FileEntry> own;
  RecoveryError code = MakeOwnEntry(url, body.data(), length, own);
  if (code != RecoveryError::None) {
    return Failure(code, "read the manifest", url, "its name is no safe file name");
  }
  if (own) entries.Append(std::move(own));
  HeapBuffer plaintext;
  std::uint32_t plaintextLength = 0;
  code = OpenManifestBody(std::move(body), length, plaintext, plaintextLength);
  if (code != RecoveryError::None) {
    return Failure(code, "open the manifest", url,
                   std::to_string(length) + " bytes that do not unpack and open");
  }
  code = ParseManifestRecords(plaintext.data(), plaintextLength, entries);
  if (code != RecoveryError::None) {
    return Failure(code, "read the manifest", url, "a record out of bounds or an unsafe name");
  }
  return Ok();
}

// The two steps of opening a manifest body, apart so that the body can be released between
// them. Unpacking refuses a body over kMaxManifestLength, a declared length out of bounds and
// LZMA data that does not end within it; opening refuses a blob that does not open.
RecoveryError UnpackManifestBody(const std::uint8_t* body, std::uint32_t length,
                                 HeapBuffer& unpacked, std::uint32_t& unpackedLength) {
  unpackedLength = 0;
  if (body == nullptr || length < kSealedSizeField || length > kMaxManifestLength) {
    return RecoveryError::InvalidData;
  }

  // The declared unpacked length is only a capacity: the stream may end earlier at its end
  // marker, and never writes past it.
  unpackedLength = LoadLe32(body);
  const std::uint32_t packedLength = length - kSealedSizeField;
  if (unpackedLength > MaxSealedSize(packedLength)) return RecoveryError::InvalidData;
  if (!unpacked.Allocate(unpackedLength)) return RecoveryError::MemoryAllocation;
  // A body of exactly four bytes has no LZMA data: the codec refuses a zero-length source.
  if (UnpackLzma(body + kSealedSizeField, packedLength, unpacked.data(), &unpackedLength, 0) !=
          kCodecOk ||
      unpackedLength < kSealedOverhead) {
    return RecoveryError::InvalidData;
  }
  return RecoveryError::None;
}

RecoveryError OpenUnpackedManifest(const HeapBuffer& unpacked, std::uint32_t unpackedLength,
                                   HeapBuffer& plaintext, std::uint32_t& plaintextLength) {
  // The plaintext is exactly the blob less its overhead: never more than was unpacked.
  HeapBuffer opened;
  if (!opened.Allocate(unpackedLength - kSealedOverhead)) return RecoveryError::MemoryAllocation;
  std::uint32_t openedLength = 0;
  if (DecryptSealed(BuiltinKey(), BuiltinKeyLength(), unpacked.data(), unpackedLength,
                    opened.data(), &openedLength) != kCodecOk ||
      openedLength != unpackedLength - kSealedOverhead) {
    return RecoveryError::InvalidData;
  }
  plaintext = std::move(opened);
  plaintextLength = openedLength;
  return RecoveryError::None;
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

Status FetchManifest(const char* url, const char* caFile, HeapBuffer& body, std::uint32_t& length) {
  body.Reset();
  length = 0;
  if (url == nullptr || !FitsPathBuffer(url)) {
    return Failure(RecoveryError::Unknown, "fetch the manifest", "", "URL over 259 characters");
  }
  Status fetched = FetchUrl(url, body, length, nullptr, caFile, kMaxManifestLength);
  if (!fetched.ok()) {
    if (fetched.code == RecoveryError::NotExistFile) fetched.code = RecoveryError::NotExistHashFile;
    return fetched;
  }
  if (length > body.size()) {
    body.Reset();
    length = 0;
    return Failure(RecoveryError::InvalidData, "fetch", url, "body longer than its buffer");
  }
  return Ok();
}

// Running out of memory for the name is reported like any other allocation failure.
RecoveryError MakeOwnEntry(const char* url, const std::uint8_t* body, std::uint32_t length,
                           std::unique_ptr<FileEntry>& entry) {
  entry.reset();
  try {
    // Read as a manifest name is read: both slash kinds end a folder, so the URL's '/' does.
    const std::string name = platform::LastComponent(url, platform::HostManifestRules());
    if (!IsSafeRelativeName(name)) return RecoveryError::InvalidData;
    std::uint8_t digest[kMd5Size];
    if (DigestMd5(body, length, digest, nullptr) != kCodecOk) return RecoveryError::None;
    entry = std::make_unique<FileEntry>(name.c_str(), length, digest);
    return RecoveryError::None;
  } catch (const std::bad_alloc&) {
    return RecoveryError::MemoryAllocation;
  }
}

RecoveryError OpenManifestBody(HeapBuffer body, std::uint32_t length, HeapBuffer& plaintext,
                               std::uint32_t& plaintextLength) {
  plaintext.Reset();
  plaintextLength = 0;
  if (length > body.size()) return RecoveryError::InvalidData;
  HeapBuffer unpacked;
  std::uint32_t unpackedLength = 0;
  RecoveryError code = UnpackManifestBody(body.data(), length, unpacked, unpackedLength);
  if (code != RecoveryError::None) return code;
  // The largest manifest then holds 64 MiB at most: the unpacked blob with either its source
  // or its plaintext.
  body.Reset();
  return OpenUnpackedManifest(unpacked, unpackedLength, plaintext, plaintextLength);
}

RecoveryError ParseManifestRecords(const std::uint8_t* plaintext, std::uint32_t length,
                                   FileList& entries) {
  try {
    return ParseRecordsOrThrow(plaintext, length, entries);
  } catch (const std::bad_alloc&) {
    return RecoveryError::MemoryAllocation;
  }
}

Status ReadManifest(const char* url, const char* caFile, FileList& entries) {
  try {
    return ReadManifestOrThrow(url, caFile, entries);
  } catch (const std::bad_alloc&) {
    return Failure(RecoveryError::MemoryAllocation, "read the manifest", url, "out of memory");
  }
}

}  // namespace repair
