// Downloading into the cache through a part file: the record beside it, and resuming against
// a real server on loopback.
#include "engine/file_download.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "codec/codec.h"
#include "engine/file_ops.h"
#include "engine/http_fetch.h"
#include "engine/recovery_state.h"
#include "platform/http_client.h"
#include "platform/paths.h"
#include "support/test_http_server.h"
#include "support/test_support.h"

namespace repair {
namespace {

using test::Pattern;

namespace fs = std::filesystem;
using test::Resource;
using test::Response;

PartRecord SampleRecord() {
  PartRecord record;
  record.size = 4000000000u;
  for (int i = 0; i < 16; ++i) record.md5[i] = static_cast<std::uint8_t>(i * 17);
  record.validator = "\"5f3a-ee6b2800\"";
  return record;
}

TEST(PartRecord, RoundTripsEveryField) {
  const PartRecord record = SampleRecord();
  const std::string text = FormatPartRecord(record);
  PartRecord parsed;
  ASSERT_TRUE(ParsePartRecord(text, parsed)) << text;
  EXPECT_EQ(parsed.size, record.size);
  EXPECT_EQ(std::memcmp(parsed.md5, record.md5, 16), 0);
  EXPECT_EQ(parsed.validator, record.validator);
  // Any validator a part may keep comes back as it was, white space at either end included.
  const std::string validators[] = {"Wed, 09 Dec 2026 10:00:00 GMT", " \"lead\"", "trail ", " ",
                                    std::string(255, 'v')};
  for (const std::string& validator : validators) {
    PartRecord other = record;
    other.validator = validator;
    ASSERT_TRUE(ParsePartRecord(FormatPartRecord(other), parsed)) << validator;
    EXPECT_EQ(parsed.validator, validator);
  }
}

TEST(PartRecord, AnythingButAWrittenRecordIsRefused) {
  const std::string good = FormatPartRecord(SampleRecord());
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  const std::string cases[] = {
      "",
      "garbage",
      good.substr(0, good.size() - 1),         // cut before its last line feed
      good.substr(0, good.find("validator")),  // no validator line
      replaced("tovak-recovery-part 1", "tovak-recovery-part 2"),
      replaced("size 4000000000", "size 4294967296"),  // over 32 bits
      replaced("size 4000000000", "size  4000000000"),
      replaced("size 4000000000", "size +4000000000"),
      replaced("size 4000000000", "size -1"),
      replaced("md5 00", "md5 0"),  // a digest one digit short
      replaced("md5 00", "md5 0G"),
      replaced("md5 00", "md5 00ff"),           // one byte long
      replaced("\"5f3a-ee6b2800\"", ""),        // an empty validator
      replaced("\"5f3a-ee6b2800\"", "a\x01z"),  // a control byte
      replaced("\"5f3a-ee6b2800\"", std::string(256, 'v')),
      good + "trailing",
      std::string(good).insert(5, 1, '\0'),
  };
  for (const std::string& text : cases) {
    PartRecord parsed;
    EXPECT_FALSE(ParsePartRecord(text, parsed)) << text;
  }
}

TEST(PartPaths, SitBesideTheCacheFileAndFitThePathLimit) {
  PartPaths paths;
  ASSERT_TRUE(BuildPartPaths("C:\\client\\recovery\\font.dat.recovery", paths));
  EXPECT_EQ(paths.part, "C:\\client\\recovery\\font.dat.recovery.part");
  EXPECT_EQ(paths.validator, "C:\\client\\recovery\\font.dat.recovery.part.validator");
  EXPECT_TRUE(BuildPartPaths(std::string(259 - 15, 'a').c_str(), paths));
  EXPECT_FALSE(BuildPartPaths(std::string(259 - 14, 'a').c_str(), paths));
}

std::string Read(const std::string& path) {
  auto bytes = test::ReadAll(path);
  return std::string(bytes.begin(), bytes.end());
}

// One client file of 300 KiB served by the test server, and the cache path it goes to.
class DownloadToCacheTest : public ::testing::Test {
 protected:
  static constexpr std::size_t kSize = 300 * 1024;
  static constexpr std::size_t kDropAfter = 100 * 1024;

  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    ASSERT_TRUE(block_.Allocate(kFileBlockSize));
    body_ = Pattern(kSize);
    ASSERT_EQ(DigestMd5(reinterpret_cast<const std::uint8_t*>(body_.data()),
                        static_cast<std::uint32_t>(body_.size()), md5_, nullptr),
              kCodecOk);
    cache_ = dir_.File("recovery") + kSep + "big.pak.recovery";
    ASSERT_TRUE(BuildPartPaths(cache_.c_str(), paths_));
    SetError(RecoveryError::None);
  }
  void TearDown() override { ResetRecoveryState(); }  // drops a stop request a test made

  static constexpr char kSep = platform::kPathSeparator;

  bool Download(const std::string& target) {
    const std::string url = server_.Url(target);
    last_ = DownloadToCache(url.c_str(), cache_.c_str(), static_cast<std::uint32_t>(kSize), md5_,
                            &counter_, block_);
    return last_.ok();
  }

  // The part file and its record, as an interrupted run leaves them.
  void LeavePart(std::size_t length, const std::string& validator) {
    fs::create_directories(fs::path(cache_).parent_path());
    test::WriteAll(paths_.part, body_.substr(0, length));
    PartRecord record;
    record.size = static_cast<std::uint32_t>(kSize);
    std::memcpy(record.md5, md5_, sizeof md5_);
    record.validator = validator;
    test::WriteAll(paths_.validator, FormatPartRecord(record));
  }

  std::string RangeAsked(std::size_t request) const {
    return server_.Requests().at(request).Header("Range");
  }

  bool OnlyTheCacheFileIsLeft() const {
    return Read(cache_) == body_ && !fs::exists(paths_.part) && !fs::exists(paths_.validator);
  }

  test::TempDir dir_;
  test::TestHttpServer server_;
  HeapBuffer block_;
  std::string body_;
  std::uint8_t md5_[16] = {};
  std::string cache_;
  PartPaths paths_;
  Status last_;  // what the last Download returned
  std::atomic<std::uint32_t> counter_{0};
};

TEST_F(DownloadToCacheTest, ADroppedDownloadIsContinuedWhereItStopped) {
  // By ETag, by date alone, and by date when the ETag is weak (If-Range cannot use it).
  struct Case {
    const char* etag;
    const char* lastModified;
    const char* ifRange;
  } cases[] = {
      {"\"v1\"", "", "\"v1\""},
      {"", "Wed, 09 Dec 2026 10:00:00 GMT", "Wed, 09 Dec 2026 10:00:00 GMT"},
      {"W/\"v1\"", "Wed, 09 Dec 2026 10:00:00 GMT", "Wed, 09 Dec 2026 10:00:00 GMT"},
  };
  int index = 0;
  for (const Case& c : cases) {
    fs::remove_all(dir_.File("recovery"));
    Resource resource{body_, c.etag, c.lastModified};
    resource.drops = 1;
    resource.dropAfter = kDropAfter;
    // A close, not a reset: a reset may discard bytes the client had not read yet (Wine's
    // WinINet does), and this test counts them.
    resource.dropEnding = Response::Ending::kClose;
    const std::string target = "/f" + std::to_string(index++);
    server_.ServeResource(target, resource);
    const std::size_t before = server_.Requests().size();

    EXPECT_FALSE(Download(target));
    EXPECT_EQ(last_.code, RecoveryError::InvalidData);
    EXPECT_FALSE(fs::exists(cache_));
    EXPECT_EQ(Read(paths_.part), body_.substr(0, kDropAfter));
    EXPECT_EQ(counter_.load(), kDropAfter);

    ASSERT_TRUE(Download(target)) << last_.Detail();
    EXPECT_TRUE(OnlyTheCacheFileIsLeft());
    EXPECT_EQ(counter_.load(), kSize);
    ASSERT_EQ(server_.Requests().size(), before + 2);
    EXPECT_EQ(RangeAsked(before), "");
    EXPECT_EQ(RangeAsked(before + 1), "bytes=" + std::to_string(kDropAfter) + "-");
    EXPECT_EQ(server_.Requests()[before + 1].Header("If-Range"), c.ifRange);
  }
}

TEST_F(DownloadToCacheTest, APartThatCannotBeTrustedIsFetchedWhole) {
  server_.ServeResource("/f", Resource{body_, "\"v2\"", ""});
  // The remote file changed since the part was written: If-Range fails, the server sends all.
  LeavePart(kDropAfter, "\"v1\"");
  ASSERT_TRUE(Download("/f")) << last_.Detail();
  EXPECT_TRUE(OnlyTheCacheFileIsLeft());
  EXPECT_EQ(RangeAsked(0), "bytes=" + std::to_string(kDropAfter) + "-");

  struct Broken {
    const char* what;
    std::size_t partLength;
    const char* record;  // nullptr: the record FormatPartRecord writes for the entry
  } broken[] = {
      {"part longer than the entry", kSize + 10, nullptr},
      {"no record", kDropAfter, ""},
      {"a garbage record", kDropAfter, "tovak-recovery-part 1\nsize x\n"},
      {"the record of another entry", kDropAfter,
       "tovak-recovery-part 1\nsize 307200\nmd5 00000000000000000000000000000000\n"
       "validator \"v2\"\n"},
  };
  for (const Broken& b : broken) {
    fs::remove(cache_);
    LeavePart(0, "\"v2\"");
    std::string part = b.partLength <= kSize ? body_.substr(0, b.partLength)
                                             : body_ + std::string(b.partLength - kSize, 'x');
    part[0] ^= 0x55;  // were it continued, the digest would refuse the file
    test::WriteAll(paths_.part, part);
    if (b.record != nullptr && *b.record == '\0') fs::remove(paths_.validator);
    if (b.record != nullptr && *b.record != '\0') {
      test::WriteAll(paths_.validator, std::string(b.record));
    }
    const std::size_t before = server_.Requests().size();
    ASSERT_TRUE(Download("/f")) << b.what << ": " << last_.Detail();
    EXPECT_TRUE(OnlyTheCacheFileIsLeft()) << b.what;
    EXPECT_EQ(RangeAsked(before), "") << b.what;
  }
}

// A part file that is a link, or a name of a file that has another, is never continued: the
// bytes at the other end would be appended to, or cut. The name is replaced by a new file.
TEST_F(DownloadToCacheTest, APartThatIsALinkOrHasAnotherNameIsReplacedNotWritten) {
  server_.ServeResource("/f", Resource{body_, "\"v1\"", ""});
  const std::string outside = dir_.File("outside.bin");
  for (const bool hardLink : {true, false}) {
    fs::remove_all(dir_.File("recovery"));
    // A usable part and its record, except that the part's bytes live under another name.
    LeavePart(kDropAfter, "\"v1\"");
    fs::remove(paths_.part);
    test::WriteAll(outside, body_.substr(0, kDropAfter));
    std::error_code error;
    if (hardLink) {
      fs::create_hard_link(outside, paths_.part, error);
      if (error) GTEST_SKIP() << "no hard link: " << error.message();
    } else if (!test::MakeSymlink(outside, paths_.part, false)) {
      GTEST_SKIP() << test::kNoSymlink;
    }
    const std::size_t before = server_.Requests().size();
    ASSERT_TRUE(Download("/f")) << hardLink << ": " << last_.Detail();
    EXPECT_TRUE(OnlyTheCacheFileIsLeft()) << hardLink;
    EXPECT_TRUE(Read(outside) == body_.substr(0, kDropAfter)) << hardLink;
    EXPECT_EQ(RangeAsked(before), "") << hardLink;
  }
}

TEST_F(DownloadToCacheTest, ACompletePartIsInstalledWithoutARequestWhenItIsRight) {
  LeavePart(kSize, "\"v1\"");
  ASSERT_TRUE(Download("/never-asked")) << last_.Detail();
  EXPECT_TRUE(OnlyTheCacheFileIsLeft());
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(DownloadToCacheTest, AnswersThatDoNotContinueThePartAreRefusedAndThePartDropped) {
  const std::string rest = body_.substr(kDropAfter);
  const std::string total = "/" + std::to_string(kSize);
  const std::string last = std::to_string(kSize - 1);
  struct Case {
    const char* what;
    Response response;
  } cases[] = {
      {"starts elsewhere",
       Response::Partial("bytes 0-" + std::to_string(rest.size() - 1) + total, rest.size(), rest)},
      {"another total", Response::Partial("bytes " + std::to_string(kDropAfter) + "-" + last + "/" +
                                              std::to_string(kSize + 1),
                                          rest.size(), rest)},
      {"a whole body of another length",
       Response::Declaring(kSize - 1, body_.substr(1), Response::Ending::kKeepAlive)},
  };
  for (Case& c : cases) {
    LeavePart(kDropAfter, "\"v1\"");
    server_.Serve("/bad", c.response);
    EXPECT_FALSE(Download("/bad")) << c.what;
    EXPECT_EQ(last_.code, RecoveryError::InvalidData) << c.what;
    EXPECT_FALSE(fs::exists(cache_)) << c.what;
    EXPECT_FALSE(fs::exists(paths_.validator)) << c.what;
  }
}

// A stop asked for mid-body ends the transfer at the next piece, or while it waits for a
// server gone quiet. Nothing is reported as failed, and the part file with its record stays
// for the next call to continue.
TEST_F(DownloadToCacheTest, AStopMidBodyKeepsThePartForTheNextCall) {
  using Clock = std::chrono::steady_clock;
  constexpr std::size_t kPiece = 16 * 1024;
  constexpr int kPauseMs = 100;
  struct Case {
    const char* what;
    bool stalls;
    long long limitMs;  // well under what the transfer would take without the stop
  } cases[] = {
      // The whole body takes at least 1.8 s.
      {"a body still coming", false, (kSize / kPiece - 1) * kPauseMs * 3 / 4},
      // The receive limit would end it after 30 s.
      {"a server gone quiet", true, platform::kDefaultReceiveTimeoutMs / 3},
  };
  int index = 0;
  for (const Case& c : cases) {
    fs::remove_all(dir_.File("recovery"));
    Resource resource{body_, "\"v1\"", ""};
    resource.pieceSize = kPiece;
    resource.pauseMs = kPauseMs;
    if (c.stalls) {
      resource.drops = 1;
      resource.dropAfter = kPiece;
      resource.dropEnding = Response::Ending::kStall;
    }
    const std::string target = "/slow" + std::to_string(index++);
    server_.ServeResource(target, resource);

    // As soon as the sink has had bytes: a client may hand on the rest of a slow body in one
    // late piece (WinINet reads what the pace it saw promises).
    // A server gone quiet is given time to be waited for.
    std::thread ui([this, &c] {
      while (counter_.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (c.stalls) std::this_thread::sleep_for(std::chrono::milliseconds(3 * kPauseMs));
      RequestStop();
    });
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(Download(target)) << c.what;
    const long long tookMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    ui.join();
    std::printf("%s: stopped after %lld ms\n", c.what, tookMs);
    EXPECT_LT(tookMs, c.limitMs) << c.what;
    EXPECT_TRUE(last_.stopped) << c.what << ": a stop is no failure";
    EXPECT_EQ(last_.code, RecoveryError::None) << c.what;
    EXPECT_FALSE(fs::exists(cache_)) << c.what;
    const std::string part = Read(paths_.part);
    ASSERT_GT(part.size(), 0u) << c.what;
    ASSERT_LT(part.size(), kSize) << c.what;
    EXPECT_EQ(part, body_.substr(0, part.size())) << c.what;
    EXPECT_TRUE(fs::exists(paths_.validator)) << c.what;

    ResetRecoveryState();  // the next run
    const std::size_t before = server_.Requests().size();
    ASSERT_TRUE(Download(target)) << c.what << ": " << last_.Detail();
    EXPECT_TRUE(OnlyTheCacheFileIsLeft()) << c.what;
    ASSERT_EQ(server_.Requests().size(), before + 1) << c.what;
    EXPECT_EQ(RangeAsked(before), "bytes=" + std::to_string(part.size()) + "-") << c.what;
  }
}

TEST_F(DownloadToCacheTest, ASmallFileCutOffIsFetchedAgainWhole) {
  const std::string small = body_.substr(0, 200 * 1024);
  std::uint8_t md5[16];
  ASSERT_EQ(DigestMd5(reinterpret_cast<const std::uint8_t*>(small.data()),
                      static_cast<std::uint32_t>(small.size()), md5, nullptr),
            kCodecOk);
  Resource resource{small, "\"s1\"", ""};
  resource.drops = 1;
  resource.dropAfter = 100 * 1024;
  resource.dropEnding = Response::Ending::kClose;
  server_.ServeResource("/small", resource);
  const std::string url = server_.Url("/small");
  auto download = [&] {
    return DownloadToCache(url.c_str(), cache_.c_str(), static_cast<std::uint32_t>(small.size()),
                           md5, &counter_, block_);
  };
  EXPECT_FALSE(download().ok());
  EXPECT_FALSE(fs::exists(paths_.validator));
  ASSERT_TRUE(download().ok());
  EXPECT_EQ(Read(cache_), small);
  EXPECT_EQ(RangeAsked(1), "");
}

TEST_F(DownloadToCacheTest, WrongBytesNeverBecomeTheCacheFile) {
  std::string wrong = body_;
  wrong[kSize / 2] ^= 1;
  server_.ServeResource("/f", Resource{wrong, "\"v1\"", ""});
  EXPECT_FALSE(Download("/f"));
  EXPECT_EQ(last_.code, RecoveryError::InvalidData);
  EXPECT_NE(last_.Detail().find("MD5"), std::string::npos) << last_.Detail();
  EXPECT_FALSE(fs::exists(cache_));
  EXPECT_FALSE(fs::exists(paths_.part));
  EXPECT_FALSE(fs::exists(paths_.validator));
}

#if !defined(_WIN32)
// The operator's CA file reaches both kinds of request (the Windows client has its store
// instead): one that cannot be opened fails the request before anything is sent, with the
// code of a server that cannot be reached, and leaves nothing in the cache.
TEST_F(DownloadToCacheTest, ACaFileThatCannotBeOpenedFailsEveryRequestUnsent) {
  server_.ServeResource("/f", Resource{body_, "\"v1\"", ""});
  const std::string url = server_.Url("/f");
  const std::string missing = dir_.File("no-such-ca.pem");
  EXPECT_EQ(DownloadToCache(url.c_str(), cache_.c_str(), static_cast<std::uint32_t>(kSize), md5_,
                            &counter_, block_, missing.c_str())
                .code,
            RecoveryError::NotExistFile);
  EXPECT_FALSE(fs::exists(cache_));
  HeapBuffer buffer;
  std::uint32_t size = 0;
  SetError(RecoveryError::None);
  EXPECT_EQ(FetchUrl(url.c_str(), buffer, size, nullptr, missing.c_str()).code,
            RecoveryError::NotExistFile);
  EXPECT_TRUE(server_.Requests().empty());

  // A file that is there is no reason to fail a plain request.
  const std::string present = dir_.File("ca.pem");
  test::WriteAll(present, "not read for http\n");
  EXPECT_TRUE(FetchUrl(url.c_str(), buffer, size, nullptr, present.c_str()).ok());
  EXPECT_TRUE(DownloadToCache(url.c_str(), cache_.c_str(), static_cast<std::uint32_t>(kSize), md5_,
                              &counter_, block_, present.c_str())
                  .ok());
  EXPECT_TRUE(OnlyTheCacheFileIsLeft());
}
#endif

}  // namespace
}  // namespace repair
