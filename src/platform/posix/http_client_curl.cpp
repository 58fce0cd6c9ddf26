// libcurl in the place of WinINet, set up to put the same request on the wire and to end in
// the same results: one GET per call over HTTP/1.1, connections kept for the next call of
// the same thread, no redirects, no cookies, no cache, and WinINet's default time limits.
#include "platform/http_client.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

namespace repair::platform {
namespace {

constexpr char kUserAgent[] = "tovak:recovery:1.0";

std::atomic<int> g_forcedNetworkState{-1};
std::atomic<std::uint32_t> g_connectTimeoutMs{kDefaultConnectTimeoutMs};
std::atomic<std::uint32_t> g_receiveTimeoutMs{kDefaultReceiveTimeoutMs};

// The host of an http(s) URL, an IPv6 literal with its brackets; empty when there is none.
std::string UrlHost(const char* url) {
  const char* start = std::strstr(url, "://");
  if (start == nullptr) return {};
  start += 3;
  std::string authority(start, std::strcspn(start, "/?#"));
  std::size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  if (!authority.empty() && authority[0] == '[') {
    std::size_t close = authority.find(']');
    return close == std::string::npos ? std::string() : authority.substr(0, close + 1);
  }
  return authority.substr(0, authority.find(':'));
}

bool IsLoopbackHost(const std::string& host) {
  if (strcasecmp(host.c_str(), "localhost") == 0 || host == "[::1]") return true;
  in_addr address{};
  return inet_pton(AF_INET, host.c_str(), &address) == 1 && (ntohl(address.s_addr) >> 24) == 127;
}

bool AnyInterfaceUp() {
  ifaddrs* list = nullptr;
  // When the interfaces cannot be listed, the request itself will tell.
  if (getifaddrs(&list) != 0) return true;
  std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owner(list, freeifaddrs);
  for (const ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    unsigned flags = it->ifa_flags;
    if ((flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK)) return true;
  }
  return false;
}

// A loopback server needs no network, so tests and local mirrors work on a machine without one.
bool IsConnected(const char* url) {
  int forced = g_forcedNetworkState.load();
  if (forced >= 0) return forced != 0;
  return IsLoopbackHost(UrlHost(url)) || AnyInterfaceUp();
}

struct EasyCleanup {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// One handle per thread, kept for the thread's life: its connection cache is what lets the
// next fetch of a run reuse the connection.
CURL* ThreadHandle() {
  static std::once_flag once;
  static bool initialised = false;
  std::call_once(once, [] { initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  if (!initialised) return nullptr;
  thread_local std::unique_ptr<CURL, EasyCleanup> handle;
  if (!handle) handle.reset(curl_easy_init());
  return handle.get();
}

// Clears the request's options (which point into this call's stack) when the call ends;
// the handle's connections survive.
class OptionsReset {
 public:
  explicit OptionsReset(CURL* handle) : handle_(handle) { curl_easy_reset(handle_); }
  ~OptionsReset() { curl_easy_reset(handle_); }
  OptionsReset(const OptionsReset&) = delete;
  OptionsReset& operator=(const OptionsReset&) = delete;

 private:
  CURL* handle_;
};

using Clock = std::chrono::steady_clock;

struct Transfer {
  Transfer(CURL* handle, HttpSink& target, std::uint32_t receiveMs)
      : curl(handle), sink(target), receiveLimit(receiveMs), lastReceived(Clock::now()) {}
  CURL* curl;
  HttpSink& sink;
  std::chrono::milliseconds receiveLimit;
  Clock::time_point lastReceived;  // of the last header or body bytes, or of the connection
  bool chunked = false;
  bool begun = false;
  std::uint32_t declared = 0;
  std::uint32_t received = 0;
  HttpResult refused = HttpResult::kOk;  // why the body callback stopped the transfer
};

// Judges the head curl has just read: a 200 with a usable Content-Length.
HttpResult CheckHead(Transfer& transfer) {
  long status = 0;
  if (curl_easy_getinfo(transfer.curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK ||
      status != 200) {
    return HttpResult::kBadStatus;
  }
  curl_off_t length = -1;
  if (curl_easy_getinfo(transfer.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
      transfer.chunked || length <= 0 || length > static_cast<curl_off_t>(UINT32_MAX)) {
    return HttpResult::kNoLength;
  }
  transfer.declared = static_cast<std::uint32_t>(length);
  return HttpResult::kOk;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  Transfer& transfer = *static_cast<Transfer*>(user);
  std::size_t length = size * count;
  transfer.lastReceived = Clock::now();
  // Every status line (a 1xx comes before the final one) starts a new set of headers.
  if (length >= 5 && std::strncmp(data, "HTTP/", 5) == 0) transfer.chunked = false;
  static const char kName[] = "transfer-encoding:";
  constexpr std::size_t kNameLength = sizeof kName - 1;
  if (length > kNameLength && strncasecmp(data, kName, kNameLength) == 0) {
    std::string value(data + kNameLength, length - kNameLength);
    for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // Its body has no length known in advance, whatever a Content-Length beside it says.
    if (value.find("chunked") != std::string::npos) transfer.chunked = true;
  }
  return length;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  Transfer& transfer = *static_cast<Transfer*>(user);
  std::size_t length = size * count;
  transfer.lastReceived = Clock::now();
  if (!transfer.begun) {
    transfer.refused = CheckHead(transfer);
    if (transfer.refused == HttpResult::kOk && !transfer.sink.Begin(transfer.declared)) {
      transfer.refused = HttpResult::kNoMemory;
    }
    if (transfer.refused != HttpResult::kOk) return 0;  // stops the transfer
    transfer.begun = true;
  }
  std::size_t take = std::min<std::size_t>(length, transfer.declared - transfer.received);
  if (take > 0) {
    transfer.sink.Data(reinterpret_cast<const std::uint8_t*>(data),
                       static_cast<std::uint32_t>(take));
    transfer.received += static_cast<std::uint32_t>(take);
  }
  // Fewer bytes than offered stop the transfer; that happens only past the declared length.
  return take;
}

// The receive limit as WinINet applies it: to each wait for data once connected. libcurl's
// low-speed check averages over its last five seconds, so after a burst of data it fires up
// to five seconds late; this check, called about once a second while idle, does not.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  Transfer& transfer = *static_cast<Transfer*>(user);
  auto now = Clock::now();
  curl_off_t connectMicros = 0;
  if (curl_easy_getinfo(transfer.curl, CURLINFO_CONNECT_TIME_T, &connectMicros) != CURLE_OK ||
      connectMicros == 0) {
    transfer.lastReceived = now;  // still connecting: the connect limit applies
    return 0;
  }
  return now - transfer.lastReceived > transfer.receiveLimit ? 1 : 0;  // 1 ends the transfer
}

bool SetOptions(CURL* curl, const char* url, curl_slist* headers, Transfer& transfer) {
  auto receiveMs = static_cast<std::uint32_t>(transfer.receiveLimit.count());
  long lowSpeedSeconds = static_cast<long>(std::max<std::uint32_t>(1, (receiveMs + 999) / 1000));
  // Proxy options are left alone: libcurl then honours http_proxy, https_proxy and no_proxy.
  // No cookie file is named, so the cookie engine stays off.
  return curl_easy_setopt(curl, CURLOPT_URL, url) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                          static_cast<long>(g_connectTimeoutMs.load())) == CURLE_OK &&
         // A server that sends nothing for the receive limit ends the transfer.
         curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, lowSpeedSeconds) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer) == CURLE_OK;
}

// The result of a transfer that did not leave the sink with the whole declared body.
HttpResult Judge(Transfer& transfer, CURLcode code) {
  if (transfer.refused != HttpResult::kOk) return transfer.refused;
  long status = 0;
  curl_easy_getinfo(transfer.curl, CURLINFO_RESPONSE_CODE, &status);
  // No response head at all: lookup, connection, TLS or request failed, or the server was
  // silent for the receive limit.
  if (status == 0) return HttpResult::kOpenFailed;
  if (!transfer.begun) {
    HttpResult head = CheckHead(transfer);
    if (head != HttpResult::kOk) return head;
  }
  // The head was acceptable and the body incomplete. A connection the server closed early
  // ends a short body; a reset, a stall past the receive limit or any other transport error
  // is a failed read.
  return code == CURLE_OK || code == CURLE_PARTIAL_FILE ? HttpResult::kShortBody
                                                        : HttpResult::kReadFailed;
}

}  // namespace

HttpResult HttpGet(const char* url, HttpSink& sink) {
  if (url == nullptr) return HttpResult::kOpenFailed;
  if (!IsConnected(url)) return HttpResult::kNoNetwork;
  CURL* curl = ThreadHandle();
  if (curl == nullptr) return HttpResult::kSessionFailed;
  OptionsReset reset(curl);

  // The request always reaches the server: no cache on the way may answer it.
  std::unique_ptr<curl_slist, SlistFree> headers(
      curl_slist_append(nullptr, "Cache-Control: no-cache"));
  if (!headers || curl_slist_append(headers.get(), "Pragma: no-cache") == nullptr) {
    return HttpResult::kSessionFailed;
  }

  Transfer transfer(curl, sink, g_receiveTimeoutMs.load());
  if (!SetOptions(curl, url, headers.get(), transfer)) return HttpResult::kSessionFailed;
  CURLcode code = curl_easy_perform(curl);
  // Once the whole declared body is in, how the transfer ended does not matter: a longer
  // body was cut on purpose.
  if (transfer.begun && transfer.received == transfer.declared) return HttpResult::kOk;
  return Judge(transfer, code);
}

void ForceNetworkState(int state) { g_forcedNetworkState = state < 0 ? -1 : (state != 0); }

void SetHttpTimeouts(std::uint32_t connectMs, std::uint32_t receiveMs) {
  g_connectTimeoutMs = connectMs != 0 ? connectMs : kDefaultConnectTimeoutMs;
  g_receiveTimeoutMs = receiveMs != 0 ? receiveMs : kDefaultReceiveTimeoutMs;
}

}  // namespace repair::platform
