#include "publish/check_verdict.h"

#include "engine/http_fetch.h"

namespace repair::publish {
namespace {

using platform::HttpResult;

std::string Number(std::uint64_t value) { return std::to_string(value); }

// " (Content-Encoding: gzip)" when the server compressed the body, else empty.
std::string Compression(const platform::HttpHeadFacts& facts) {
  if (facts.contentEncoding.empty() || facts.contentEncoding == "identity") return {};
  return " (compressed: Content-Encoding: " + facts.contentEncoding + ")";
}

std::string StatusReason(const platform::HttpHeadFacts& facts) {
  const std::uint32_t status = facts.status;
  if (status == 0) return "no readable response status";
  const std::string code = Number(status);
  if (status >= 300 && status < 400) {
    return "redirect (" + code + ") to " +
           (facts.location.empty() ? std::string("nowhere (no Location)") : facts.location) +
           ": the tool follows no redirects; serve the file at this address";
  }
  if (status == 403) {
    return "403 Forbidden: the server refuses the request (a name with spaces or other "
           "escaped letters? access rules?)";
  }
  if (status == 404) return "404 Not Found: the file is not on the server (not uploaded?)";
  if (status == 200 || status == 206) return "status " + code;  // refused for its length
  return "status " + code + ": the tool takes only 200";
}

std::string NoLengthReason(const platform::HttpHeadFacts& facts) {
  if (facts.lengthKnown && facts.contentLength == 0) {
    return "Content-Length 0: the server sends an empty body";
  }
  if (facts.lengthKnown) return "Content-Length " + Number(facts.contentLength) + " is over 4 GiB";
  std::string why = "no Content-Length";
  if (!facts.transferEncoding.empty()) {
    why += " (Transfer-Encoding: " + facts.transferEncoding + ")";
  }
  if (!facts.contentEncoding.empty()) {
    return why +
           ", because the server compresses the file (Content-Encoding: " + facts.contentEncoding +
           "): turn compression off for this type of file";
  }
  return why + ": the tool needs the length of every file; serve it as a static file";
}

std::string Of(std::uint64_t received, std::uint32_t expected) {
  return Number(received) + " of " + Number(expected) + " bytes";
}

// The reason of a transfer that did not deliver a whole acceptable body.
Verdict FailedTransfer(std::uint32_t expectedSize, const FetchOutcome& outcome) {
  const auto& facts = outcome.facts;
  Verdict verdict;
  verdict.error = FetchErrorFor(outcome.result);
  switch (outcome.result) {
    case HttpResult::kNoNetwork: verdict.reason = "no network connection"; break;
    case HttpResult::kSessionFailed: verdict.reason = "the HTTP client could not be opened"; break;
    case HttpResult::kOpenFailed:
      verdict.reason =
          "no answer: name lookup, connection or request failed, or the server stayed silent";
      break;
    case HttpResult::kBadStatus: verdict.reason = StatusReason(facts); break;
    case HttpResult::kNoLength: verdict.reason = NoLengthReason(facts); break;
    case HttpResult::kQueryFailed:
      verdict.reason = "the available byte count could not be queried";
      break;
    case HttpResult::kReadFailed:
      verdict.reason =
          "the connection dropped or stalled after " + Of(outcome.received, expectedSize);
      break;
    case HttpResult::kShortBody:
      verdict.reason = "the body ended after " + Of(outcome.received, expectedSize);
      break;
    case HttpResult::kSinkRefused:
    case HttpResult::kOk:
      verdict.error = RecoveryError::InvalidData;
      verdict.reason = "the body ended after " + Of(outcome.received, expectedSize);
      break;
  }
  return verdict;
}

}  // namespace

Verdict JudgeFileFetch(std::uint32_t expectedSize, const FetchOutcome& outcome) {
  const auto& facts = outcome.facts;
  Verdict verdict;
  if (outcome.wrongLength) {
    verdict.error = RecoveryError::InvalidData;
    verdict.reason = "Content-Length " + Number(facts.contentLength) + " where the manifest has " +
                     Number(expectedSize) + Compression(facts) +
                     ": a changed file, or a stale copy in a cache";
    return verdict;
  }
  if (outcome.result != HttpResult::kOk || outcome.received != expectedSize) {
    return FailedTransfer(expectedSize, outcome);
  }
  if (!outcome.md5Matches) {
    verdict.error = RecoveryError::InvalidData;
    verdict.reason = "MD5 differs from the manifest's" + Compression(facts) +
                     ": a changed file, or a stale copy in a cache";
  }
  return verdict;
}

Verdict JudgeManifestFetch(const FetchOutcome& outcome) {
  if (outcome.result == HttpResult::kOk) return Verdict();
  Verdict verdict = FailedTransfer(0, outcome);
  // The tool names a manifest it cannot find apart from any other file.
  if (verdict.error == RecoveryError::NotExistFile) verdict.error = RecoveryError::NotExistHashFile;
  if (outcome.result == HttpResult::kReadFailed || outcome.result == HttpResult::kShortBody) {
    verdict.reason =
        outcome.result == HttpResult::kReadFailed
            ? "the connection dropped or stalled after " + Number(outcome.received) + " bytes"
            : "the body ended after " + Number(outcome.received) + " of " +
                  Number(outcome.facts.contentLength) + " bytes";
  }
  return verdict;
}

}  // namespace repair::publish
