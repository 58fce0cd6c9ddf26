#include "platform/http_head.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace repair::platform {
namespace {

// Reads the decimal digits at `at` into a value within 32 bits; false when there are none or
// the value does not fit. Leading zeros are digits like any other.
bool ReadNumber(const std::string& text, std::size_t& at, std::uint32_t& value) {
  std::uint64_t number = 0;
  std::size_t start = at;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    number = number * 10 + static_cast<unsigned>(text[at] - '0');
    if (number > UINT32_MAX) return false;
    ++at;
  }
  value = static_cast<std::uint32_t>(number);
  return at > start;
}

bool Expect(const std::string& text, std::size_t& at, char c) {
  if (at >= text.size() || text[at] != c) return false;
  ++at;
  return true;
}

bool IsUnitBytes(const std::string& text) {
  static const char kUnit[] = "bytes";
  if (text.size() < sizeof kUnit - 1) return false;
  for (std::size_t i = 0; i + 1 < sizeof kUnit; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kUnit[i]) return false;
  }
  return true;
}

bool IsSafeValidator(const std::string& validator) {
  if (validator.empty() || validator.size() > kMaxValidator) return false;
  for (char c : validator) {
    auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) return false;
  }
  return true;
}

// The value of header line `data` when it is the header `name` (lower case, with its colon).
bool HeaderValue(const char* data, std::size_t length, const char* name, std::string& value) {
  std::size_t nameLength = std::strlen(name);
  if (length < nameLength) return false;
  for (std::size_t i = 0; i < nameLength; ++i) {
    if (std::tolower(static_cast<unsigned char>(data[i])) != name[i]) return false;
  }
  value = TrimHeaderValue(std::string(data + nameLength, length - nameLength));
  return true;
}

void KeepFirst(const char* data, std::size_t length, const char* name, std::string& slot,
               bool& seen) {
  if (!seen && HeaderValue(data, length, name, slot)) seen = true;
}

}  // namespace

void HeadLines::Take(const char* data, std::size_t length) {
  if (length >= 5 && std::strncmp(data, "HTTP/", 5) == 0) *this = HeadLines();
  std::string value;
  if (HeaderValue(data, length, "transfer-encoding:", value)) {
    if (raw_.transferEncoding.empty()) raw_.transferEncoding = value;
    for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (value.find("chunked") != std::string::npos) chunked_ = true;
  }
  // Kept only to explain a refusal.
  if (raw_.location.empty()) HeaderValue(data, length, "location:", raw_.location);
  if (raw_.contentEncoding.empty()) {
    HeaderValue(data, length, "content-encoding:", raw_.contentEncoding);
  }
  KeepFirst(data, length, "content-range:", raw_.contentRange, raw_.hasContentRange);
  KeepFirst(data, length, "etag:", raw_.etag, etagSeen_);
  KeepFirst(data, length, "last-modified:", raw_.lastModified, lastModifiedSeen_);
}

bool BuildRequestHeaders(const HttpRequest& request, std::string& range, std::string& ifRange) {
  range.clear();
  ifRange.clear();
  if (request.url == nullptr) return false;
  if (request.hasRange) {
    if (request.resumeFrom != 0 || request.rangeLast < request.rangeFirst) return false;
    char line[64];
    std::snprintf(line, sizeof line, "Range: bytes=%lu-%lu",
                  static_cast<unsigned long>(request.rangeFirst),
                  static_cast<unsigned long>(request.rangeLast));
    range = line;
    return true;
  }
  if (request.resumeFrom == 0) return true;
  if (!IsSafeValidator(request.ifRange)) return false;
  char line[48];
  std::snprintf(line, sizeof line, "Range: bytes=%lu-",
                static_cast<unsigned long>(request.resumeFrom));
  range = line;
  ifRange = "If-Range: " + request.ifRange;
  return true;
}

bool ParseContentRange(const std::string& value, std::uint32_t& first, std::uint32_t& last,
                       std::uint32_t& total) {
  std::size_t at = 5;  // past the unit
  if (!IsUnitBytes(value) || !Expect(value, at, ' ')) return false;
  if (!ReadNumber(value, at, first) || !Expect(value, at, '-') || !ReadNumber(value, at, last) ||
      !Expect(value, at, '/') || !ReadNumber(value, at, total)) {
    return false;
  }
  return at == value.size() && first <= last && last < total;
}

HttpResult JudgeHead(const RawHead& raw, bool resumed, HttpResponseHead& head) {
  head = HttpResponseHead();
  bool partial = raw.status == 206 && resumed;
  if (raw.status != 200 && !partial) return HttpResult::kBadStatus;
  if (!raw.lengthKnown || raw.contentLength == 0 || raw.contentLength > UINT32_MAX) {
    return HttpResult::kNoLength;
  }
  head.status = raw.status;
  head.contentLength = static_cast<std::uint32_t>(raw.contentLength);
  head.totalLength = head.contentLength;
  if (partial) {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    std::uint32_t total = 0;
    if (!raw.hasContentRange || !ParseContentRange(raw.contentRange, first, last, total) ||
        static_cast<std::uint64_t>(last) - first + 1 != raw.contentLength) {
      head = HttpResponseHead();
      return HttpResult::kNoLength;
    }
    head.rangeStart = first;
    head.totalLength = total;
  }
  head.etag = raw.etag;
  head.lastModified = raw.lastModified;
  return HttpResult::kOk;
}

HttpHeadFacts FactsOf(const RawHead& raw) {
  HttpHeadFacts facts;
  facts.status = raw.status;
  facts.lengthKnown = raw.lengthKnown;
  facts.contentLength = raw.lengthKnown ? raw.contentLength : 0;
  facts.location = raw.location;
  facts.contentEncoding = raw.contentEncoding;
  facts.transferEncoding = raw.transferEncoding;
  return facts;
}

std::string TrimHeaderValue(const std::string& text) {
  static const char kSpace[] = " \t\r\n";
  std::size_t first = text.find_first_not_of(kSpace);
  if (first == std::string::npos) return {};
  std::size_t last = text.find_last_not_of(kSpace);
  return text.substr(first, last - first + 1);
}

}  // namespace repair::platform
