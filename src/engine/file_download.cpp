#include "engine/file_download.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "codec/codec.h"
#include "common/format.h"
#include "engine/file_ops.h"
#include "engine/http_fetch.h"
#include "engine/recovery_state.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/http_client.h"
#include "platform/os_error.h"

namespace repair {
namespace {

constexpr char kRecordMagic[] = "tovak-recovery-part 1";
constexpr std::size_t kMaxValidatorLength = 255;
// Below this a cut-off download is simply fetched again.
constexpr std::uint32_t kSmallestResumable = 256 * 1024;
// A record is four short lines; anything longer is not one of ours.
constexpr std::size_t kMaxRecordFile = 1024;

bool IsPrintable(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return false;
  }
  return true;
}

// If-Range takes a strong ETag or a date: a weak ETag cannot promise byte-identical content.
std::string ChooseValidator(const platform::HttpResponseHead& head) {
  std::string chosen = head.etag;
  if (chosen.empty() || chosen.compare(0, 2, "W/") == 0) chosen = head.lastModified;
  if (chosen.size() > kMaxValidatorLength || !IsPrintable(chosen)) chosen.clear();
  return chosen;
}

void Discard(const std::string& path) {
  if (FileExists(path.c_str())) DeleteFileRetry(path.c_str());
}

// The bytes of a part file that may be continued: 0 when there is none, or it is empty, or
// longer than the entry, or its record is missing, unreadable, or of another entry.
std::uint32_t UsablePart(const PartPaths& paths, std::uint32_t size, const std::uint8_t* md5,
                         std::string& validator) {
  validator.clear();
  std::uint32_t have = 0;
  if (!platform::RegularFileSize(paths.part.c_str(), have) || have == 0 || have > size) return 0;
  std::uint32_t recordSize = 0;
  HeapBuffer text;
  if (!platform::RegularFileSize(paths.validator.c_str(), recordSize) ||
      recordSize > kMaxRecordFile ||
      platform::ReadFileBytes(paths.validator.c_str(), text) != platform::ReadStatus::kOk) {
    return 0;
  }
  PartRecord record;
  if (!ParsePartRecord(std::string(reinterpret_cast<const char*>(text.data()), text.size()),
                       record) ||
      record.size != size || std::memcmp(record.md5, md5, sizeof record.md5) != 0) {
    return 0;
  }
  validator = record.validator;
  return have;
}

// Feeds the first `length` bytes of the part file to the digest. False, between blocks, for a
// stop request as well.
bool DigestPrefix(const std::string& path, std::uint32_t length, HeapBuffer& block,
                  Md5Stream& digest) {
  platform::FileReader reader;
  if (reader.Open(path.c_str()) != platform::ReadStatus::kOk || reader.size() < length) {
    return false;
  }
  std::uint32_t left = length;
  while (left > 0) {
    if (StopRequested()) return false;
    std::uint32_t want = static_cast<std::uint32_t>(std::min<std::size_t>(left, block.size()));
    std::uint32_t got = 0;
    if (!reader.Read(block.data(), want, got) || got == 0) return false;
    digest.Update(block.data(), got);
    left -= got;
  }
  return true;
}

// Why the sink stopped a transfer.
enum class Refusal { kNone, kWrongLength, kWrongRange, kWriteFailed, kStopped };

// Writes the body into the part file, digesting and counting it on the way.
class PartSink final : public platform::HttpSink {
 public:
  PartSink(const PartPaths& paths, std::uint32_t size, const std::uint8_t* md5,
           std::uint32_t resumeFrom, Md5Stream& digest, std::atomic<std::uint32_t>* counter)
      : paths_(paths),
        size_(size),
        md5_(md5),
        resumeFrom_(resumeFrom),
        digest_(digest),
        counter_(counter) {}

  bool Begin(const platform::HttpResponseHead& head) override {
    // Before anything of the part file is touched: it stays for the next run.
    if (StopRequested()) return Refuse(Refusal::kStopped);
    if (head.status == 206) return ContinuePart(head);
    return StartOver(head);
  }

  bool Data(const std::uint8_t* bytes, std::uint32_t count) override {
    // The part file keeps what was written before the stop, to be continued by the next run.
    if (StopRequested()) return Refuse(Refusal::kStopped);
    if (!writer_.Write(bytes, count)) return RefuseWrite(paths_.part);
    digest_.Update(bytes, count);
    received_ += count;
    // A display value for the UI thread: no ordering with other memory is needed.
    if (counter_ != nullptr) counter_->fetch_add(count, std::memory_order_relaxed);
    return true;
  }

  bool Wanted() override { return !StopRequested() || Refuse(Refusal::kStopped); }

  // Closes the part file. False when the close failed.
  bool Finish() { return !opened_ || writer_.Close(); }

  Refusal refusal() const { return refusal_; }
  // For kWriteFailed: the file that could not be written and the OS error.
  const std::string& failedPath() const { return failedPath_; }
  int osError() const { return osError_; }
  bool Complete() const { return opened_ && received_ == expected_; }

 private:
  bool Refuse(Refusal why) {
    refusal_ = why;
    return false;
  }
  bool RefuseWrite(const std::string& path) {
    osError_ = platform::LastOsError();
    failedPath_ = path;
    return Refuse(Refusal::kWriteFailed);
  }

  // The rest of the file, where the part file ends, of the length the manifest gives.
  bool ContinuePart(const platform::HttpResponseHead& head) {
    if (resumeFrom_ == 0 || head.rangeStart != resumeFrom_ || head.totalLength != size_ ||
        head.contentLength != size_ - resumeFrom_) {
      return Refuse(Refusal::kWrongRange);
    }
    if (!writer_.Open(paths_.part.c_str(), resumeFrom_)) return RefuseWrite(paths_.part);
    opened_ = true;
    expected_ = head.contentLength;
    return true;
  }

  // The whole file: whatever the part file held belongs to a version the server no longer has.
  bool StartOver(const platform::HttpResponseHead& head) {
    if (head.contentLength != size_) return Refuse(Refusal::kWrongLength);
    std::uint8_t discarded[kMd5Size];
    digest_.Final(discarded);
    if (counter_ != nullptr) counter_->store(0, std::memory_order_relaxed);
    // The old record goes first: a record beside bytes of another version would splice them.
    Discard(paths_.validator);
    if (!writer_.Open(paths_.part.c_str(), 0)) return RefuseWrite(paths_.part);
    opened_ = true;
    expected_ = head.contentLength;
    PartRecord record;
    record.size = size_;
    std::memcpy(record.md5, md5_, sizeof record.md5);
    record.validator = ChooseValidator(head);
    // Without a validator the part can never be continued safely: it keeps no record. Nor
    // does a small file, which is fetched again faster than its record is written and read.
    if (record.validator.empty() || size_ < kSmallestResumable) return true;
    const std::string text = FormatPartRecord(record);
    if (!platform::WriteFileBytes(paths_.validator.c_str(),
                                  reinterpret_cast<const std::uint8_t*>(text.data()),
                                  static_cast<std::uint32_t>(text.size()))) {
      return RefuseWrite(paths_.validator);
    }
    return true;
  }

  const PartPaths& paths_;
  const std::uint32_t size_;
  const std::uint8_t* md5_;
  const std::uint32_t resumeFrom_;
  Md5Stream& digest_;
  std::atomic<std::uint32_t>* counter_;
  platform::FileWriter writer_;
  bool opened_ = false;
  std::uint32_t expected_ = 0;
  std::uint32_t received_ = 0;
  Refusal refusal_ = Refusal::kNone;
  std::string failedPath_;
  int osError_ = 0;
};

// A complete part file whose digest is right becomes the cache file, in one step.
Status RenameIntoCache(const PartPaths& paths, const char* cachePath) {
  if (!platform::RenameOver(paths.part.c_str(), cachePath)) {
    return OsFailure(RecoveryError::Unknown, "rename", paths.part, platform::LastOsError());
  }
  Discard(paths.validator);
  return Ok();
}

std::string Md5Text(const std::uint8_t* md5) {
  char text[2 * kMd5Size + 1];
  for (std::size_t i = 0; i < kMd5Size; ++i) std::snprintf(text + 2 * i, 3, "%02x", md5[i]);
  return text;
}

// The part file is complete: it becomes the cache file if, and only if, its digest is right.
Status InstallPart(const PartPaths& paths, const char* cachePath, Md5Stream& digest,
                   const std::uint8_t* md5, const char* url) {
  std::uint8_t actual[kMd5Size];
  digest.Final(actual);
  if (std::memcmp(actual, md5, kMd5Size) != 0) {
    Discard(paths.part);
    Discard(paths.validator);
    return Failure(RecoveryError::InvalidData, "fetch", url,
                   "MD5 " + Md5Text(actual) + ", the manifest says " + Md5Text(md5));
  }
  return RenameIntoCache(paths, cachePath);
}

Status FailAfterTransfer(const char* url, platform::HttpResult result,
                         const platform::HttpHeadFacts& facts, const PartSink& sink,
                         const PartPaths& paths, std::uint32_t size) {
  switch (sink.refusal()) {
    case Refusal::kWrongLength:
    case Refusal::kWrongRange:
      // Nothing of this answer can be trusted to continue the part with.
      Discard(paths.part);
      Discard(paths.validator);
      return HttpFailure(RecoveryError::InvalidData, url, facts.status,
                         "Content-Length " + std::to_string(facts.contentLength) +
                             (sink.refusal() == Refusal::kWrongRange
                                  ? ", a range that does not continue the part file"
                                  : ", the manifest says " + std::to_string(size)));
    case Refusal::kWriteFailed:
      return OsFailure(RecoveryError::Unknown, "write", sink.failedPath(), sink.osError());
    case Refusal::kStopped: return Stopped();  // not a failure: the part and its record stay
    case Refusal::kNone: break;
  }
  // The bytes that did arrive stay in the part file for the next run.
  if (result == platform::HttpResult::kOk) {
    return HttpFailure(RecoveryError::InvalidData, url, facts.status, "the body ended short");
  }
  return TransferFailure(url, result, facts);
}

}  // namespace

bool BuildPartPaths(const char* cachePath, PartPaths& paths) {
  char part[kPathBufferSize];
  char validator[kPathBufferSize];
  if (!FormatPath(part, "%s.part", cachePath) ||
      !FormatPath(validator, "%s.part.validator", cachePath)) {
    return false;
  }
  paths.part = part;
  paths.validator = validator;
  return true;
}

std::string FormatPartRecord(const PartRecord& record) {
  char md5[2 * kMd5Size + 1];
  for (std::size_t i = 0; i < kMd5Size; ++i) {
    std::snprintf(md5 + 2 * i, 3, "%02x", record.md5[i]);
  }
  return std::string(kRecordMagic) + "\nsize " + std::to_string(record.size) + "\nmd5 " + md5 +
         "\nvalidator " + record.validator + "\n";
}

bool ParsePartRecord(const std::string& text, PartRecord& record) {
  record = PartRecord();
  unsigned long long size = 0;
  char md5[33] = {};
  int consumed = 0;
  const std::string head =
      std::string(kRecordMagic) + "\nsize %20llu\nmd5 %32[0-9a-f]\nvalidator %n";
  if (text.size() > kMaxRecordFile ||
      std::sscanf(text.c_str(), head.c_str(), &size, md5, &consumed) != 2 || consumed == 0 ||
      size > UINT32_MAX || std::strlen(md5) != 2 * kMd5Size) {
    return false;
  }
  // sscanf skips white space before the numbers and after "validator": the text is checked back
  // against the one form written, and the validator starts right after that form's one space.
  const std::string written = std::string(kRecordMagic) + "\nsize " + std::to_string(size) +
                              "\nmd5 " + md5 + "\nvalidator ";
  if (text.compare(0, written.size(), written) != 0) return false;
  std::string validator = text.substr(written.size());
  if (validator.empty() || validator.back() != '\n') return false;
  validator.pop_back();
  if (validator.empty() || validator.size() > kMaxValidatorLength || !IsPrintable(validator)) {
    return false;
  }
  record.size = static_cast<std::uint32_t>(size);
  for (std::size_t i = 0; i < kMd5Size; ++i) {
    unsigned byte = 0;
    std::sscanf(md5 + 2 * i, "%2x", &byte);
    record.md5[i] = static_cast<std::uint8_t>(byte);
  }
  record.validator = validator;
  return true;
}

std::uint32_t ResumableBytes(const char* cachePath, std::uint32_t size, const std::uint8_t* md5) {
  PartPaths paths;
  std::string validator;
  return BuildPartPaths(cachePath, paths) ? UsablePart(paths, size, md5, validator) : 0;
}

Status DownloadToCache(const char* url, const char* cachePath, std::uint32_t size,
                       const std::uint8_t* md5, std::atomic<std::uint32_t>* counter,
                       HeapBuffer& block, const char* caFile, bool* serverBusy) {
  if (serverBusy != nullptr) *serverBusy = false;
  if (counter != nullptr) counter->store(0, std::memory_order_relaxed);
  PartPaths paths;
  if (!BuildPartPaths(cachePath, paths)) {
    return Failure(RecoveryError::Unknown, "name the part file of", cachePath, "path too long");
  }
  Status folders = EnsureParentFolders(paths.part.c_str());
  if (!folders.ok()) return folders;

  Md5Stream digest;
  platform::HttpRequest request;
  request.url = url;
  if (caFile != nullptr) request.caFile = caFile;
  std::uint32_t have = UsablePart(paths, size, md5, request.ifRange);
  if (have > 0 && !DigestPrefix(paths.part, have, block, digest)) {
    // Going on would start the file over and lose the part.
    if (StopRequested()) return Stopped();
    have = 0;
    std::uint8_t discarded[kMd5Size];
    digest.Final(discarded);
  }
  // Complete but not yet renamed (a run ended between the two): installed if it is right,
  // fetched again if not.
  if (have == size && size > 0) {
    std::uint8_t actual[kMd5Size];
    digest.Final(actual);
    if (std::memcmp(actual, md5, kMd5Size) == 0) return RenameIntoCache(paths, cachePath);
    have = 0;
  }
  if (have == 0) request.ifRange.clear();
  if (counter != nullptr) counter->store(have, std::memory_order_relaxed);

  request.resumeFrom = have;
  PartSink sink(paths, size, md5, have, digest, counter);
  platform::HttpHeadFacts facts;
  const platform::HttpResult result = platform::HttpGet(request, sink, &facts);
  const bool finished = sink.Finish();
  if (result != platform::HttpResult::kOk || !sink.Complete()) {
    if (serverBusy != nullptr) *serverBusy = TurnedAway(result, facts);
    return FailAfterTransfer(url, result, facts, sink, paths, size);
  }
  if (!finished) {
    return OsFailure(RecoveryError::Unknown, "close", paths.part, platform::LastOsError());
  }
  return InstallPart(paths, cachePath, digest, md5, url);
}

}  // namespace repair
