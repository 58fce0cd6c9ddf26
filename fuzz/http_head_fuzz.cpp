// Fuzzes the judgement of an HTTP response head: the input is the head as a server sends it,
// one header line per '\n'. The lines go through HeadLines as the libcurl client hands them
// over; the status and Content-Length, which the client library reads itself, are read here in
// its place (the last status line counts; a length that does not fit 64 bits is unknown). Then
// JudgeHead, for a plain and for a resumed request, must accept only a 200 (or a resumed 206
// whose Content-Range spans exactly the body) with a usable length, and refuse with an empty
// head; and a validator sent back in If-Range must never split the request's header lines.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/http_head.h"

namespace {

using repair::platform::HttpResponseHead;
using repair::platform::HttpResult;
using repair::platform::RawHead;

void Check(bool condition) {
  if (!condition) std::abort();
}

bool StartsWithFolded(const std::string& line, const char* prefix) {
  std::size_t i = 0;
  for (; prefix[i] != '\0'; ++i) {
    if (i >= line.size()) return false;
    char c = line[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// What the client library makes of the head's own lines.
struct LibraryView {
  std::uint32_t status = 0;
  bool lengthSeen = false;
  std::uint64_t length = 0;

  void Take(const std::string& line) {
    if (line.compare(0, 5, "HTTP/") == 0) {
      *this = LibraryView();
      std::size_t space = line.find(' ');
      if (space != std::string::npos) {  // three digits after the first space
        std::uint32_t number = 0;
        std::size_t i = space + 1;
        for (; i < line.size() && i < space + 4 && line[i] >= '0' && line[i] <= '9'; ++i) {
          number = number * 10 + static_cast<std::uint32_t>(line[i] - '0');
        }
        if (i == space + 4) status = number;
      }
    } else if (StartsWithFolded(line, "content-length:")) {
      const std::string value =
          repair::platform::TrimHeaderValue(line.substr(sizeof "content-length:" - 1));
      std::uint64_t number = 0;
      bool fits = !value.empty();
      for (char c : value) {
        if (c < '0' || c > '9' || number > (UINT64_MAX - 9) / 10) {
          fits = false;
          break;
        }
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
      }
      lengthSeen = fits;
      length = fits ? number : 0;
    }
  }
};

bool IsTrimmed(const std::string& value) {
  static const std::string kSpace(" \t\r\n");
  return value.empty() || (kSpace.find(value.front()) == std::string::npos &&
                           kSpace.find(value.back()) == std::string::npos);
}

void CheckRange(const std::string& value) {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  std::uint32_t total = 0;
  if (!repair::platform::ParseContentRange(value, first, last, total)) return;
  Check(first <= last && last < total);
  char canonical[64];
  std::snprintf(canonical, sizeof canonical, "bytes %u-%u/%u", static_cast<unsigned>(first),
                static_cast<unsigned>(last), static_cast<unsigned>(total));
  std::uint32_t again[3] = {};
  Check(repair::platform::ParseContentRange(canonical, again[0], again[1], again[2]));
  Check(again[0] == first && again[1] == last && again[2] == total);
}

void CheckJudgement(const RawHead& raw, bool resumed) {
  HttpResponseHead head;
  head.status = 1;  // must be overwritten either way
  const HttpResult result = repair::platform::JudgeHead(raw, resumed, head);
  if (result != HttpResult::kOk) {
    Check(result == HttpResult::kBadStatus || result == HttpResult::kNoLength);
    Check(head.status == 0 && head.contentLength == 0 && head.rangeStart == 0 &&
          head.totalLength == 0 && head.etag.empty() && head.lastModified.empty());
    return;
  }
  Check(raw.status == 200 || (resumed && raw.status == 206));
  Check(head.status == raw.status && raw.lengthKnown && head.contentLength != 0 &&
        head.contentLength == raw.contentLength);
  Check(head.etag == raw.etag && head.lastModified == raw.lastModified);
  if (head.status == 200) {
    Check(head.rangeStart == 0 && head.totalLength == head.contentLength);
    return;
  }
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  std::uint32_t total = 0;
  Check(raw.hasContentRange &&
        repair::platform::ParseContentRange(raw.contentRange, first, last, total));
  Check(head.rangeStart == first && head.totalLength == total);
  Check(std::uint64_t{head.rangeStart} + head.contentLength == std::uint64_t{last} + 1);
  Check(std::uint64_t{head.rangeStart} + head.contentLength <= head.totalLength);
}

// A validator is sent back verbatim in If-Range: whatever is accepted must stay on one line.
void CheckValidator(const std::string& validator) {
  repair::platform::HttpRequest request;
  request.url = "http://127.0.0.1/client/data.pak";
  request.resumeFrom = 1 + static_cast<std::uint32_t>(validator.size());
  request.ifRange = validator;
  std::string range;
  std::string ifRange;
  if (!repair::platform::BuildRequestHeaders(request, range, ifRange)) {
    Check(range.empty() && ifRange.empty());
    return;
  }
  Check(!validator.empty() && ifRange == "If-Range: " + validator);
  Check(range == "Range: bytes=" + std::to_string(request.resumeFrom) + "-");
  for (char c : ifRange) {
    const auto byte = static_cast<unsigned char>(c);
    Check(byte >= 0x20 || byte == '\t');
    Check(byte != 0x7F);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  repair::platform::HeadLines lines;
  LibraryView library;
  for (std::size_t begin = 0; begin < text.size();) {
    std::size_t end = text.find('\n', begin);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(begin, end - begin);
    lines.Take(line.data(), line.size());
    library.Take(line);
    begin = end;
  }

  RawHead& raw = lines.raw();
  raw.status = library.status;
  raw.lengthKnown = library.lengthSeen && !lines.chunked();
  raw.contentLength = raw.lengthKnown ? library.length : 0;

  for (const std::string* value : {&raw.contentRange, &raw.etag, &raw.lastModified, &raw.location,
                                   &raw.contentEncoding, &raw.transferEncoding}) {
    Check(IsTrimmed(*value) && repair::platform::TrimHeaderValue(*value) == *value);
  }
  Check(raw.hasContentRange || raw.contentRange.empty());

  const repair::platform::HttpHeadFacts facts = repair::platform::FactsOf(raw);
  Check(facts.status == raw.status && facts.lengthKnown == raw.lengthKnown &&
        facts.contentLength == raw.contentLength && facts.location == raw.location);

  CheckRange(raw.contentRange);
  CheckJudgement(raw, false);
  CheckJudgement(raw, true);
  CheckValidator(raw.etag);
  CheckValidator(raw.lastModified);
  return 0;
}
