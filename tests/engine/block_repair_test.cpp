// Block repair against the in-process server: each damage repaired with the ranges it needs
// (the server's log shows them), each index or host that cannot be used sending the caller to
// the whole file, and a repair cut off continued without fetching a block twice.
#include "engine/block_repair.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "codec/codec.h"
#include "engine/file_download.h"
#include "engine/recovery_state.h"
#include "platform/paths.h"
#include "support/test_http_server.h"
#include "support/test_support.h"

namespace repair {
namespace {

namespace fs = std::filesystem;
using test::Resource;
using test::Response;

constexpr std::uint32_t kBlock = kMinIndexBlockSize;
constexpr std::uint32_t kBlocks = 17;
constexpr std::uint32_t kSize = (kBlocks - 1) * kBlock + 1000;  // a short last block

std::string Read(const std::string& path) {
  auto bytes = test::ReadAll(path);
  return std::string(bytes.begin(), bytes.end());
}

const std::uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

std::string IndexOf(const std::string& body, const std::uint8_t* md5) {
  BlockIndexBuilder builder(kBlock);
  builder.Update(Bytes(body), body.size());
  BlockIndex index;
  EXPECT_TRUE(builder.Finish(md5, index));
  const std::vector<std::uint8_t> bytes = FormatBlockIndex(index);
  return std::string(bytes.begin(), bytes.end());
}

// "bytes=A-B" for blocks first to last.
std::string Range(std::uint32_t first, std::uint32_t last) {
  const std::uint32_t end = std::min(kSize, (last + 1) * kBlock) - 1;
  return "bytes=" + std::to_string(first * kBlock) + "-" + std::to_string(end);
}

class BlockRepairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    body_ = test::Pattern(kSize);
    ASSERT_EQ(DigestMd5(Bytes(body_), kSize, md5_, nullptr), kCodecOk);
    index_ = IndexOf(body_, md5_);
    local_ = dir_.File("big.pak");
    cache_ = dir_.File("recovery") + platform::kPathSeparator + "big.pak.recovery";
    ASSERT_TRUE(BuildPartPaths(cache_.c_str(), paths_));
    SetError(RecoveryError::None);
  }
  void TearDown() override { ResetRecoveryState(); }

  void ServeGood() {
    server_.ServeResource("/f", Resource{body_, "\"v1\"", ""});
    server_.ServeFile("/f.blockidx", index_);
  }

  BlockRepairJob Job() const {
    BlockRepairJob job;
    job.fileUrl = server_.Url(target_);
    job.indexUrl = server_.Url("/f.blockidx");
    job.localPath = local_;
    job.cachePath = cache_;
    job.size = kSize;
    job.md5 = md5_;
    return job;
  }

  BlockRepairResult Repair() {
    before_ = server_.Requests().size();
    return RepairFromBlocks(Job(), &counter_, &toFetch_);
  }

  // The body with one byte changed in each of `blocks`.
  std::string Damaged(std::initializer_list<std::uint32_t> blocks) const {
    std::string bytes = body_;
    for (std::uint32_t block : blocks) bytes[block * kBlock + 17] ^= 0x5A;
    return bytes;
  }

  // The Range header of each request for the file since the last Repair began.
  std::vector<std::string> RangesAsked() const {
    std::vector<std::string> ranges;
    const auto requests = server_.Requests();
    for (std::size_t i = before_; i < requests.size(); ++i) {
      if (requests[i].target == target_) ranges.push_back(requests[i].Header("Range"));
    }
    return ranges;
  }

  bool Repaired() const {
    return Read(cache_) == body_ && !fs::exists(paths_.part) && !fs::exists(paths_.validator);
  }
  bool NothingLeft() const { return !fs::exists(cache_) && !fs::exists(paths_.part); }

  test::TempDir dir_;
  test::TestHttpServer server_;
  std::string body_;
  std::uint8_t md5_[16] = {};
  std::string index_;
  std::string local_;
  std::string cache_;
  PartPaths paths_;
  std::size_t before_ = 0;
  std::string target_ = "/f";  // the file's
  std::atomic<std::uint32_t> counter_{0};
  std::atomic<std::uint32_t> toFetch_{0};
};

TEST_F(BlockRepairTest, EachDamageCostsTheRangesOfItsBlocksAlone) {
  ServeGood();
  std::string replaced = body_;
  for (char& c : replaced) c = static_cast<char>(~c);
  const struct {
    const char* what;
    std::string local;
    std::vector<std::string> ranges;
  } cases[] = {
      {"one block", Damaged({3}), {Range(3, 3)}},
      {"two distant blocks", Damaged({1, 15}), {Range(1, 1), Range(15, 15)}},
      {"neighbouring blocks, one range", Damaged({4, 5, 6}), {Range(4, 6)}},
      {"the short last block", Damaged({16}), {Range(16, 16)}},
      {"the first and the last", Damaged({0, 16}), {Range(0, 0), Range(16, 16)}},
      {"truncated inside block 9", body_.substr(0, 9 * kBlock + 100), {Range(9, 16)}},
      {"truncated to nothing but block 0", body_.substr(0, kBlock), {Range(1, 16)}},
      {"extended", body_ + "trailing bytes", {}},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir_.File("recovery"));
    test::WriteAll(local_, c.local);
    const BlockRepairResult result = Repair();
    ASSERT_EQ(result.outcome, BlockRepairOutcome::kRepaired)
        << c.what << ": " << result.status.note;
    EXPECT_TRUE(Repaired()) << c.what;
    EXPECT_EQ(RangesAsked(), c.ranges) << c.what;
    EXPECT_EQ(result.counts.ranges, c.ranges.size()) << c.what;
    EXPECT_EQ(result.counts.fetched + result.counts.reused, kBlocks) << c.what;
    EXPECT_EQ(toFetch_.load(), result.counts.bytesToFetch) << c.what;
    EXPECT_EQ(counter_.load(), result.counts.bytesToFetch) << c.what;
    EXPECT_EQ(Read(local_), c.local) << c.what << ": the client file is the run's to replace";
  }
  test::WriteAll(local_, replaced);
  const BlockRepairResult result = Repair();
  EXPECT_EQ(result.outcome, BlockRepairOutcome::kFallBack) << "replaced whole";
  EXPECT_TRUE(RangesAsked().empty()) << "replaced whole: the whole file is the caller's";
  EXPECT_EQ(toFetch_.load(), kSize);
}

TEST_F(BlockRepairTest, AnIndexThatCannotBeUsedSendsTheCallerToTheWholeFile) {
  server_.ServeResource("/f", Resource{body_, "\"v1\"", ""});
  test::WriteAll(local_, Damaged({3}));
  std::uint8_t otherMd5[16];
  const std::string other = Damaged({7});
  ASSERT_EQ(DigestMd5(Bytes(other), kSize, otherMd5, nullptr), kCodecOk);
  const struct {
    const char* what;
    Response answer;
  } cases[] = {
      {"missing", Response::Status(404)},
      {"stale: another version's", Response::Ok(IndexOf(other, otherMd5))},
      {"garbage", Response::Ok(std::string(index_.size(), 'x'))},
      {"cut short", Response::Ok(index_.substr(0, index_.size() - 16))},
      {"longer than any index of the file",
       Response::Ok(std::string(MaxBlockIndexLength(kSize) + 1, 'x'))},
      {"a redirect", Response::Redirect(302, "/elsewhere")},
  };
  for (const auto& c : cases) {
    server_.Serve("/f.blockidx", c.answer);
    const BlockRepairResult result = Repair();
    EXPECT_EQ(result.outcome, BlockRepairOutcome::kFallBack) << c.what;
    EXPECT_FALSE(result.status.note.empty()) << c.what;
    EXPECT_EQ(result.status.code, RecoveryError::None) << c.what;
    EXPECT_TRUE(RangesAsked().empty()) << c.what;
    EXPECT_TRUE(NothingLeft()) << c.what;
    EXPECT_EQ(toFetch_.load(), kSize) << c.what;
    EXPECT_EQ(GetError(), 0) << c.what;
  }
}

TEST_F(BlockRepairTest, AHostThatDoesNotAnswerTheRangeAskedSendsTheCallerToTheWholeFile) {
  server_.ServeFile("/f.blockidx", index_);
  test::WriteAll(local_, Damaged({3}));
  Resource noRanges{body_, "\"v1\"", ""};
  noRanges.ranges = false;
  Resource otherBytes{Damaged({3}), "\"v1\"", ""};  // blocks that are not the index's
  const std::string block3 = body_.substr(3 * kBlock, kBlock);
  const std::string total = "/" + std::to_string(kSize);
  const std::string asked = std::to_string(3 * kBlock) + "-" + std::to_string(4 * kBlock - 1);
  const struct {
    const char* what;
    Resource resource;
    bool scripted;
    Response answer;
  } cases[] = {
      {"ignores Range (200)", noRanges, false, {}},
      {"blocks other than the index's", otherBytes, false, {}},
      {"another range", {}, true, Response::Partial("bytes 0-65535" + total, kBlock, block3)},
      {"another total", {}, true, Response::Partial("bytes " + asked + "/9999999", kBlock, block3)},
      {"no Content-Range", {}, true, Response::Partial("", kBlock, block3)},
      {"416", {}, true, Response::Status(416)},
  };
  int n = 0;
  for (const auto& c : cases) {
    target_ = "/f" + std::to_string(n++);
    if (c.scripted) {
      server_.Serve(target_, c.answer);
    } else {
      server_.ServeResource(target_, c.resource);
    }
    // A part an earlier run left must not survive a fallback either.
    fs::create_directories(dir_.File("recovery"));
    test::WriteAll(paths_.part, body_.substr(0, kBlock));
    const BlockRepairResult result = Repair();
    EXPECT_EQ(result.outcome, BlockRepairOutcome::kFallBack) << c.what;
    EXPECT_EQ(RangesAsked(), std::vector<std::string>{Range(3, 3)}) << c.what;
    EXPECT_TRUE(NothingLeft()) << c.what;
    EXPECT_EQ(GetError(), 0) << c.what;
  }
}

// A part file as a run that was killed leaves it: the good blocks at its start are kept,
// whatever follows them is fetched or taken from the local file again.
TEST_F(BlockRepairTest, APartLeftByAnEarlierRunKeepsItsGoodBlocks) {
  ServeGood();
  test::WriteAll(local_, Damaged({2, 3, 12}));
  const struct {
    const char* what;
    std::string part;
    std::uint32_t kept;
    std::vector<std::string> ranges;
  } cases[] = {
      {"blocks 0-4 and a piece of 5", body_.substr(0, 5 * kBlock + 300), 5, {Range(12, 12)}},
      {"blocks 0-2, then other bytes",
       body_.substr(0, 3 * kBlock) + std::string(kBlock, 'z'),
       3,
       {Range(3, 3), Range(12, 12)}},
      {"another file's bytes", std::string(4 * kBlock, 'z'), 0, {Range(2, 3), Range(12, 12)}},
      {"the whole file", body_, kBlocks, {}},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir_.File("recovery"));
    fs::create_directories(dir_.File("recovery"));
    test::WriteAll(paths_.part, c.part);
    // The whole-file download's record: it must never continue a part it did not write.
    test::WriteAll(paths_.validator, "left by a whole-file download");
    const BlockRepairResult result = Repair();
    ASSERT_EQ(result.outcome, BlockRepairOutcome::kRepaired)
        << c.what << ": " << result.status.note;
    EXPECT_TRUE(Repaired()) << c.what;
    EXPECT_EQ(result.counts.kept, c.kept) << c.what;
    EXPECT_EQ(RangesAsked(), c.ranges) << c.what;
  }
}

// A repair cut off by a stop, or by a connection that broke, leaves its part; the next one
// fetches none of the blocks it holds.
TEST_F(BlockRepairTest, ARepairCutOffIsContinuedWithoutFetchingABlockTwice) {
  server_.ServeFile("/f.blockidx", index_);
  test::WriteAll(local_, Damaged({2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
  for (const bool stop : {true, false}) {
    const char* what = stop ? "stopped" : "connection dropped";
    fs::remove_all(dir_.File("recovery"));
    Resource resource{body_, "\"v1\"", ""};
    resource.pieceSize = 16 * 1024;
    resource.pauseMs = 20;
    if (!stop) {
      resource.drops = 1;
      resource.dropAfter = 3 * kBlock + 5000;
      resource.dropEnding = Response::Ending::kClose;
    }
    server_.ServeResource("/f", resource);
    std::thread ui;
    if (stop) {
      ui = std::thread([this] {
        while (counter_.load() < 2 * kBlock + 1) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        RequestStop();
      });
    }
    const BlockRepairResult first = Repair();
    if (ui.joinable()) ui.join();
    ASSERT_EQ(first.outcome, stop ? BlockRepairOutcome::kStopped : BlockRepairOutcome::kFailed)
        << what << ": " << first.status.Detail();
    if (!stop) {
      EXPECT_EQ(first.status.code, RecoveryError::InvalidData) << what;
    }
    EXPECT_FALSE(fs::exists(cache_)) << what;
    const std::string part = Read(paths_.part);
    ASSERT_GE(part.size(), 4 * kBlock) << what;  // blocks 0-1 local, at least 2-3 fetched
    // A client may hand on the rest of a slow body in one late piece (WinINet reads what the
    // pace it saw promises): the stop is then seen at the next block, with the range whole.
    ASSERT_LE(part.size(), 16 * kBlock) << what;
    EXPECT_EQ(part, body_.substr(0, part.size())) << what;

    ResetRecoveryState();  // the next run
    const std::uint32_t have = static_cast<std::uint32_t>(part.size() / kBlock);
    const BlockRepairResult second = Repair();
    ASSERT_EQ(second.outcome, BlockRepairOutcome::kRepaired)
        << what << ": " << second.status.Detail();
    EXPECT_TRUE(Repaired()) << what;
    EXPECT_EQ(second.counts.kept, have) << what;
    const std::vector<std::string> rest =
        have < 16 ? std::vector<std::string>{Range(have, 15)} : std::vector<std::string>{};
    EXPECT_EQ(RangesAsked(), rest) << what;
  }
}

}  // namespace
}  // namespace repair
