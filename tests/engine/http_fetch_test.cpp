// FetchUrl against a real server on loopback, through whichever HTTP client the platform has.
#include "engine/http_fetch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/format.h"
#include "engine/recovery_state.h"
#include "engine/url.h"
#include "platform/http_client_test_hooks.h"
#include "platform/progress_floor_test_hooks.h"
#include "support/test_http_server.h"
#include "support/test_support.h"

namespace repair {
namespace {

using test::Pattern;

using test::Response;
using test::TestHttpServer;
using Ending = Response::Ending;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kUntouched = 0xDEADBEEF;

struct Outcome {
  bool ok = false;
  HeapBuffer buffer;
  std::uint32_t size = kUntouched;
  std::uint32_t counted = kUntouched;
  std::int32_t error = 0;
  Status status;
  double seconds = 0;

  std::string Body() const {
    return std::string(reinterpret_cast<const char*>(buffer.data()), buffer.size());
  }
};

class FetchUrlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    platform::ForceNetworkState(-1);
    platform::SetHttpTimeouts(0, 0);
    platform::SetHttpProgressFloor(0, 0);
    SetError(RecoveryError::None);
  }
  void TearDown() override {
    platform::ForceNetworkState(-1);
    platform::SetHttpTimeouts(0, 0);
    platform::SetHttpProgressFloor(0, 0);
  }

  Outcome FetchFrom(const std::string& url) {
    Outcome outcome;
    // A stale buffer and counter show that the fetch resets both.
    EXPECT_TRUE(outcome.buffer.Allocate(16));
    std::atomic<std::uint32_t> counter{kUntouched};
    auto start = Clock::now();
    outcome.status = FetchUrl(url.c_str(), outcome.buffer, outcome.size, &counter);
    outcome.ok = outcome.status.ok();
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    outcome.counted = counter.load();
    outcome.error = static_cast<std::int32_t>(outcome.status.code);
    return outcome;
  }
  Outcome Fetch(const std::string& path) { return FetchFrom(server_.Url(path)); }

  static void ExpectFailure(const Outcome& outcome, RecoveryError code) {
    SCOPED_TRACE(testing::Message() << "counted " << outcome.counted);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, static_cast<std::int32_t>(code));
    EXPECT_TRUE(outcome.buffer.empty());
    EXPECT_EQ(outcome.buffer.data(), nullptr);
    EXPECT_EQ(outcome.size, 0u);
  }

  TestHttpServer server_;
};

// What the downloads at once take as a server turning a transfer away (fewer at once, the file
// again) rather than a failure of the file: no answer at all, 503 and 429; a refused request
// with a status of its own (404, 500, a redirect), a bad length or a broken body is none.
TEST(TurnedAway, NoAnswerA503OrA429Only) {
  using platform::HttpResult;
  const struct {
    HttpResult result;
    std::uint32_t status;
    bool turnedAway;
  } cases[] = {
      {HttpResult::kOpenFailed, 0, true},    {HttpResult::kBadStatus, 0, true},
      {HttpResult::kBadStatus, 503, true},   {HttpResult::kBadStatus, 429, true},
      {HttpResult::kBadStatus, 404, false},  {HttpResult::kBadStatus, 500, false},
      {HttpResult::kBadStatus, 302, false},  {HttpResult::kNoLength, 200, false},
      {HttpResult::kReadFailed, 200, false}, {HttpResult::kShortBody, 200, false},
      {HttpResult::kNoNetwork, 0, false},    {HttpResult::kSinkRefused, 200, false},
  };
  for (const auto& c : cases) {
    platform::HttpHeadFacts facts;
    facts.status = c.status;
    EXPECT_EQ(TurnedAway(c.result, facts), c.turnedAway)
        << static_cast<int>(c.result) << " " << c.status;
  }
}

TEST_F(FetchUrlTest, ReturnsTheWholeBodyAndCountsIt) {
  const std::string body = Pattern(300 * 1024 + 7);
  server_.ServeFile("/files/a.dat", body);
  Outcome outcome = Fetch("/files/a.dat");
  ASSERT_TRUE(outcome.ok);
  EXPECT_EQ(outcome.size, body.size());
  EXPECT_EQ(outcome.counted, body.size());
  EXPECT_EQ(outcome.Body(), body);
  EXPECT_EQ(outcome.error, 0);

  // Without a counter it works the same.
  HeapBuffer buffer;
  std::uint32_t size = 0;
  ASSERT_TRUE(FetchUrl(server_.Url("/files/a.dat").c_str(), buffer, size, nullptr).ok());
  EXPECT_EQ(size, body.size());
}

TEST_F(FetchUrlTest, SendsAPlainUncachedGetWithTheAgentAndNoCookies) {
  Response withCookie;
  withCookie.bytes =
      "HTTP/1.1 200 OK\r\nSet-Cookie: session=42; Path=/\r\nContent-Length: 2\r\n\r\nok";
  server_.Serve("/first", withCookie);
  server_.ServeFile("/second", "second");
  ASSERT_TRUE(Fetch("/first").ok);
  ASSERT_TRUE(Fetch("/second").ok);

  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const auto& request : requests) {
    SCOPED_TRACE(request.target);
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.version, "HTTP/1.1");
    EXPECT_EQ(request.Header("User-Agent"), "tovak:recovery:1.0");
    // The cookie the first answer set is neither stored nor sent back.
    EXPECT_FALSE(request.HasHeader("Cookie"));
#ifndef _WIN32
    // Always to the server: a cache on the way must not answer. (WinINet's reload flag
    // bypasses its own cache and puts no such header on the wire.)
    EXPECT_EQ(request.Header("Cache-Control"), "no-cache");
    EXPECT_EQ(request.Header("Pragma"), "no-cache");
#endif
  }
  EXPECT_EQ(requests[0].target, "/first");
  EXPECT_EQ(requests[1].target, "/second");
}

TEST_F(FetchUrlTest, RequestsTheEncodedPathOfAFileName) {
  server_.ServeFile("/data/ui/font.dat", "font");
  server_.ServeFile("/data/my%20file.dat", "mine");
  const std::string remote = server_.Url("/data");
  char url[kPathBufferSize];

  ASSERT_TRUE(BuildFileUrl(url, remote.c_str(), "ui\\font.dat"));
  Outcome font = FetchFrom(url);
  ASSERT_TRUE(BuildFileUrl(url, remote.c_str(), "my file.dat"));
  Outcome mine = FetchFrom(url);

  ASSERT_TRUE(font.ok);
  ASSERT_TRUE(mine.ok);
  EXPECT_EQ(font.Body(), "font");
  EXPECT_EQ(mine.Body(), "mine");
  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].target, "/data/ui/font.dat");
  EXPECT_EQ(requests[1].target, "/data/my%20file.dat");
}

TEST_F(FetchUrlTest, ReusesTheConnectionForTheNextFetch) {
  server_.ServeFile("/a", Pattern(5000));
  server_.ServeFile("/b", Pattern(7000));
  ASSERT_TRUE(Fetch("/a").ok);
  ASSERT_TRUE(Fetch("/b").ok);
  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(server_.ConnectionsAccepted(), 1u);
  EXPECT_EQ(requests[0].connection, requests[1].connection);
}

TEST_F(FetchUrlTest, NoServerOrNoUsableAnswerIsNotExistFile) {
  std::string closedPortUrl;
  {
    TestHttpServer closed;
    ASSERT_TRUE(closed.ok());
    closedPortUrl = closed.Url("/a.dat");
  }
  ExpectFailure(FetchFrom(closedPortUrl), RecoveryError::NotExistFile);

  server_.Serve("/missing", Response::Status(404));
  server_.Serve("/error", Response::Status(500));
  server_.Serve("/moved", Response::Redirect(301, server_.Url("/target")));
  server_.Serve("/found", Response::Redirect(302, "/target"));
  server_.Serve("/chunked", Response::Chunked(Pattern(3000)));
  server_.Serve("/empty", Response::Declaring(0, "", Ending::kKeepAlive));
  server_.ServeFile("/target", "redirect target");

  // Each refusal names the URL, and the status where the server sent one.
  const struct {
    const char* path;
    std::uint32_t status;
  } kRefused[] = {{"/missing", 404}, {"/error", 500},   {"/moved", 301},
                  {"/found", 302},   {"/chunked", 200}, {"/empty", 200}};
  for (const auto& c : kRefused) {
    SCOPED_TRACE(c.path);
    Outcome outcome = Fetch(c.path);
    ExpectFailure(outcome, RecoveryError::NotExistFile);
    EXPECT_EQ(outcome.counted, 0u);
    EXPECT_EQ(outcome.status.subject, server_.Url(c.path));
    EXPECT_EQ(outcome.status.httpStatus, c.status);
    EXPECT_NE(outcome.status.Detail().find("HTTP status " + std::to_string(c.status)),
              std::string::npos)
        << outcome.status.Detail();
  }
  for (const auto& request : server_.Requests()) {
    EXPECT_NE(request.target, "/target") << "a redirect was followed";
  }
}

TEST_F(FetchUrlTest, WithoutNetworkFailsBeforeAnyConnection) {
  server_.ServeFile("/a.dat", "a");
  platform::ForceNetworkState(0);
  Outcome outcome = Fetch("/a.dat");
  ExpectFailure(outcome, RecoveryError::NetworkDisconnected);
  EXPECT_EQ(outcome.counted, 0u);
  EXPECT_EQ(server_.ConnectionsAccepted(), 0u);
  EXPECT_TRUE(server_.Requests().empty());

  platform::ForceNetworkState(1);
  EXPECT_TRUE(Fetch("/a.dat").ok);
}

TEST_F(FetchUrlTest, ABodyThatDisagreesWithItsLengthIsCutOrInvalidData) {
  const std::string body = Pattern(100000);
  server_.Serve("/long", Response::Declaring(500, body.substr(0, 800), Ending::kClose));
  server_.Serve("/short", Response::Declaring(100000, body.substr(0, 40000), Ending::kClose));
  server_.Serve("/reset", Response::Declaring(100000, body.substr(0, 30000), Ending::kReset));

  Outcome longer = Fetch("/long");
  ASSERT_TRUE(longer.ok);
  EXPECT_EQ(longer.size, 500u);
  EXPECT_EQ(longer.counted, 500u);
  EXPECT_EQ(longer.Body(), body.substr(0, 500));

  Outcome shorter = Fetch("/short");
  SCOPED_TRACE("short");
  ExpectFailure(shorter, RecoveryError::InvalidData);
  // The server closed normally after these bytes, so every one of them was delivered.
  EXPECT_EQ(shorter.counted, 40000u);

  Outcome reset = Fetch("/reset");
  SCOPED_TRACE("reset");
  ExpectFailure(reset, RecoveryError::InvalidData);
  // A reset may discard bytes not read yet: only an upper bound holds.
  EXPECT_LE(reset.counted, 30000u);
}

TEST_F(FetchUrlTest, AServerThatFallsSilentFailsAtTheReceiveLimit) {
  platform::SetHttpTimeouts(1000, 1000);
  server_.Serve("/silent", Response::Silent());
  server_.Serve("/stall", Response::Declaring(5000, Pattern(1000), Ending::kStall));

  // It took the request and never answered: as if the URL could not be opened.
  Outcome silent = Fetch("/silent");
  ExpectFailure(silent, RecoveryError::NotExistFile);
  EXPECT_EQ(silent.counted, 0u);
  EXPECT_GE(silent.seconds, 0.9);
  EXPECT_LT(silent.seconds, 20.0) << "the shortened receive limit was not applied";

  // It stopped in the middle of the body: a failed read.
  Outcome stalled = Fetch("/stall");
  ExpectFailure(stalled, RecoveryError::InvalidData);
  EXPECT_EQ(stalled.counted, 1000u);
  EXPECT_GE(stalled.seconds, 0.9);
  EXPECT_LT(stalled.seconds, 20.0) << "the shortened receive limit was not applied";
}

// Two bytes every 100 ms never leave a gap as long as the receive limit; the floor on progress
// ends the body all the same, with the error a stall mid-body gives.
TEST_F(FetchUrlTest, ABodyBelowTheProgressFloorFailsAsAStalledOne) {
  platform::SetHttpProgressFloor(1000, 1000);
  server_.Serve("/trickle", Response::Slow(Pattern(1200), 2, 100));
  Outcome trickle = Fetch("/trickle");
  ExpectFailure(trickle, RecoveryError::InvalidData);
  EXPECT_GT(trickle.counted, 0u);
  EXPECT_LT(trickle.seconds, 20.0) << "the floor was not applied";
}

TEST_F(FetchUrlTest, TheCounterRisesWhileASlowBodyArrives) {
  const std::string body = Pattern(64 * 1024);
  server_.Serve("/slow", Response::Slow(body, 8 * 1024, 100));
  std::atomic<std::uint32_t> counter{kUntouched};
  std::atomic<bool> done{false};
  std::vector<std::uint32_t> seen;
  std::thread reader([&] {
    while (!done.load()) {
      seen.push_back(counter.load());
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  HeapBuffer buffer;
  std::uint32_t size = 0;
  bool ok = FetchUrl(server_.Url("/slow").c_str(), buffer, size, &counter).ok();
  done = true;
  reader.join();

  ASSERT_TRUE(ok);
  EXPECT_EQ(size, body.size());
  EXPECT_EQ(counter.load(), body.size());
  // After the reset to 0 the count never falls, and the reader saw it between the ends.
  std::size_t first = 0;
  while (first < seen.size() && seen[first] == kUntouched) ++first;
  bool between = false;
  for (std::size_t i = first; i < seen.size(); ++i) {
    if (i > first) {
      EXPECT_GE(seen[i], seen[i - 1]);
    }
    EXPECT_LE(seen[i], body.size());
    between = between || (seen[i] > 0 && seen[i] < body.size());
  }
  EXPECT_TRUE(between) << "no intermediate count seen in " << seen.size() << " reads";
}

TEST_F(FetchUrlTest, ALengthNoBufferCanHoldFailsCleanly) {
#if defined(_WIN32) && !defined(_WIN64)
  // Within 32 bits but more than a 32-bit process can allocate.
  server_.Serve("/huge", Response::Declaring(4000000000u, "abc", Ending::kClose));
  ExpectFailure(Fetch("/huge"), RecoveryError::MemoryAllocation);
#elif defined(_WIN32)
  // The 64-bit test build may get the buffer; then the body that ends short is the failure.
  server_.Serve("/huge", Response::Declaring(4000000000u, "abc", Ending::kClose));
  const Outcome outcome = Fetch("/huge");
  const bool allocated =
      outcome.error != static_cast<std::int32_t>(RecoveryError::MemoryAllocation);
  ExpectFailure(outcome, allocated ? RecoveryError::InvalidData : RecoveryError::MemoryAllocation);
#else
  // Beyond 32 bits: no size the system can report.
  server_.Serve("/huge", Response::Declaring(5000000000u, "abc", Ending::kClose));
  ExpectFailure(Fetch("/huge"), RecoveryError::NotExistFile);
#endif
}

}  // namespace
}  // namespace repair
