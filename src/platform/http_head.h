// What both HTTP clients share: the extra headers of a resumed request and the judgement of a
// response head, so that WinINet and libcurl accept and refuse exactly the same answers.
#pragma once

#include <cstdint>
#include <string>

#include "platform/http_client.h"

namespace repair::platform {

// The header lines (without line ends) a request adds to the plain GET: none for a plain
// request, "Range: bytes=N-" and "If-Range: <validator>" for a resumed one, "Range:
// bytes=FIRST-LAST" alone (`ifRange` empty) for a ranged one. False when the request must not
// be made: no URL, a resumed request whose validator is empty, longer than kMaxValidator or
// holds a control character (it would split the header), or a ranged request that is resumed
// too or whose range is backwards.
constexpr std::size_t kMaxValidator = 1024;
bool BuildRequestHeaders(const HttpRequest& request, std::string& range, std::string& ifRange);

// A response head as the client library read it.
struct RawHead {
  std::uint32_t status = 0;  // 0: no readable status
  bool lengthKnown = false;  // false: no readable Content-Length, or a chunked body
  std::uint64_t contentLength = 0;
  bool hasContentRange = false;
  std::string contentRange;  // the header's value, surrounding white space removed
  std::string etag;
  std::string lastModified;
  // Read only to explain a refusal (HttpHeadFacts).
  std::string location;
  std::string contentEncoding;
  std::string transferEncoding;
};

// Gathers the headers of a response head that the client library does not keep, from the
// header lines as it hands them over one at a time (each with or without its line end). Every
// status line starts a new set: a 1xx answer comes before the final one. Names are matched
// without regard to letter case, and the first of several headers of one name counts, as with
// WinINet. The status and Content-Length are the library's to read: `raw` leaves them alone.
class HeadLines {
 public:
  void Take(const char* line, std::size_t length);

  RawHead& raw() { return raw_; }
  const RawHead& raw() const { return raw_; }
  // A chunked body has no length known in advance, whatever a Content-Length beside it says.
  bool chunked() const { return chunked_; }

 private:
  RawHead raw_;
  bool etagSeen_ = false;
  bool lastModifiedSeen_ = false;
  bool chunked_ = false;
};

// The facts of `raw` as HttpGet reports them.
HttpHeadFacts FactsOf(const RawHead& raw);

// Judges `raw` for a request that was resumed (or ranged) or not and fills `head` when it is
// accepted: kBadStatus for a status other than 200 (or 206 to a resumed request), kNoLength for a
// missing, zero or over-32-bit Content-Length or a 206 whose Content-Range does not parse or
// does not span exactly Content-Length bytes. kOk otherwise.
HttpResult JudgeHead(const RawHead& raw, bool resumed, HttpResponseHead& head);

// Parses a Content-Range value "bytes FIRST-LAST/TOTAL": the unit in any case, one space,
// decimal digits only, FIRST <= LAST < TOTAL, each within 32 bits. False for anything else,
// an unknown total ("/*") and an unsatisfied range ("bytes */N") included.
bool ParseContentRange(const std::string& value, std::uint32_t& first, std::uint32_t& last,
                       std::uint32_t& total);

// `text` without the spaces, tabs, CRs and LFs at either end.
std::string TrimHeaderValue(const std::string& text);

}  // namespace repair::platform
