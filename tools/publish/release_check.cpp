#include "publish/release_check.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <cstring>
#include <mutex>
#include <numeric>
#include <random>
#include <system_error>
#include <thread>

#include "codec/codec.h"
#include "common/format.h"
#include "engine/block_index.h"
#include "engine/block_repair.h"
#include "engine/cache_plan.h"
#include "engine/manifest.h"
#include "engine/url.h"
#include "engine/version.h"
#include "platform/paths.h"

namespace repair::publish {
namespace {

using platform::HttpResult;

// Takes a body whole through an MD5, never holding it. With `expected` set, a head that
// declares another length is refused, as the tool refuses it.
class DigestSink final : public platform::HttpSink {
 public:
  DigestSink(const std::uint32_t* expected, std::function<void(std::uint64_t)> onBytes,
             BlockIndexBuilder* blocks = nullptr)
      : expected_(expected), onBytes_(std::move(onBytes)), blocks_(blocks) {}

  bool Begin(const platform::HttpResponseHead& head) override {
    if (expected_ != nullptr && head.contentLength != *expected_) {
      wrongLength_ = true;
      return false;
    }
    return true;
  }
  bool Data(const std::uint8_t* bytes, std::uint32_t count) override {
    md5_.Update(bytes, count);
    if (blocks_ != nullptr) blocks_->Update(bytes, count);
    received_ += count;
    if (onBytes_) onBytes_(count);
    return true;
  }

  // Fills the outcome of the transfer that ended with `result`.
  void Outcome(HttpResult result, const std::uint8_t* md5, FetchOutcome& outcome) {
    outcome.result = result;
    outcome.wrongLength = wrongLength_;
    outcome.received = received_;
    std::uint8_t actual[kMd5Size];
    md5_.Final(actual);
    outcome.md5Matches = md5 != nullptr && std::memcmp(actual, md5, kMd5Size) == 0;
  }

 private:
  const std::uint32_t* expected_;
  std::function<void(std::uint64_t)> onBytes_;
  BlockIndexBuilder* blocks_;
  Md5Stream md5_;
  std::uint64_t received_ = 0;
  bool wrongLength_ = false;
};

// One GET as the tool makes it; `expected` and `md5` (optional) are the manifest's.
FetchOutcome Fetch(const std::string& url, const std::string& caFile, const std::uint32_t* expected,
                   const std::uint8_t* md5, std::function<void(std::uint64_t)> onBytes,
                   BlockIndexBuilder* blocks = nullptr) {
  DigestSink sink(expected, std::move(onBytes), blocks);
  platform::HttpRequest request;
  request.url = url.c_str();
  request.caFile = caFile;
  FetchOutcome outcome;
  HttpResult result = platform::HttpGet(request, sink, &outcome.facts);
  sink.Outcome(result, md5, outcome);
  return outcome;
}

Verdict Refused(RecoveryError code, std::string reason) {
  Verdict verdict;
  verdict.error = code;
  verdict.reason = std::move(reason);
  return verdict;
}

// Why reading the manifest failed with `code`: a second GET shows what the server answers;
// when that GET is fine, the body itself was refused.
Verdict ExplainManifestFailure(RecoveryError code, const std::string& url,
                               const std::string& caFile) {
  Verdict probe = JudgeManifestFetch(Fetch(url, caFile, nullptr, nullptr, nullptr));
  if (probe.error != RecoveryError::None) return Refused(code, probe.reason);
  if (code == RecoveryError::InvalidData) {
    return Refused(code,
                   "the manifest does not unpack, open or parse: not sealed for the key this "
                   "build embeds, damaged, or compressed on the way");
  }
  return Refused(code, "the manifest could not be read");
}

// The MD5 of zero bytes: an entry of size 0 with it is restored without a request.
void EmptyMd5(std::uint8_t* digest) {
  Md5Stream md5;
  md5.Final(digest);
}

// Fetches and parses the manifest into `files` as the tool does, then plans the cache paths
// as the tool does before it writes anything. False with report.manifest set.
bool ReadManifest(const CheckOptions& options, FileList& files, CheckReport& report) {
  const Status resolved =
      ResolveRemotePath("", "", options.remoteTemplate.c_str(), VersionMode::Explicit,
                        options.major, options.minor, report.remote);
  if (!resolved.ok()) {
    report.manifest = Refused(resolved.code, "the build numbers must not be negative");
    return false;
  }
  char url[kPathBufferSize];
  if (!BuildManifestUrl(url, report.remote, options.manifestName.c_str())) {
    report.manifestUrl = report.remote + "/" + options.manifestName;
    report.manifest =
        Refused(RecoveryError::Unknown, "the manifest's URL is over the tool's 259 characters");
    return false;
  }
  report.manifestUrl = url;
  const Status read =
      ReadManifest(url, options.caFile.empty() ? nullptr : options.caFile.c_str(), files);
  if (!read.ok()) {
    report.manifest = ExplainManifestFailure(read.code, url, options.caFile);
    // What the tool itself would log, for the operator to hold against a player's log.
    report.manifest.reason += " (the tool: " + read.Detail() + ")";
    return false;
  }
  report.listed = files.size();
  for (std::size_t i = 0; i < files.size(); ++i) report.names.push_back(files.At(i)->name);
  // The folder only shapes the cache paths; what refuses a manifest is the names alone.
  const std::string base = std::string("game") + platform::kPathSeparator;
  std::vector<std::string> cachePaths;
  const Status planned = PlanCachePaths(files, base.c_str(), cachePaths);
  if (!planned.ok()) {
    report.manifest = Refused(planned.code, "the tool refuses this manifest: " + planned.note);
    return false;
  }
  return true;
}

// Fetches the entry's block index as the tool does. kMatches here means only that the tool
// would take it; the caller compares it with the file.
IndexCheck FetchIndex(const std::string& remote, const std::string& caFile, const FileEntry& entry,
                      BlockIndex& index, std::string& note) {
  char url[kPathBufferSize];
  const std::string name = entry.name + kBlockIndexSuffix;
  if (!BuildFileUrl(url, remote.c_str(), name.c_str())) {
    note = "no index: its URL is over the tool's 259 characters";
    return IndexCheck::kNone;
  }
  std::uint32_t status = 0;
  if (FetchBlockIndex(url, caFile, entry.size, entry.md5, index, note, &status)) {
    return IndexCheck::kMatches;
  }
  // A release without indexes answers 404; anything else that was read is an index refused.
  return status == 200 ? IndexCheck::kUnusable : IndexCheck::kNone;
}

// Checks one entry; `onBytes` sees every piece of its body.
void CheckFile(const std::string& remote, const std::string& caFile, const FileEntry& entry,
               const std::uint8_t* emptyMd5, std::function<void(std::uint64_t)> onBytes,
               FileCheck& check) {
  check.name = entry.name;
  check.size = entry.size;
  char url[kPathBufferSize];
  if (!BuildFileUrl(url, remote.c_str(), entry.name.c_str())) {
    check.verdict =
        Refused(RecoveryError::Unknown, "the file's URL is over the tool's 259 characters");
    return;
  }
  check.url = url;
  if (entry.size == 0 && std::memcmp(entry.md5, emptyMd5, kMd5Size) == 0) return;
  check.requested = true;
  BlockIndex index;
  std::unique_ptr<BlockIndexBuilder> builder;
  if (BlockRepairWorthTrying(entry.size)) {
    check.blockIndex = FetchIndex(remote, caFile, entry, index, check.indexNote);
    if (check.blockIndex == IndexCheck::kMatches) {
      builder = std::make_unique<BlockIndexBuilder>(index.blockSize);
    }
  }
  check.verdict = JudgeFileFetch(entry.size, Fetch(check.url, caFile, &entry.size, entry.md5,
                                                   std::move(onBytes), builder.get()));
  if (!builder) return;
  BlockIndex built;
  if (check.verdict.error != RecoveryError::None || !builder->Finish(entry.md5, built)) {
    check.blockIndex = IndexCheck::kNotLooked;  // no whole file to compare it with
    return;
  }
  for (std::uint32_t i = 0; i < index.BlockCount(); ++i) {
    if (std::memcmp(index.BlockMd5(i), built.BlockMd5(i), kMd5Size) != 0) {
      check.blockIndex = IndexCheck::kDiffers;
      check.indexNote = "block " + std::to_string(i) + " (bytes " +
                        std::to_string(index.BlockOffset(i)) + "-" +
                        std::to_string(index.BlockOffset(i) + index.BlockLength(i) - 1) +
                        ") is not what the index says: the tool would fetch the whole file";
      return;
    }
  }
}

}  // namespace

std::vector<std::size_t> ChooseSample(std::size_t total, std::size_t count, std::uint64_t seed) {
  std::vector<std::size_t> indices(total);
  std::iota(indices.begin(), indices.end(), std::size_t{0});
  if (count == 0 || count >= total) return indices;
  // A partial Fisher-Yates shuffle with a fixed generator and no library distribution, so
  // that a seed picks the same files on every platform.
  std::mt19937_64 random(seed);
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t pick = i + static_cast<std::size_t>(random() % (total - i));
    std::swap(indices[i], indices[pick]);
  }
  indices.resize(count);
  std::sort(indices.begin(), indices.end());
  return indices;
}

bool CheckRelease(const CheckOptions& options, CheckProgress& progress, CheckReport& report) {
  report = CheckReport();
  FileList files;
  if (!ReadManifest(options, files, report)) return false;

  const std::vector<std::size_t> chosen = ChooseSample(files.size(), options.sample, options.seed);
  report.files.resize(chosen.size());
  std::uint64_t totalBytes = 0;
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    report.files[i].index = chosen[i];
    totalBytes += files.At(chosen[i])->size;
  }
  if (progress.started) progress.started(chosen.size(), totalBytes);

  std::uint8_t emptyMd5[kMd5Size];
  EmptyMd5(emptyMd5);
  std::mutex progressMutex;
  std::atomic<std::uint64_t> received{0};
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i = next++; i < chosen.size(); i = next++) {
      FileCheck& check = report.files[i];
      auto onBytes = [&](std::uint64_t count) {
        received += count;
        std::lock_guard<std::mutex> lock(progressMutex);
        if (progress.bytes) progress.bytes(count);
      };
      CheckFile(report.remote, options.caFile, *files.At(check.index), emptyMd5, onBytes, check);
      std::lock_guard<std::mutex> lock(progressMutex);
      if (progress.fileDone) progress.fileDone(check);
    }
  };
  const unsigned jobs = std::max(1u, std::min<unsigned>(options.jobs, 64));
  std::vector<std::thread> workers;
  for (unsigned j = 1; j < jobs && j < chosen.size(); ++j) {
    try {
      workers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer at a time; this thread works too
    }
  }
  work();
  for (std::thread& worker : workers) worker.join();
  report.bytes = received;
  return true;
}

}  // namespace repair::publish
