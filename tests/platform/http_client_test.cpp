// HttpGet's ranges, validators and sink contract against a real server on loopback, through
// whichever client the platform has (libcurl natively, WinINet in the Windows build).
#include "platform/http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/http_client_test_hooks.h"
#include "platform/progress_floor_test_hooks.h"
#include "support/test_http_server.h"
#include "support/test_support.h"

namespace repair::platform {
namespace {

using test::Pattern;

using test::Resource;
using test::Response;
using test::TestHttpServer;
using Ending = Response::Ending;

constexpr char kEtag[] = "\"5e1-a7\"";
constexpr char kDate[] = "Tue, 03 Mar 2026 10:00:00 GMT";

class RecordingSink final : public HttpSink {
 public:
  bool Begin(const HttpResponseHead& head) override {
    ++begun;
    this->head = head;
    return acceptHead;
  }
  bool Data(const std::uint8_t* bytes, std::uint32_t count) override {
    EXPECT_EQ(begun, 1) << "data before the head";
    body.append(reinterpret_cast<const char*>(bytes), count);
    return body.size() < refuseFrom;
  }

  bool acceptHead = true;
  std::size_t refuseFrom = SIZE_MAX;  // Data answers false once this many bytes are in
  int begun = 0;
  HttpResponseHead head;
  std::string body;
};

class HttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    ForceNetworkState(-1);
    SetHttpTimeouts(0, 0);
    SetHttpProgressFloor(0, 0);
  }
  void TearDown() override {
    SetHttpTimeouts(0, 0);
    SetHttpProgressFloor(0, 0);
  }

  HttpResult Get(const std::string& path, RecordingSink& sink, std::uint32_t resumeFrom = 0,
                 const std::string& ifRange = "") {
    const std::string url = server_.Url(path);
    HttpRequest request;
    request.url = url.c_str();
    request.resumeFrom = resumeFrom;
    request.ifRange = ifRange;
    return HttpGet(request, sink);
  }

  test::RecordedRequest LastRequest() const {
    auto requests = server_.Requests();
    EXPECT_FALSE(requests.empty());
    return requests.empty() ? test::RecordedRequest() : requests.back();
  }

  TestHttpServer server_;
};

TEST_F(HttpClientTest, APlainRequestGetsTheWholeBodyWithItsValidators) {
  const std::string body = Pattern(200000);
  server_.ServeResource("/plain", Resource{body, kEtag, kDate});
  RecordingSink sink;
  ASSERT_EQ(Get("/plain", sink), HttpResult::kOk);
  EXPECT_EQ(sink.head.status, 200u);
  EXPECT_EQ(sink.head.contentLength, body.size());
  EXPECT_EQ(sink.head.rangeStart, 0u);
  EXPECT_EQ(sink.head.totalLength, body.size());
  EXPECT_EQ(sink.head.etag, kEtag);
  EXPECT_EQ(sink.head.lastModified, kDate);
  EXPECT_EQ(sink.body, body);
  test::RecordedRequest request = LastRequest();
  EXPECT_FALSE(request.HasHeader("Range"));
  EXPECT_FALSE(request.HasHeader("If-Range"));
  EXPECT_EQ(request.Header("User-Agent"), "tovak:recovery:1.0");
}

TEST_F(HttpClientTest, AResumedRequestGetsTheRestUnderItsCondition) {
  const std::string body = Pattern(300000);
  struct Case {
    const char* name;
    Resource resource;
    std::string validator;
  };
  const Case cases[] = {
      {"etag", Resource{body, kEtag, ""}, kEtag},
      {"date", Resource{body, "", kDate}, kDate},
      {"both, by etag", Resource{body, kEtag, kDate}, kEtag},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server_.ServeResource("/file", c.resource);
    RecordingSink sink;
    ASSERT_EQ(Get("/file", sink, 123457, c.validator), HttpResult::kOk);
    EXPECT_EQ(sink.head.status, 206u);
    EXPECT_EQ(sink.head.contentLength, body.size() - 123457);
    EXPECT_EQ(sink.head.rangeStart, 123457u);
    EXPECT_EQ(sink.head.totalLength, body.size());
    EXPECT_EQ(sink.head.etag, c.resource.etag);
    EXPECT_EQ(sink.head.lastModified, c.resource.lastModified);
    EXPECT_EQ(sink.body, body.substr(123457));
    test::RecordedRequest request = LastRequest();
    EXPECT_EQ(request.Header("Range"), "bytes=123457-");
    EXPECT_EQ(request.Header("If-Range"), c.validator);
  }
}

TEST_F(HttpClientTest, AResumedRequestAnsweredWholeIsAnOrdinaryWholeBody) {
  const std::string body = Pattern(50000);
  Resource noRanges{body, kEtag, kDate};
  noRanges.ranges = false;
  const std::string weak = std::string("W/") + kEtag;
  struct Case {
    const char* name;
    Resource resource;
    std::string validator;
  };
  const Case cases[] = {
      {"the file changed", Resource{body, "\"other\"", "Wed, 04 Mar 2026 10:00:00 GMT"}, kEtag},
      {"weak etags never match", Resource{body, weak, ""}, weak},
      {"no ranges", noRanges, kEtag},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server_.ServeResource("/file", c.resource);
    RecordingSink sink;
    ASSERT_EQ(Get("/file", sink, 1000, c.validator), HttpResult::kOk);
    EXPECT_EQ(sink.head.status, 200u);
    EXPECT_EQ(sink.head.rangeStart, 0u);
    EXPECT_EQ(sink.head.contentLength, body.size());
    EXPECT_EQ(sink.head.totalLength, body.size());
    EXPECT_EQ(sink.body, body);
  }
}

TEST_F(HttpClientTest, PartialAnswersOutOfPlaceAreRefused) {
  server_.Serve("/partial", Response::Partial("bytes 0-9/20", 10, "0123456789"));
  server_.ServeResource("/short", Resource{Pattern(1000), kEtag, ""});
  RecordingSink plain;
  EXPECT_EQ(Get("/partial", plain), HttpResult::kBadStatus) << "206 to a plain request";
  RecordingSink pastTheEnd;
  EXPECT_EQ(Get("/short", pastTheEnd, 1000, kEtag), HttpResult::kBadStatus) << "416";
  EXPECT_EQ(plain.begun + pastTheEnd.begun, 0);
}

TEST_F(HttpClientTest, AContentRangeThatIsUnreadableOrDisagreesIsNoLength) {
  const std::string part = Pattern(100);
  const char* const ranges[] = {
      "",                                        // none at all
      "bytes 100-199/*",                         // total unknown
      "bytes */1000",                            // the unsatisfied form
      "bytes 100-199/199",                       // total not past the last byte
      "bytes 199-100/1000",                      // first after last
      "bytes 100-198/1000",                      // one byte fewer than the length
      "bytes 100-200/1000",                      // one byte more than the length
      "bytes=100-199/1000",                      // the request's syntax
      "bytes  100-199/1000",                     // two spaces
      "bytes +100-199/1000",                     // a sign
      "bytes 100 - 199/1000",                    // spaces inside
      "bytes 100-199/1000x",                     // trailing garbage
      "bytes 0x64-199/1000",                     // not decimal
      "items 100-199/1000",                      // another unit
      "bytes 100-199/4294967296",                // a total over 32 bits
      "bytes 4294967296-4294967395/4294967396",  // a range over 32 bits
  };
  for (const char* range : ranges) {
    SCOPED_TRACE(range);
    server_.Serve("/bad", Response::Partial(range, part.size(), part));
    RecordingSink sink;
    EXPECT_EQ(Get("/bad", sink, 100, kEtag), HttpResult::kNoLength);
    EXPECT_EQ(sink.begun, 0);
  }
}

TEST_F(HttpClientTest, APartialAnswerIsReportedAsTheServerGaveIt) {
  // Which range and total the sink can use is its own call: the client reports them.
  const std::string part = Pattern(150);
  struct Case {
    const char* range;
    std::string sent;
    std::uint32_t rangeStart;
    std::uint32_t total;
  };
  const Case cases[] = {
      {"bytes 50-149/1000", part.substr(0, 100), 50, 1000},    // not where asked
      {"bytes 100-199/5000", part.substr(0, 100), 100, 5000},  // another total
      {"Bytes 100-199/200", part.substr(0, 100), 100, 200},    // the unit in any case
      {"bytes 100-199/1000", part, 100, 1000},                 // a longer body than announced
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.range);
    server_.Serve("/odd", Response::Partial(c.range, 100, c.sent, Ending::kClose));
    RecordingSink sink;
    ASSERT_EQ(Get("/odd", sink, 100, kEtag), HttpResult::kOk);
    EXPECT_EQ(sink.head.status, 206u);
    EXPECT_EQ(sink.head.contentLength, 100u);
    EXPECT_EQ(sink.head.rangeStart, c.rangeStart);
    EXPECT_EQ(sink.head.totalLength, c.total);
    EXPECT_EQ(sink.body, part.substr(0, 100));
  }
}

TEST_F(HttpClientTest, AResumedRequestThatCouldSpliceTwoVersionsIsNotMade) {
  server_.ServeResource("/file", Resource{Pattern(1000), kEtag, ""});
  const std::string tooLong = "\"" + std::string(1030, 'a') + "\"";
  for (const std::string& validator :
       {std::string(), std::string("\"v1\"\r\nX-Injected: 1"), std::string("\"v\n1\""), tooLong}) {
    RecordingSink sink;
    EXPECT_EQ(Get("/file", sink, 10, validator), HttpResult::kOpenFailed);
    EXPECT_EQ(sink.begun, 0);
  }
  RecordingSink sink;
  EXPECT_EQ(HttpGet(HttpRequest(), sink), HttpResult::kOpenFailed);
  EXPECT_EQ(server_.ConnectionsAccepted(), 0u);
}

// A ranged request asks for one range without a condition; the answer is judged as a resumed
// one's (a 206 whose Content-Range fits its length, or a whole 200), the range itself the
// caller's to check.
TEST_F(HttpClientTest, ARangedRequestAsksForExactlyItsBytesWithoutACondition) {
  const std::string body = Pattern(300000);
  Resource noRanges{body, kEtag, ""};
  noRanges.ranges = false;
  server_.ServeResource("/ranges", Resource{body, kEtag, ""});
  server_.ServeResource("/none", noRanges);
  struct Case {
    const char* path;
    std::uint32_t first;
    std::uint32_t last;
    std::uint32_t status;
    std::string expected;
  } cases[] = {
      {"/ranges", 65536, 131071, 206, body.substr(65536, 65536)},
      {"/ranges", 0, 0, 206, body.substr(0, 1)},
      {"/ranges", 200000, 299999, 206, body.substr(200000)},
      {"/none", 65536, 131071, 200, body},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.first));
    const std::string url = server_.Url(c.path);
    HttpRequest request;
    request.url = url.c_str();
    request.hasRange = true;
    request.rangeFirst = c.first;
    request.rangeLast = c.last;
    RecordingSink sink;
    ASSERT_EQ(HttpGet(request, sink), HttpResult::kOk);
    EXPECT_EQ(sink.head.status, c.status);
    EXPECT_EQ(sink.head.rangeStart, c.status == 206 ? c.first : 0u);
    EXPECT_EQ(sink.head.totalLength, body.size());
    EXPECT_EQ(sink.body, c.expected);
    test::RecordedRequest asked = LastRequest();
    EXPECT_EQ(asked.Header("Range"),
              "bytes=" + std::to_string(c.first) + "-" + std::to_string(c.last));
    EXPECT_FALSE(asked.HasHeader("If-Range"));
  }
  // Backwards, or ranged and resumed at once: not made.
  const std::string url = server_.Url("/ranges");
  const std::size_t before = server_.Requests().size();
  for (int variant = 0; variant < 2; ++variant) {
    HttpRequest request;
    request.url = url.c_str();
    request.hasRange = true;
    request.rangeFirst = variant == 0 ? 10 : 0;
    request.rangeLast = variant == 0 ? 9 : 99;
    if (variant == 1) {
      request.resumeFrom = 5;
      request.ifRange = kEtag;
    }
    RecordingSink sink;
    EXPECT_EQ(HttpGet(request, sink), HttpResult::kOpenFailed) << variant;
  }
  EXPECT_EQ(server_.Requests().size(), before);
}

TEST_F(HttpClientTest, ASinkThatRefusesEndsTheTransfer) {
  const std::string body = Pattern(3 << 20);
  server_.ServeFile("/big", body);
  RecordingSink refusesHead;
  refusesHead.acceptHead = false;
  EXPECT_EQ(Get("/big", refusesHead), HttpResult::kSinkRefused);
  EXPECT_EQ(refusesHead.begun, 1);
  EXPECT_TRUE(refusesHead.body.empty());

  RecordingSink refusesData;
  refusesData.refuseFrom = 1;
  EXPECT_EQ(Get("/big", refusesData), HttpResult::kSinkRefused);
  EXPECT_LT(refusesData.body.size(), body.size());
}

TEST_F(HttpClientTest, ADroppedTransferResumesWhereItStopped) {
  const std::string body = Pattern(400000);
  struct Case {
    const char* name;
    Ending ending;
    HttpResult first;
  };
  const Case cases[] = {
      {"reset", Ending::kReset, HttpResult::kReadFailed},
      {"closed", Ending::kClose, HttpResult::kShortBody},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Resource resource{body, kEtag, kDate};
    resource.drops = 1;
    resource.dropAfter = 150000;
    resource.dropEnding = c.ending;
    server_.ServeResource("/file", resource);
    RecordingSink first;
    ASSERT_EQ(Get("/file", first), c.first);
    ASSERT_LE(first.body.size(), 150000u);
    ASSERT_EQ(first.body, body.substr(0, first.body.size()));
    // A reset may lose every byte; the resume then starts from the beginning.
    std::uint32_t have = static_cast<std::uint32_t>(first.body.size());
    RecordingSink rest;
    ASSERT_EQ(Get("/file", rest, have, first.head.etag), HttpResult::kOk);
    EXPECT_EQ(rest.head.status, have > 0 ? 206u : 200u);
    EXPECT_EQ(first.body + rest.body, body);
  }
}

// The facts that explain a refusal reach the caller in both clients alike, for accepted and
// refused heads; a request that got no head leaves them empty.
TEST_F(HttpClientTest, TheHeadsFactsAreReportedWhetherAcceptedOrNot) {
  const std::string body = Pattern(5000);
  Response gzipped = Response::Chunked(body);
  gzipped.bytes.insert(gzipped.bytes.find("\r\n") + 2, "Content-Encoding: gzip\r\n");
  Response compressedWithLength = Response::Ok(body);
  compressedWithLength.bytes.insert(compressedWithLength.bytes.find("\r\n") + 2,
                                    "Content-Encoding:  gzip \r\n");
  server_.Serve("/moved", Response::Redirect(301, "http://other.example/3.7/a.txt"));
  server_.Serve("/chunked", Response::Chunked(body));
  server_.Serve("/gzip", gzipped);
  server_.Serve("/gzip-length", compressedWithLength);
  server_.Serve("/forbidden", Response::Status(403));
  server_.ServeFile("/plain", body);
  struct Case {
    const char* path;
    HttpResult result;
    std::uint32_t status;
    bool lengthKnown;
    std::uint64_t length;
    const char* location;
    const char* encoding;
    const char* transfer;
  };
  const Case cases[] = {
      {"/moved", HttpResult::kBadStatus, 301, true, 6, "http://other.example/3.7/a.txt", "", ""},
      {"/chunked", HttpResult::kNoLength, 200, false, 0, "", "", "chunked"},
      {"/gzip", HttpResult::kNoLength, 200, false, 0, "", "gzip", "chunked"},
      {"/gzip-length", HttpResult::kOk, 200, true, 5000, "", "gzip", ""},
      {"/forbidden", HttpResult::kBadStatus, 403, true, 14, "", "", ""},
      {"/missing", HttpResult::kBadStatus, 404, true, 14, "", "", ""},
      {"/plain", HttpResult::kOk, 200, true, 5000, "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    RecordingSink sink;
    HttpHeadFacts facts;
    facts.status = 999;
    const std::string url = server_.Url(c.path);
    HttpRequest request;
    request.url = url.c_str();
    EXPECT_EQ(HttpGet(request, sink, &facts), c.result);
    EXPECT_EQ(facts.status, c.status);
    EXPECT_EQ(facts.lengthKnown, c.lengthKnown);
    EXPECT_EQ(facts.contentLength, c.length);
    EXPECT_EQ(facts.location, c.location);
    EXPECT_EQ(facts.contentEncoding, c.encoding);
    EXPECT_EQ(facts.transferEncoding, c.transfer);
  }

  // No server at all: no head, no facts.
  const std::string url = server_.Url("/plain");
  server_.Stop();
  RecordingSink sink;
  HttpHeadFacts facts;
  facts.status = 999;
  facts.location = "stale";
  HttpRequest request;
  request.url = url.c_str();
  EXPECT_EQ(HttpGet(request, sink, &facts), HttpResult::kOpenFailed);
  EXPECT_EQ(facts.status, 0u);
  EXPECT_TRUE(facts.location.empty());
}

// A server that keeps sending, but too little, ends as one that falls silent: before the head
// is in, as a URL that could not be opened; in the body, as a failed read, the bytes that came
// delivered. Its gaps are far shorter than the receive limit, so only the bound on the whole
// way to the head, and the floor on the body's progress, stop it; the body's floor acts long
// before the default receive limit would. One well above the floor is served whole.
TEST_F(HttpClientTest, AServerThatBarelySendsEndsAsAStall) {
  SetHttpProgressFloor(1000, 1000);  // 1000 bytes a second
  // A byte every 50 ms: every header line is in well within the receive limit, the whole
  // head would take 20 s.
  Response slowHead = Response::Ok("abc");
  std::string padding;
  for (int i = 0; i < 60; ++i) padding += "X: " + std::to_string(i % 10) + "\r\n";
  slowHead.bytes.insert(slowHead.bytes.find("\r\n") + 2, padding);
  slowHead.pieceSize = 1;
  slowHead.pauseMs = 50;
  slowHead.slowHead = true;
  const std::string slowBody = Pattern(1200);
  const std::string steadyBody = Pattern(30000);
  server_.Serve("/slow-head", slowHead);
  server_.Serve("/slow-body", Response::Slow(slowBody, 2, 100));    // 20 bytes a second
  server_.Serve("/steady", Response::Slow(steadyBody, 1500, 100));  // 15000 a second
  struct Case {
    const char* path;
    HttpResult result;
    const std::string* body;  // the whole body, for a transfer that delivers some
    std::uint32_t receiveMs;  // 0: the default
    double minSeconds;
    double maxSeconds;
  };
  const Case cases[] = {
      // The head, connection included, has 1 s + 2 s.
      {"/slow-head", HttpResult::kOpenFailed, nullptr, 2000, 2.5, 15},
      {"/slow-body", HttpResult::kReadFailed, &slowBody, 0, 0.9, 15},
      {"/steady", HttpResult::kOk, &steadyBody, 0, 1.5, 15},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    SetHttpTimeouts(c.receiveMs != 0 ? 1000 : 0, c.receiveMs);
    RecordingSink sink;
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(Get(c.path, sink), c.result);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_GE(seconds, c.minSeconds);
    EXPECT_LT(seconds, c.maxSeconds);
    if (c.body == nullptr) {
      EXPECT_EQ(sink.begun, 0);
      continue;
    }
    EXPECT_EQ(sink.begun, 1);
    EXPECT_EQ(sink.body, c.body->substr(0, sink.body.size()));
    if (c.result == HttpResult::kOk) {
      EXPECT_EQ(sink.body.size(), c.body->size());
    } else {
      EXPECT_GT(sink.body.size(), 0u);
    }
  }
}

}  // namespace
}  // namespace repair::platform
