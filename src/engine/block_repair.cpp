#include "engine/block_repair.h"

#include <algorithm>
#include <cstring>

#include "codec/codec.h"
#include "engine/file_download.h"
#include "engine/file_ops.h"
#include "engine/http_fetch.h"
#include "engine/recovery_state.h"
#include "platform/file_io.h"
#include "platform/http_client.h"
#include "platform/os_error.h"

namespace repair {
namespace {

using platform::HttpResult;

BlockRepairResult FallBack(const BlockRepairJob& job, std::string why) {
  BlockRepairResult result;
  result.outcome = BlockRepairOutcome::kFallBack;
  result.status.operation = "block repair";
  result.status.subject = job.indexUrl;
  result.status.note = std::move(why);
  return result;
}

BlockRepairResult Outcome(BlockRepairOutcome outcome, const BlockRepairCounts& counts) {
  BlockRepairResult result;
  result.outcome = outcome;
  result.counts = counts;
  return result;
}

BlockRepairResult Failed(Status status, const BlockRepairCounts& counts) {
  BlockRepairResult result = Outcome(BlockRepairOutcome::kFailed, counts);
  result.status = std::move(status);
  return result;
}

// Holds the body of an index, refusing any that could not be one for this entry before a
// byte of it is kept.
class IndexSink final : public platform::HttpSink {
 public:
  explicit IndexSink(std::uint64_t maxLength) : maxLength_(maxLength) {}

  bool Begin(const platform::HttpResponseHead& head) override {
    if (StopRequested()) return false;
    if (head.contentLength > maxLength_) {
      tooLong_ = true;
      return false;
    }
    bytes_.reserve(head.contentLength);
    return true;
  }
  bool Data(const std::uint8_t* data, std::uint32_t count) override {
    if (StopRequested()) return false;
    bytes_.insert(bytes_.end(), data, data + count);
    return true;
  }
  bool Wanted() override { return !StopRequested(); }

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  bool tooLong() const { return tooLong_; }

 private:
  std::uint64_t maxLength_;
  std::vector<std::uint8_t> bytes_;
  bool tooLong_ = false;
};

// Reads `length` bytes at the reader's position into `buffer` whole. False on a short read.
bool ReadExactly(platform::FileReader& reader, std::uint8_t* buffer, std::uint32_t length) {
  std::uint32_t done = 0;
  while (done < length) {
    std::uint32_t got = 0;
    if (!reader.Read(buffer + done, length - done, got) || got == 0) return false;
    done += got;
  }
  return true;
}

bool BlockMatches(const BlockIndex& index, std::uint32_t block, const std::uint8_t* bytes) {
  std::uint8_t digest[kMd5Size];
  Md5Stream md5;
  md5.Update(bytes, index.BlockLength(block));
  md5.Final(digest);
  return std::memcmp(digest, index.BlockMd5(block), kMd5Size) == 0;
}

// Marks the good blocks at the start of the part file kFromPart and digests them into
// plan.digest. False for a stop request.
bool KeepPartPrefix(const std::string& partPath, BlockRepairPlan& plan) {
  std::uint32_t partSize = 0;
  if (!platform::RegularFileSize(partPath.c_str(), partSize) || partSize == 0) return true;
  platform::FileReader reader;
  if (reader.Open(partPath.c_str()) != platform::ReadStatus::kOk) return true;
  const BlockIndex& index = plan.index;
  for (std::uint32_t i = 0; i < index.BlockCount(); ++i) {
    if (StopRequested()) return false;
    const std::uint32_t length = index.BlockLength(i);
    if (std::uint64_t{index.BlockOffset(i)} + length > reader.size() ||
        !ReadExactly(reader, plan.block.data(), length) ||
        !BlockMatches(index, i, plan.block.data())) {
      break;
    }
    plan.digest->Update(plan.block.data(), length);
    plan.sources[i] = BlockRepairPlan::kFromPart;
    plan.partKeep += length;
    ++plan.counts.kept;
  }
  return true;
}

// Marks the local file's good blocks past the part file's kFromLocal. False for a stop request.
bool FindLocalBlocks(platform::FileReader& local, BlockRepairPlan& plan) {
  const BlockIndex& index = plan.index;
  std::uint32_t first = plan.counts.kept;
  if (first >= index.BlockCount() || !local.SeekTo(index.BlockOffset(first))) return true;
  for (std::uint32_t i = first; i < index.BlockCount(); ++i) {
    if (StopRequested()) return false;
    const std::uint32_t length = index.BlockLength(i);
    if (std::uint64_t{index.BlockOffset(i)} + length > local.size() ||
        !ReadExactly(local, plan.block.data(), length)) {
      break;  // the rest lies past the local file's end, or cannot be read: fetched
    }
    if (BlockMatches(index, i, plan.block.data())) {
      plan.sources[i] = BlockRepairPlan::kFromLocal;
      ++plan.counts.reused;
    }
  }
  return true;
}

void CountFetches(BlockRepairPlan& plan) {
  const BlockIndex& index = plan.index;
  for (std::uint32_t i = 0; i < index.BlockCount(); ++i) {
    if (plan.sources[i] != BlockRepairPlan::kFetch) continue;
    ++plan.counts.fetched;
    plan.counts.bytesToFetch += index.BlockLength(i);
    if (i == 0 || plan.sources[i - 1] != BlockRepairPlan::kFetch) ++plan.counts.ranges;
  }
}

// Why a range transfer was refused by its sink.
enum class Refusal { kNone, kWrongRange, kBadBlock, kWriteFailed, kStopped };

// Takes the body of one range, blocks `first` to `last`, into the part file, checking each
// block against the index as it completes.
class RangeSink final : public platform::HttpSink {
 public:
  RangeSink(const BlockIndex& index, std::uint32_t first, std::uint32_t last,
            platform::FileWriter& writer, Md5Stream& whole, std::atomic<std::uint32_t>* counter)
      : index_(index),
        block_(first),
        start_(index.BlockOffset(first)),
        length_(index.BlockOffset(last) + index.BlockLength(last) - index.BlockOffset(first)),
        writer_(writer),
        whole_(whole),
        counter_(counter) {}

  bool Begin(const platform::HttpResponseHead& head) override {
    if (StopRequested()) return Refuse(Refusal::kStopped);
    // Exactly the range asked for, of a file of the entry's size: anything else is another
    // file, a host that ignores ranges, or one that answers with other bytes than asked.
    if (head.status != 206 || head.rangeStart != start_ || head.contentLength != length_ ||
        head.totalLength != index_.fileSize) {
      return Refuse(Refusal::kWrongRange);
    }
    return true;
  }

  bool Data(const std::uint8_t* bytes, std::uint32_t count) override {
    if (StopRequested()) return Refuse(Refusal::kStopped);
    if (!writer_.Write(bytes, count)) {
      writeError_ = platform::LastOsError();
      return Refuse(Refusal::kWriteFailed);
    }
    whole_.Update(bytes, count);
    if (counter_ != nullptr) counter_->fetch_add(count, std::memory_order_relaxed);
    while (count > 0) {
      const std::uint32_t take = std::min(count, index_.BlockLength(block_) - inBlock_);
      blockDigest_.Update(bytes, take);
      bytes += take;
      count -= take;
      inBlock_ += take;
      if (inBlock_ == index_.BlockLength(block_)) {
        std::uint8_t digest[kMd5Size];
        blockDigest_.Final(digest);
        if (std::memcmp(digest, index_.BlockMd5(block_), kMd5Size) != 0) {
          return Refuse(Refusal::kBadBlock);
        }
        ++block_;
        inBlock_ = 0;
      }
    }
    return true;
  }

  bool Wanted() override { return !StopRequested() || Refuse(Refusal::kStopped); }

  Refusal refusal() const { return refusal_; }
  int writeError() const { return writeError_; }

 private:
  bool Refuse(Refusal why) {
    refusal_ = why;
    return false;
  }

  const BlockIndex& index_;
  std::uint32_t block_;
  const std::uint32_t start_;
  const std::uint32_t length_;
  platform::FileWriter& writer_;
  Md5Stream& whole_;
  std::atomic<std::uint32_t>* counter_;
  Md5Stream blockDigest_;
  std::uint32_t inBlock_ = 0;
  Refusal refusal_ = Refusal::kNone;
  int writeError_ = 0;
};

std::string RangeText(std::uint32_t first, std::uint32_t last) {
  return "bytes " + std::to_string(first) + "-" + std::to_string(last);
}

// The state of one ExecuteBlockRepair call.
struct Execution {
  Execution(const BlockRepairJob& j, BlockRepairPlan& p, std::atomic<std::uint32_t>* c)
      : job(j), plan(p), counter(c) {}
  // Closed first: Windows deletes no file that is open.
  void DropPart() {
    writer.Close();
    DeleteFileRetry(paths.part.c_str());
  }

  const BlockRepairJob& job;
  BlockRepairPlan& plan;
  PartPaths paths;
  platform::FileWriter writer;
  platform::FileReader local;
  std::atomic<std::uint32_t>* counter;
  BlockRepairCounts done;
};

// Copies block `i` of the local file, checked once more: it may have changed since the plan.
BlockRepairResult CopyLocalBlock(Execution& run, std::uint32_t i) {
  const BlockIndex& index = run.plan.index;
  std::uint8_t* bytes = run.plan.block.data();
  const std::uint32_t length = index.BlockLength(i);
  if (!run.local.SeekTo(index.BlockOffset(i)) || !ReadExactly(run.local, bytes, length) ||
      !BlockMatches(index, i, bytes)) {
    run.DropPart();
    return FallBack(run.job, "the local file changed during the repair");
  }
  if (!run.writer.Write(bytes, length)) {
    return Failed(
        OsFailure(RecoveryError::Unknown, "write", run.paths.part, platform::LastOsError()),
        run.done);
  }
  run.plan.digest->Update(bytes, length);
  ++run.done.reused;
  return Outcome(BlockRepairOutcome::kReady, run.done);
}

// Fetches blocks `first` to `last` with one range request.
BlockRepairResult FetchBlocks(Execution& run, std::uint32_t first, std::uint32_t last) {
  const BlockIndex& index = run.plan.index;
  platform::HttpRequest request;
  request.url = run.job.fileUrl.c_str();
  request.caFile = run.job.caFile;
  request.hasRange = true;
  request.rangeFirst = index.BlockOffset(first);
  request.rangeLast = index.BlockOffset(last) + index.BlockLength(last) - 1;
  const std::string range = RangeText(request.rangeFirst, request.rangeLast);
  RangeSink sink(index, first, last, run.writer, *run.plan.digest, run.counter);
  platform::HttpHeadFacts facts;
  const HttpResult result = platform::HttpGet(request, sink, &facts);
  ++run.done.ranges;
  if (result == HttpResult::kOk) {
    run.done.fetched += last - first + 1;
    return Outcome(BlockRepairOutcome::kReady, run.done);
  }
  switch (sink.refusal()) {
    case Refusal::kStopped: return Outcome(BlockRepairOutcome::kStopped, run.done);
    case Refusal::kWriteFailed:
      return Failed(OsFailure(RecoveryError::Unknown, "write", run.paths.part, sink.writeError()),
                    run.done);
    case Refusal::kWrongRange:
      run.DropPart();
      return FallBack(run.job, "the host did not answer " + range + " with exactly that range");
    case Refusal::kBadBlock:
      run.DropPart();
      return FallBack(run.job, "a block of " + range + " differs from the index");
    case Refusal::kNone: break;
  }
  if (StopRequested()) return Outcome(BlockRepairOutcome::kStopped, run.done);
  // A host at its connection limit (a 503, a 429, a connection refused): the scheduler asks
  // again later, and that repair keeps the good blocks written so far.
  if (TurnedAway(result, facts)) {
    BlockRepairResult busy =
        Failed(TransferFailure(run.job.fileUrl.c_str(), result, facts), run.done);
    busy.status.note = range + ": " + busy.status.note;
    busy.serverBusy = true;
    return busy;
  }
  // A refusal of the range itself (a 404, a 416, a 206 without a usable Content-Range) is the
  // host's way of not doing ranges; a transfer that broke off is the network's, and ends the
  // run as it would end a whole-file download, the good blocks kept for the next run.
  if (result == HttpResult::kBadStatus || result == HttpResult::kNoLength) {
    run.DropPart();
    return FallBack(run.job, "the host refused " + range);
  }
  return Failed(Failure(FetchErrorFor(result), "fetch", run.job.fileUrl, range), run.done);
}

}  // namespace

BlockRepairPlan::BlockRepairPlan() : digest(std::make_unique<Md5Stream>()) {}
BlockRepairPlan::~BlockRepairPlan() = default;

std::string DescribeBlockRepair(const BlockRepairResult& result) {
  const BlockRepairCounts& c = result.counts;
  return std::to_string(c.fetched) + " of " + std::to_string(c.blocks) + " blocks fetched (" +
         std::to_string(c.bytesToFetch) + " bytes, " + std::to_string(c.ranges) +
         (c.ranges == 1 ? " range), " : " ranges), ") + std::to_string(c.reused) + " reused, " +
         std::to_string(c.kept) + " kept from an earlier run";
}

bool FetchBlockIndex(const std::string& url, const std::string& caFile, std::uint32_t size,
                     const std::uint8_t* md5, BlockIndex& index, std::string& why,
                     std::uint32_t* httpStatus, bool* turnedAway) {
  IndexSink sink(MaxBlockIndexLength(size));
  platform::HttpRequest request;
  request.url = url.c_str();
  request.caFile = caFile;
  platform::HttpHeadFacts facts;
  const HttpResult fetched = platform::HttpGet(request, sink, &facts);
  if (httpStatus != nullptr) *httpStatus = facts.status;
  if (turnedAway != nullptr) *turnedAway = TurnedAway(fetched, facts);
  if (sink.tooLong()) {
    why = "the index is longer than any index of this file";
    return false;
  }
  if (fetched != HttpResult::kOk) {
    why = facts.status != 0 ? "no index (HTTP status " + std::to_string(facts.status) + ")"
                            : "no index (no answer)";
    return false;
  }
  const IndexVerdict verdict =
      ParseBlockIndex(sink.bytes().data(), sink.bytes().size(), size, md5, index);
  if (verdict != IndexVerdict::kOk) {
    why = std::string("the index ") + IndexVerdictText(verdict);
    return false;
  }
  return true;
}

BlockRepairResult PlanBlockRepair(const BlockRepairJob& job, BlockRepairPlan& plan) {
  PartPaths paths;
  if (!BuildPartPaths(job.cachePath.c_str(), paths)) return FallBack(job, "path too long");
  platform::FileReader local;
  if (local.Open(job.localPath.c_str()) != platform::ReadStatus::kOk) {
    return FallBack(job, "no local file to take blocks from");
  }

  std::string why;
  std::uint32_t httpStatus = 0;
  bool busy = false;
  if (!FetchBlockIndex(job.indexUrl, job.caFile, job.size, job.md5, plan.index, why, &httpStatus,
                       &busy)) {
    if (StopRequested()) return Outcome(BlockRepairOutcome::kStopped, plan.counts);
    if (!busy) return FallBack(job, why);
    // A host at its limit has not said there is no index: asked again later.
    BlockRepairResult result = Failed(
        HttpFailure(RecoveryError::NotExistFile, job.indexUrl, httpStatus, why), plan.counts);
    result.serverBusy = true;
    return result;
  }
  if (!plan.block.Allocate(plan.index.blockSize)) return FallBack(job, "no memory for a block");
  plan.sources.assign(plan.index.BlockCount(), BlockRepairPlan::kFetch);
  plan.counts.blocks = plan.index.BlockCount();

  if (!KeepPartPrefix(paths.part, plan) || !FindLocalBlocks(local, plan)) {
    return Outcome(BlockRepairOutcome::kStopped, plan.counts);
  }
  CountFetches(plan);
  if (plan.counts.bytesToFetch == job.size) {
    return FallBack(job, "no block of the local file is right");
  }
  return Outcome(BlockRepairOutcome::kReady, plan.counts);
}

BlockRepairResult ExecuteBlockRepair(const BlockRepairJob& job, BlockRepairPlan& plan,
                                     std::atomic<std::uint32_t>* counter) {
  if (plan.executed) return FallBack(job, "its plan was used up by an earlier attempt");
  plan.executed = true;
  if (plan.block.size() < plan.index.blockSize && !plan.block.Allocate(plan.index.blockSize)) {
    return FallBack(job, "no memory for a block");
  }
  Execution run(job, plan, counter);
  run.done.blocks = plan.counts.blocks;
  run.done.kept = plan.counts.kept;
  run.done.bytesToFetch = plan.counts.bytesToFetch;
  if (counter != nullptr) counter->store(0, std::memory_order_relaxed);
  if (!BuildPartPaths(job.cachePath.c_str(), run.paths)) return FallBack(job, "path too long");
  // From here on the part file is no longer the whole-file download's to continue.
  DeleteFileRetry(run.paths.validator.c_str());
  Status folders = EnsureParentFolders(run.paths.part.c_str());
  if (!folders.ok()) return Failed(std::move(folders), run.done);
  if (!run.writer.Open(run.paths.part.c_str(), plan.partKeep)) {
    return Failed(
        OsFailure(RecoveryError::Unknown, "open", run.paths.part, platform::LastOsError()),
        run.done);
  }
  if (run.local.Open(job.localPath.c_str()) != platform::ReadStatus::kOk) {
    run.DropPart();
    return FallBack(job, "the local file went away during the repair");
  }

  const std::uint32_t count = plan.index.BlockCount();
  for (std::uint32_t i = plan.counts.kept; i < count;) {
    if (StopRequested()) return Outcome(BlockRepairOutcome::kStopped, run.done);
    BlockRepairResult step;
    std::uint32_t next = i + 1;
    if (plan.sources[i] == BlockRepairPlan::kFromLocal) {
      step = CopyLocalBlock(run, i);
    } else {
      while (next < count && plan.sources[next] == BlockRepairPlan::kFetch) ++next;
      step = FetchBlocks(run, i, next - 1);
    }
    if (step.outcome != BlockRepairOutcome::kReady) {
      step.counts = run.done;
      return step;
    }
    i = next;
  }
  if (!run.writer.Close()) {
    return Failed(
        OsFailure(RecoveryError::Unknown, "write", run.paths.part, platform::LastOsError()),
        run.done);
  }
  std::uint8_t actual[kMd5Size];
  plan.digest->Final(actual);
  if (std::memcmp(actual, job.md5, kMd5Size) != 0) {
    run.DropPart();
    BlockRepairResult result = FallBack(job, "the repaired file's MD5 is not the manifest's");
    result.counts = run.done;
    return result;
  }
  if (!platform::RenameOver(run.paths.part.c_str(), job.cachePath.c_str())) {
    return Failed(
        OsFailure(RecoveryError::Unknown, "rename", run.paths.part, platform::LastOsError()),
        run.done);
  }
  return Outcome(BlockRepairOutcome::kRepaired, run.done);
}

BlockRepairResult RepairFromBlocks(const BlockRepairJob& job, std::atomic<std::uint32_t>* counter,
                                   std::atomic<std::uint32_t>* toFetch) {
  BlockRepairPlan plan;
  BlockRepairResult result = PlanBlockRepair(job, plan);
  if (result.outcome == BlockRepairOutcome::kReady) {
    if (toFetch != nullptr) toFetch->store(plan.counts.bytesToFetch, std::memory_order_relaxed);
    result = ExecuteBlockRepair(job, plan, counter);
  }
  if (result.outcome == BlockRepairOutcome::kFallBack && toFetch != nullptr) {
    toFetch->store(job.size, std::memory_order_relaxed);
  }
  return result;
}

}  // namespace repair
