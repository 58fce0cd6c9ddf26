// The verdicts of the release check: which error a player's repair would end with, and the
// reason given, for each way a fetch can go; and the seeded choice of a sample.
#include "publish/release_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "publish/check_verdict.h"

namespace repair::publish {
namespace {

using platform::HttpResult;

FetchOutcome Outcome(HttpResult result, std::uint32_t status, bool lengthKnown = true,
                     std::uint64_t length = 100) {
  FetchOutcome outcome;
  outcome.result = result;
  outcome.facts.status = status;
  outcome.facts.lengthKnown = lengthKnown;
  outcome.facts.contentLength = lengthKnown ? length : 0;
  return outcome;
}

TEST(CheckVerdictTest, EachFetchEndsInTheToolsErrorWithItsReason) {
  struct Case {
    const char* name;
    FetchOutcome outcome;
    RecoveryError error;
    const char* reason;  // a part of the reason; empty for none
  };
  FetchOutcome redirect = Outcome(HttpResult::kBadStatus, 302);
  redirect.facts.location = "http://b.example/x";
  FetchOutcome noLocation = Outcome(HttpResult::kBadStatus, 301);
  FetchOutcome compressed = Outcome(HttpResult::kNoLength, 200, false);
  compressed.facts.contentEncoding = "gzip";
  compressed.facts.transferEncoding = "chunked";
  FetchOutcome chunked = Outcome(HttpResult::kNoLength, 200, false);
  chunked.facts.transferEncoding = "chunked";
  FetchOutcome longer = Outcome(HttpResult::kSinkRefused, 200, true, 60);
  longer.wrongLength = true;
  longer.facts.contentEncoding = "br";
  FetchOutcome whole = Outcome(HttpResult::kOk, 200);
  whole.received = 100;
  whole.md5Matches = true;
  FetchOutcome changed = whole;
  changed.md5Matches = false;
  FetchOutcome cut = Outcome(HttpResult::kShortBody, 200);
  cut.received = 40;
  FetchOutcome dropped = Outcome(HttpResult::kReadFailed, 200);
  dropped.received = 70;
  FetchOutcome okButShort = whole;
  okButShort.received = 99;
  const Case cases[] = {
      {"whole and right", whole, RecoveryError::None, ""},
      {"other MD5", changed, RecoveryError::InvalidData, "MD5 differs"},
      {"other length", longer, RecoveryError::InvalidData,
       "Content-Length 60 where the manifest has 100 (compressed: Content-Encoding: br)"},
      {"redirect", redirect, RecoveryError::NotExistFile,
       "redirect (302) to http://b.example/x: the tool follows no redirects"},
      {"redirect nowhere", noLocation, RecoveryError::NotExistFile, "nowhere (no Location)"},
      {"403", Outcome(HttpResult::kBadStatus, 403), RecoveryError::NotExistFile, "403 Forbidden"},
      {"404", Outcome(HttpResult::kBadStatus, 404), RecoveryError::NotExistFile, "404 Not Found"},
      {"500", Outcome(HttpResult::kBadStatus, 500), RecoveryError::NotExistFile,
       "status 500: the tool takes only 200"},
      {"compressed", compressed, RecoveryError::NotExistFile,
       "no Content-Length (Transfer-Encoding: chunked), because the server compresses the file "
       "(Content-Encoding: gzip)"},
      {"chunked", chunked, RecoveryError::NotExistFile,
       "no Content-Length (Transfer-Encoding: chunked): the tool needs the length"},
      {"length 0", Outcome(HttpResult::kNoLength, 200, true, 0), RecoveryError::NotExistFile,
       "Content-Length 0"},
      {"no answer", Outcome(HttpResult::kOpenFailed, 0), RecoveryError::NotExistFile, "no answer"},
      {"no network", Outcome(HttpResult::kNoNetwork, 0), RecoveryError::NetworkDisconnected,
       "no network"},
      {"no client", Outcome(HttpResult::kSessionFailed, 0), RecoveryError::FailNetworkConnection,
       "could not be opened"},
      {"query", Outcome(HttpResult::kQueryFailed, 200), RecoveryError::Unknown, "byte count"},
      {"short", cut, RecoveryError::InvalidData, "ended after 40 of 100 bytes"},
      {"dropped", dropped, RecoveryError::InvalidData, "dropped or stalled after 70 of 100"},
      {"ok yet short", okButShort, RecoveryError::InvalidData, "ended after 99 of 100 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Verdict verdict = JudgeFileFetch(100, c.outcome);
    EXPECT_EQ(verdict.error, c.error);
    if (*c.reason == '\0') {
      EXPECT_TRUE(verdict.reason.empty()) << verdict.reason;
    } else {
      EXPECT_NE(verdict.reason.find(c.reason), std::string::npos) << verdict.reason;
    }
  }
}

TEST(CheckVerdictTest, AManifestNotFoundIsTheManifestsOwnError) {
  EXPECT_EQ(JudgeManifestFetch(Outcome(HttpResult::kOk, 200)).error, RecoveryError::None);
  Verdict missing = JudgeManifestFetch(Outcome(HttpResult::kBadStatus, 404));
  EXPECT_EQ(missing.error, RecoveryError::NotExistHashFile);
  EXPECT_NE(missing.reason.find("404"), std::string::npos);
  FetchOutcome cut = Outcome(HttpResult::kShortBody, 200, true, 500);
  cut.received = 12;
  Verdict shortBody = JudgeManifestFetch(cut);
  EXPECT_EQ(shortBody.error, RecoveryError::InvalidData);
  EXPECT_NE(shortBody.reason.find("12 of 500"), std::string::npos) << shortBody.reason;
  EXPECT_EQ(JudgeManifestFetch(Outcome(HttpResult::kNoNetwork, 0)).error,
            RecoveryError::NetworkDisconnected);
}

TEST(ReleaseCheckSampleTest, ASeedChoosesTheSameDistinctFilesInOrder) {
  const auto first = ChooseSample(1000, 25, 42);
  EXPECT_EQ(first, ChooseSample(1000, 25, 42));
  EXPECT_NE(first, ChooseSample(1000, 25, 43));
  ASSERT_EQ(first.size(), 25u);
  EXPECT_EQ(std::set<std::size_t>(first.begin(), first.end()).size(), 25u);
  EXPECT_TRUE(std::is_sorted(first.begin(), first.end()));
  EXPECT_LT(first.back(), 1000u);
  // No sample, or one as large as the release: every file.
  for (std::size_t count : {std::size_t{0}, std::size_t{10}, std::size_t{11}}) {
    auto all = ChooseSample(10, count, 1);
    ASSERT_EQ(all.size(), 10u);
    for (std::size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i], i);
  }
  EXPECT_TRUE(ChooseSample(0, 3, 1).empty());
}

}  // namespace
}  // namespace repair::publish
