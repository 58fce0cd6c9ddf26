#include "engine/http_fetch.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/recovery_state.h"
#include "platform/http_client.h"

namespace repair {
namespace {

using platform::HttpResult;

// Copies the body into a buffer of exactly the declared length, counting as it goes.
class BufferSink final : public platform::HttpSink {
 public:
  BufferSink(HeapBuffer& buffer, std::atomic<std::uint32_t>* counter, std::uint32_t maxLength)
      : buffer_(buffer), counter_(counter), maxLength_(maxLength) {}

  // A plain request is only ever answered with a whole body (200); its length is the size.
  bool Begin(const platform::HttpResponseHead& head) override {
    received_ = 0;
    if (StopRequested()) return false;
    if (head.contentLength > maxLength_) {
      tooLong_ = true;
      return false;
    }
    return head.contentLength != 0 && buffer_.Allocate(head.contentLength);
  }

  bool Data(const std::uint8_t* bytes, std::uint32_t count) override {
    if (StopRequested()) return false;
    // The client promises never to exceed the declared length; the buffer's bound holds anyway.
    std::size_t take = std::min<std::size_t>(count, buffer_.size() - received_);
    if (take == 0) return true;
    std::memcpy(buffer_.data() + received_, bytes, take);
    received_ += take;
    // A display value for the UI thread: no ordering with other memory is needed.
    if (counter_ != nullptr) {
      counter_->fetch_add(static_cast<std::uint32_t>(take), std::memory_order_relaxed);
    }
    return true;
  }

  bool Wanted() override { return !StopRequested(); }

  bool Complete() const { return !buffer_.empty() && received_ == buffer_.size(); }
  bool TooLong() const { return tooLong_; }

 private:
  HeapBuffer& buffer_;
  std::atomic<std::uint32_t>* counter_;
  const std::uint32_t maxLength_;
  std::size_t received_ = 0;
  bool tooLong_ = false;
};

}  // namespace

RecoveryError FetchErrorFor(HttpResult result) {
  switch (result) {
    case HttpResult::kNoNetwork: return RecoveryError::NetworkDisconnected;
    case HttpResult::kSessionFailed: return RecoveryError::FailNetworkConnection;
    case HttpResult::kOpenFailed:
    case HttpResult::kBadStatus:
    case HttpResult::kNoLength: return RecoveryError::NotExistFile;
    // A sink that refuses has no room: a sink with other reasons sets its own code.
    case HttpResult::kSinkRefused: return RecoveryError::MemoryAllocation;
    case HttpResult::kQueryFailed: return RecoveryError::Unknown;
    // A body short of its declared length is a failure: its missing bytes were never sent.
    case HttpResult::kReadFailed:
    case HttpResult::kShortBody: return RecoveryError::InvalidData;
    case HttpResult::kOk: break;
  }
  return RecoveryError::Unknown;
}

namespace {

const char* DescribeResult(HttpResult result) {
  switch (result) {
    case HttpResult::kOk: return "";
    case HttpResult::kNoNetwork: return "no network connection";
    case HttpResult::kSessionFailed: return "the HTTP client did not open";
    case HttpResult::kOpenFailed: return "no connection, or the request failed";
    case HttpResult::kBadStatus: return "refused status";
    case HttpResult::kNoLength: return "no usable Content-Length";
    case HttpResult::kSinkRefused: return "body refused";
    case HttpResult::kQueryFailed: return "the available byte count could not be read";
    case HttpResult::kReadFailed: return "the transfer broke off or stalled";
    case HttpResult::kShortBody: return "the body ended short of its length";
  }
  return "";
}

}  // namespace

bool TurnedAway(HttpResult result, const platform::HttpHeadFacts& facts) {
  if (result == HttpResult::kOpenFailed) return true;
  // A status of 0: no status line at all. WinINet reports a connection the server closed at
  // once as a request with an unreadable status, where libcurl fails to open it.
  return result == HttpResult::kBadStatus &&
         (facts.status == 0 || facts.status == 503 || facts.status == 429);
}

Status TransferFailure(const char* url, HttpResult result, const platform::HttpHeadFacts& facts) {
  return HttpFailure(FetchErrorFor(result), url == nullptr ? "" : url, facts.status,
                     DescribeResult(result));
}

Status FetchUrl(const char* url, HeapBuffer& buffer, std::uint32_t& size,
                std::atomic<std::uint32_t>* counter, const char* caFile, std::uint32_t maxLength) {
  if (counter != nullptr) counter->store(0, std::memory_order_relaxed);
  buffer.Reset();
  size = 0;
  BufferSink sink(buffer, counter, maxLength);
  platform::HttpRequest request;
  request.url = url;
  if (caFile != nullptr) request.caFile = caFile;
  platform::HttpHeadFacts facts;
  HttpResult result = platform::HttpGet(request, sink, &facts);
  if (result == HttpResult::kOk && !sink.Complete()) result = HttpResult::kShortBody;
  if (result == HttpResult::kOk) {
    size = static_cast<std::uint32_t>(buffer.size());
    return Ok();
  }
  buffer.Reset();
  if (StopRequested()) return Stopped();
  if (sink.TooLong()) {
    return HttpFailure(RecoveryError::InvalidData, url, facts.status,
                       "Content-Length " + std::to_string(facts.contentLength) +
                           " over the bound " + std::to_string(maxLength));
  }
  if (result == HttpResult::kSinkRefused) {
    return HttpFailure(RecoveryError::MemoryAllocation, url, facts.status,
                       "no memory for the body");
  }
  return TransferFailure(url, result, facts);
}

}  // namespace repair
