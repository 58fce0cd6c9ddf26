// How the header lines of a response head are gathered before the head is judged.
#include "platform/http_head.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace repair::platform {
namespace {

HeadLines Gather(const std::vector<std::string>& lines) {
  HeadLines head;
  for (const std::string& line : lines) head.Take(line.data(), line.size());
  return head;
}

TEST(HeadLines, EachStatusLineStartsANewSetAndTheFirstOfANameCounts) {
  const HeadLines head =
      Gather({"HTTP/1.1 100 Continue\r\n", "ETag: \"interim\"\r\n",
              "Transfer-Encoding: chunked\r\n", "\r\n", "HTTP/1.1 206 Partial Content\r\n",
              "etag: \t\"a\" \r\n", "ETAG: \"b\"\r\n", "Content-Range:bytes 1-2/3\r\n",
              "content-range: bytes 0-0/9\r\n", "Last-Modified: day one\r\n",
              "Last-Modified: day two\r\n", "Location: /one\r\n", "Location: /two\r\n", "\r\n"});
  EXPECT_FALSE(head.chunked());
  EXPECT_EQ(head.raw().etag, "\"a\"");
  EXPECT_TRUE(head.raw().hasContentRange);
  EXPECT_EQ(head.raw().contentRange, "bytes 1-2/3");
  EXPECT_EQ(head.raw().lastModified, "day one");
  EXPECT_EQ(head.raw().location, "/one");
  EXPECT_TRUE(head.raw().transferEncoding.empty());
  // The status and length are the client library's to fill in.
  EXPECT_EQ(head.raw().status, 0u);
  EXPECT_FALSE(head.raw().lengthKnown);
}

TEST(HeadLines, NamesMatchWholeAndWithoutRegardToCase) {
  struct Case {
    std::string line;
    bool chunked;
    std::string etag;
    std::string transferEncoding;
  };
  const Case cases[] = {
      {"Transfer-Encoding: gzip, CHUNKED", true, "", "gzip, CHUNKED"},
      {"TRANSFER-ENCODING:chunked", true, "", "chunked"},
      {"Transfer-Encoding: identity", false, "", "identity"},
      {"Transfer-Encodings: chunked", false, "", ""},
      {"ETagged: \"x\"", false, "", ""},
      {"ETag \"x\"", false, "", ""},
      {"ETag:", false, "", ""},
      {"eTaG:\"x\"", false, "\"x\"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const HeadLines head = Gather({"HTTP/1.1 200 OK\r\n", c.line + "\r\n"});
    EXPECT_EQ(head.chunked(), c.chunked);
    EXPECT_EQ(head.raw().etag, c.etag);
    EXPECT_EQ(head.raw().transferEncoding, c.transferEncoding);
  }
}

}  // namespace
}  // namespace repair::platform
