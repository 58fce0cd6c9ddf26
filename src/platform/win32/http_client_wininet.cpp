// WinINet: one root handle and one request handle per call, closed request first. The
// blocking calls run on a fetch thread of the call's own, which owns both handles and closes
// each exactly once; the calling thread hands the head and the pieces to the sink and gives
// up on a call that outlasts its limit (see transfer_channel.h). On Windows WinINet's own
// limits end such a call about as soon; under Wine it may never end, and the fetch thread is
// then left to finish, and close its handles, whenever the server lets go.
#include "platform/http_client.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/http_client_test_hooks.h"
#include "platform/http_head.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/transfer_channel.h"

namespace repair::platform {
namespace {

constexpr char kUserAgent[] = "tovak:recovery:1.0";

// Always from the server, never into the cache, connection kept for the next request,
// redirects answered as they are, no cookies.
constexpr DWORD kOpenUrlFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_AUTO_REDIRECT |
                                INTERNET_FLAG_NO_COOKIES;
static_assert(kOpenUrlFlags == 0x84680000, "the request flags the servers were set up for");

// A header text longer than this is taken as unreadable.
constexpr DWORD kMaxHeaderText = 8192;
// The smallest read, for when the available count promises nothing.
constexpr DWORD kMinRead = 4096;

std::atomic<int> g_forcedNetworkState{-1};
// 0: WinINet's own default stays in force.
std::atomic<std::uint32_t> g_connectTimeoutMs{0};
std::atomic<std::uint32_t> g_receiveTimeoutMs{0};

// What the fetch thread needs, copied: the caller may be gone before it ends.
struct FetchPlan {
  std::string url;
  std::string headers;  // extra request header lines, each ended by CR LF; empty for none
  bool resumed = false;
  DWORD connectMs = kDefaultConnectTimeoutMs;
  DWORD receiveMs = kDefaultReceiveTimeoutMs;
};

// WinINet lets a process hold only a few connections to one server at once (2 to an HTTP/1.1
// server in older versions) and makes further requests wait for one: the run's transfers at
// once would queue behind each other. The limits are the process's, set before its first
// request; each call's root handle is its own, so calls on several threads share nothing else.
constexpr DWORD kConnectionsPerServer = 32;

void RaiseConnectionLimits() {
  static std::once_flag once;
  std::call_once(once, [] {
    DWORD limit = kConnectionsPerServer;
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &limit, sizeof limit);
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &limit, sizeof limit);
  });
}

bool IsConnected() {
  int forced = g_forcedNetworkState.load();
  if (forced >= 0) return forced != 0;
  DWORD kinds = 0;  // which kind of connection does not matter
  return InternetGetConnectedState(&kinds, 0) != FALSE;
}

void ApplyTestTimeouts(HINTERNET root) {
  DWORD connectMs = g_connectTimeoutMs.load();
  DWORD receiveMs = g_receiveTimeoutMs.load();
  if (connectMs != 0) {
    InternetSetOptionA(root, INTERNET_OPTION_CONNECT_TIMEOUT, &connectMs, sizeof connectMs);
  }
  if (receiveMs != 0) {
    InternetSetOptionA(root, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveMs, sizeof receiveMs);
  }
}

// A numeric header of the response, read into exactly 4 bytes.
bool QueryNumber(HINTERNET request, DWORD query, DWORD& value) {
  value = 0;
  DWORD length = sizeof value;
  return HttpQueryInfoA(request, query | HTTP_QUERY_FLAG_NUMBER, &value, &length, nullptr) !=
             FALSE &&
         length == sizeof value;
}

// A text header of the response; false when it is absent or unreadable.
bool QueryText(HINTERNET request, DWORD query, std::string& value) {
  value.clear();
  std::string text(256, '\0');
  DWORD length = static_cast<DWORD>(text.size());
  if (!HttpQueryInfoA(request, query, &text[0], &length, nullptr)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || length == 0 || length > kMaxHeaderText) {
      return false;
    }
    text.assign(length, '\0');
    if (!HttpQueryInfoA(request, query, &text[0], &length, nullptr)) return false;
  }
  text.resize(std::min<std::size_t>(length, text.size()));
  value = TrimHeaderValue(text);
  return true;
}

HttpResult ReadHead(HINTERNET request, bool resumed, HttpResponseHead& head, HttpHeadFacts& facts) {
  RawHead raw;
  DWORD number = 0;
  if (QueryNumber(request, HTTP_QUERY_STATUS_CODE, number)) raw.status = number;
  raw.lengthKnown = QueryNumber(request, HTTP_QUERY_CONTENT_LENGTH, number);
  raw.contentLength = number;
  raw.hasContentRange = QueryText(request, HTTP_QUERY_CONTENT_RANGE, raw.contentRange);
  QueryText(request, HTTP_QUERY_ETAG, raw.etag);
  QueryText(request, HTTP_QUERY_LAST_MODIFIED, raw.lastModified);
  // Read only to explain a refusal.
  QueryText(request, HTTP_QUERY_LOCATION, raw.location);
  QueryText(request, HTTP_QUERY_CONTENT_ENCODING, raw.contentEncoding);
  QueryText(request, HTTP_QUERY_TRANSFER_ENCODING, raw.transferEncoding);
  facts = FactsOf(raw);
  return JudgeHead(raw, resumed, head);
}

// Asks how many bytes can be read now. A connection that dropped or timed out between reads
// can show up here rather than in a read; it is a failed read all the same. (Wine passes the
// socket's own error codes on.)
HttpResult QueryAvailable(HINTERNET request, DWORD& available) {
  available = 0;
  if (InternetQueryDataAvailable(request, &available, 0, 0)) return HttpResult::kOk;
  switch (GetLastError()) {
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_INTERNET_TIMEOUT:
    case WSAECONNABORTED:
    case WSAECONNRESET:
    case WSAETIMEDOUT: return HttpResult::kReadFailed;
    default: return HttpResult::kQueryFailed;
  }
}

// Sizes the reads. A synchronous read returns only once it is full or the body has ended, so
// a read larger than what has arrived waits on the network while bytes keep coming, and the
// caller cannot tell that wait from a stall. Each read therefore asks for what is there, or
// for what the last round's rate brings in a tenth of a second where that is more: reads of a
// whole buffer on a fast link, and on a slow one reads that end long before the limit.
class ReadPacer {
 public:
  DWORD Next(DWORD available, DWORD limit) const {
    double byRate = bytesPerSecond_ * kPaceSeconds;
    DWORD want = byRate >= limit ? limit : std::max(available, static_cast<DWORD>(byRate));
    if (want == 0) want = kMinRead;  // nothing promised: the read itself tells the end
    return std::min(want, limit);
  }
  void Record(DWORD bytes, std::chrono::steady_clock::duration took) {
    double seconds = std::chrono::duration<double>(took).count();
    bytesPerSecond_ = seconds > 0 ? bytes / seconds : 1e12;
  }

 private:
  static constexpr double kPaceSeconds = 0.1;
  double bytesPerSecond_ = 0;
};

// Reads the body into the channel's buffers, from the first query of the available count on.
HttpResult ReadBody(TransferChannel& channel, HINTERNET request, DWORD declared, DWORD receiveMs) {
  using Clock = std::chrono::steady_clock;
  ReadPacer pacer;
  DWORD room = declared;
  while (room > 0) {
    int slot = -1;
    std::uint8_t* buffer = channel.TakeSlot(slot);
    if (buffer == nullptr) return HttpResult::kSinkRefused;  // the caller has left
    Clock::time_point started = Clock::now();
    DWORD available = 0;
    if (!channel.StartCall(receiveMs)) return HttpResult::kSinkRefused;
    HttpResult queried = QueryAvailable(request, available);
    channel.EndCall();
    if (queried != HttpResult::kOk) return queried;

    DWORD want = pacer.Next(available, std::min<DWORD>(room, TransferChannel::kSlotSize));
    DWORD got = 0;
    if (!channel.StartCall(receiveMs)) return HttpResult::kSinkRefused;
    BOOL read = InternetReadFile(request, buffer, want, &got);
    channel.EndCall();
    if (!read) return HttpResult::kReadFailed;
    if (got == 0) return HttpResult::kShortBody;
    got = std::min(got, want);
    pacer.Record(got, Clock::now() - started);
    channel.PostPiece(slot, got);
    // A body longer than declared is cut here: its extra bytes are never read.
    room -= got;
  }
  return HttpResult::kOk;
}

// The whole request on the fetch thread. Its handles close when it returns, request first.
HttpResult Fetch(TransferChannel& channel, const FetchPlan& plan, HttpHeadFacts& facts) {
  // Declared root first, so that the request handle is closed before it.
  ScopedInternetHandle root(
      InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!root) return HttpResult::kSessionFailed;
  ApplyTestTimeouts(root.get());
  // Connecting, sending and waiting for the head all happen inside this one call.
  if (!channel.StartCall(plan.connectMs + plan.receiveMs)) return HttpResult::kSinkRefused;
  ScopedInternetHandle request(InternetOpenUrlA(
      root.get(), plan.url.c_str(), plan.headers.empty() ? nullptr : plan.headers.c_str(),
      static_cast<DWORD>(plan.headers.size()), kOpenUrlFlags, 0));
  channel.EndCall();
  if (!request) return HttpResult::kOpenFailed;

  HttpResponseHead head;
  HttpResult judged = ReadHead(request.get(), plan.resumed, head, facts);
  if (judged != HttpResult::kOk) return judged;
  channel.PostHead(head);
  return ReadBody(channel, request.get(), head.contentLength, plan.receiveMs);
}

// `facts` is written here and read by the caller only after joining this thread.
void RunFetch(std::shared_ptr<TransferChannel> channel, FetchPlan plan,
              std::shared_ptr<HttpHeadFacts> facts) {
  HttpResult result = Fetch(*channel, plan, *facts);
  channel->Finish(result);
}

// Hands what the fetch thread delivers to the sink until the transfer ends.
HttpResult Deliver(TransferChannel& channel, HttpSink& sink) {
  bool headSeen = false;
  for (;;) {
    TransferChannel::Event event = channel.Next();
    switch (event.kind) {
      case TransferChannel::Event::kHead:
        headSeen = true;
        if (!sink.Begin(channel.head())) return HttpResult::kSinkRefused;
        break;
      case TransferChannel::Event::kPiece: {
        bool taken = sink.Data(channel.SlotData(event.slot), event.count);
        channel.ReturnSlot(event.slot);
        if (!taken) return HttpResult::kSinkRefused;
        break;
      }
      case TransferChannel::Event::kEnd: return event.result;
      case TransferChannel::Event::kStalled:
        // As the Linux client reports a silent server: no head yet, the URL could not be
        // opened; in the middle of the body, a failed read.
        return headSeen ? HttpResult::kReadFailed : HttpResult::kOpenFailed;
      case TransferChannel::Event::kTooSlow: return HttpResult::kReadFailed;
      case TransferChannel::Event::kIdle:
        if (!sink.Wanted()) return HttpResult::kSinkRefused;
        break;
    }
  }
}

FetchPlan PlanFor(const HttpRequest& request, const std::string& range,
                  const std::string& ifRange) {
  FetchPlan plan;
  plan.url = request.url;
  if (!range.empty()) plan.headers = range + "\r\n";
  // A ranged request asks without a condition.
  if (!ifRange.empty()) plan.headers += ifRange + "\r\n";
  plan.resumed = !range.empty();
  DWORD connectMs = g_connectTimeoutMs.load();
  DWORD receiveMs = g_receiveTimeoutMs.load();
  if (connectMs != 0) plan.connectMs = connectMs;
  if (receiveMs != 0) plan.receiveMs = receiveMs;
  return plan;
}

}  // namespace

HttpResult HttpGet(const HttpRequest& request, HttpSink& sink, HttpHeadFacts* facts) {
  if (facts != nullptr) *facts = HttpHeadFacts();
  std::string range;
  std::string ifRange;
  if (!BuildRequestHeaders(request, range, ifRange)) return HttpResult::kOpenFailed;
  if (!IsConnected()) return HttpResult::kNoNetwork;
  RaiseConnectionLimits();
  auto channel = std::make_shared<TransferChannel>();
  if (!channel->Allocate()) return HttpResult::kSessionFailed;
  std::shared_ptr<HttpHeadFacts> seen;
  std::thread fetcher;
  try {
    seen = std::make_shared<HttpHeadFacts>();
    fetcher = std::thread(RunFetch, channel, PlanFor(request, range, ifRange), seen);
  } catch (const std::exception&) {
    return HttpResult::kSessionFailed;
  }
  HttpResult result = Deliver(*channel, sink);
  channel->Leave();
  // A fetch thread stuck in a call that will not return keeps the channel alive and ends on
  // its own; any other has closed its handles before this call returns. A sink that refused
  // (a stopped run among them) is not kept waiting for the network: the fetch thread ends at
  // its next step.
  if (channel->WaitForFinish(result != HttpResult::kSinkRefused)) {
    fetcher.join();
    if (facts != nullptr) *facts = *seen;
  } else {
    fetcher.detach();
  }
  return result;
}

void ForceNetworkState(int state) { g_forcedNetworkState = state < 0 ? -1 : (state != 0); }

void SetHttpTimeouts(std::uint32_t connectMs, std::uint32_t receiveMs) {
  g_connectTimeoutMs = connectMs;
  g_receiveTimeoutMs = receiveMs;
}

}  // namespace repair::platform
