// WinINet: one root handle and one request handle per call, closed request first.
#include "platform/http_client.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>

#include "common/heap_buffer.h"

namespace repair::platform {
namespace {

constexpr char kUserAgent[] = "tovak:recovery:1.0";

// Always from the server, never into the cache, connection kept for the next request,
// redirects answered as they are, no cookies.
constexpr DWORD kOpenUrlFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_AUTO_REDIRECT |
                                INTERNET_FLAG_NO_COOKIES;
static_assert(kOpenUrlFlags == 0x84680000, "the request flags the servers were set up for");

// Reads go through a piece of this size on their way to the sink.
constexpr DWORD kReadPiece = 64 * 1024;

std::atomic<int> g_forcedNetworkState{-1};
// 0: WinINet's own default stays in force.
std::atomic<std::uint32_t> g_connectTimeoutMs{0};
std::atomic<std::uint32_t> g_receiveTimeoutMs{0};

class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  ~InternetHandle() {
    if (handle_ != nullptr) InternetCloseHandle(handle_);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_;
};

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

// Asks how many bytes can be read now. A connection that dropped between reads can show up
// here rather than in a read; it is a failed read all the same. (Wine passes the socket's
// own error codes on.)
HttpResult QueryAvailable(HINTERNET request, DWORD& available) {
  available = 0;
  if (InternetQueryDataAvailable(request, &available, 0, 0)) return HttpResult::kOk;
  switch (GetLastError()) {
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
    case WSAECONNABORTED:
    case WSAECONNRESET:
      return HttpResult::kReadFailed;
    default:
      return HttpResult::kQueryFailed;
  }
}

}  // namespace

HttpResult HttpGet(const char* url, HttpSink& sink) {
  if (url == nullptr) return HttpResult::kOpenFailed;
  if (!IsConnected()) return HttpResult::kNoNetwork;
  // Declared root first, so that the request handle is closed before it.
  InternetHandle root(
      InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!root) return HttpResult::kSessionFailed;
  ApplyTestTimeouts(root.get());
  InternetHandle request(InternetOpenUrlA(root.get(), url, nullptr, 0, kOpenUrlFlags, 0));
  if (!request) return HttpResult::kOpenFailed;

  DWORD status = 0;
  if (!QueryNumber(request.get(), HTTP_QUERY_STATUS_CODE, status) || status != 200) {
    return HttpResult::kBadStatus;
  }
  DWORD declared = 0;
  if (!QueryNumber(request.get(), HTTP_QUERY_CONTENT_LENGTH, declared) || declared == 0) {
    return HttpResult::kNoLength;
  }
  if (!sink.Begin(declared)) return HttpResult::kNoMemory;
  HeapBuffer piece;
  if (!piece.Allocate(kReadPiece)) return HttpResult::kNoMemory;

  DWORD available = 0;
  HttpResult queried = QueryAvailable(request.get(), available);
  if (queried != HttpResult::kOk) return queried;
  DWORD room = declared;
  while (room > 0) {
    // An available count of 0 promises nothing: the read itself tells the end (0 bytes).
    DWORD want = std::min(std::min(room, kReadPiece), available != 0 ? available : kReadPiece);
    DWORD got = 0;
    if (!InternetReadFile(request.get(), piece.data(), want, &got)) {
      return HttpResult::kReadFailed;
    }
    if (got == 0) break;
    got = std::min(got, want);
    sink.Data(piece.data(), got);
    room -= got;
    // A body longer than declared is cut here: its extra bytes are never read.
    if (room == 0) break;
    queried = QueryAvailable(request.get(), available);
    if (queried != HttpResult::kOk) return queried;
  }
  return room == 0 ? HttpResult::kOk : HttpResult::kShortBody;
}

void ForceNetworkState(int state) { g_forcedNetworkState = state < 0 ? -1 : (state != 0); }

void SetHttpTimeouts(std::uint32_t connectMs, std::uint32_t receiveMs) {
  g_connectTimeoutMs = connectMs;
  g_receiveTimeoutMs = receiveMs;
}

}  // namespace repair::platform
