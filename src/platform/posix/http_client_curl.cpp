// libcurl in the place of WinINet, set up to put the same request on the wire and to end in
// the same results: one GET per call over HTTP/1.1, connections kept for the next call of
// the same thread, no redirects, no cookies, no cache, and WinINet's default time limits.
#include "platform/http_client.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "common/heap_buffer.h"
#include "platform/http_client_test_hooks.h"
#include "platform/http_head.h"
#include "platform/posix/file_descriptor.h"
#include "platform/posix/network_check.h"
#include "platform/progress_floor.h"

namespace repair::platform {
namespace {

constexpr char kUserAgent[] = "tovak:recovery:1.0";
// The sink writes to disk: large pieces keep the writes few. libcurl hands the body over in
// pieces of at most 16 KiB, whatever it received at once; they are gathered into pieces of up
// to this size, handed on whenever libcurl has taken all there was for now.
constexpr long kReceiveBuffer = 1L << 20;

std::atomic<int> g_forcedNetworkState{-1};
std::atomic<std::uint32_t> g_connectTimeoutMs{kDefaultConnectTimeoutMs};
std::atomic<std::uint32_t> g_receiveTimeoutMs{kDefaultReceiveTimeoutMs};

// A loopback server needs no network, so tests and local mirrors work on a machine without one;
// neither does a machine whose way out is a proxy on loopback.
bool IsConnected(const char* url) {
  int forced = g_forcedNetworkState.load();
  if (forced >= 0) return forced != 0;
  return HasNetworkFor(url, [](const char* name) -> const char* { return std::getenv(name); });
}

// A CA file that is named must be there: a missing one never means "the system's store alone".
bool CaFileUsable(const std::string& caFile) {
  if (caFile.empty()) return true;
  const FileDescriptor file(open(caFile.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info {};
  return file.valid() && fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode);
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
  Transfer(CURL* handle, HttpSink& target, bool isResumed, std::uint32_t connectMs,
           std::uint32_t receiveMs)
      : curl(handle),
        sink(target),
        resumed(isResumed),
        connectLimit(connectMs),
        receiveLimit(receiveMs),
        headDeadline(Clock::now() + connectLimit + receiveLimit),
        lastReceived(Clock::now()),
        floor(ProgressFloor::Current()) {}
  CURL* curl;
  HttpSink& sink;
  bool resumed;
  std::chrono::milliseconds connectLimit;
  std::chrono::milliseconds receiveLimit;
  Clock::time_point headDeadline;  // the final head must be in by then, as WinINet's must
  Clock::time_point lastReceived;  // of the last header or body bytes, or of the connection
  ProgressFloor floor;             // started once the final head is in
  std::uint32_t headStatus = 0;    // of the head being read, from its status line
  bool headEnded = false;          // the final (not 1xx) head is in
  bool timedOut = false;           // a time limit or the floor ended the transfer
  HeadLines lines;                 // the headers curl does not keep for us
  bool begun = false;
  HttpResponseHead head;
  std::uint32_t received = 0;  // body bytes taken, gathered or handed on
  HeapBuffer gathered;         // kReceiveBuffer bytes
  std::uint32_t gatheredCount = 0;
  HttpResult refused = HttpResult::kOk;  // why a callback stopped the transfer
};

// Hands the gathered bytes to the sink; false when it refused them. The time the sink takes
// (here and in Begin) does not count against the floor.
bool HandOn(Transfer& transfer) {
  if (transfer.gatheredCount == 0 || transfer.refused != HttpResult::kOk) {
    return transfer.refused == HttpResult::kOk;
  }
  std::uint32_t count = transfer.gatheredCount;
  transfer.gatheredCount = 0;
  auto started = Clock::now();
  bool taken = transfer.sink.Data(transfer.gathered.data(), count);
  transfer.floor.Exclude(Clock::now() - started);
  if (!taken) {
    transfer.refused = HttpResult::kSinkRefused;
    return false;
  }
  return true;
}

// The status of a status line "HTTP/x.y NNN ..."; 0 when it has none.
std::uint32_t StatusOf(const char* data, std::size_t length) {
  const char* space = static_cast<const char*>(std::memchr(data, ' ', length));
  if (space == nullptr || data + length - space < 4) return 0;
  std::uint32_t status = 0;
  for (int i = 1; i <= 3; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(space[i]))) return 0;
    status = status * 10 + static_cast<std::uint32_t>(space[i] - '0');
  }
  return status;
}

// The blank line that ends a final head starts the body and its floor.
void NoteHeadEnd(Transfer& transfer, const char* data, std::size_t length) {
  bool blank =
      (length == 2 && data[0] == '\r' && data[1] == '\n') || (length == 1 && data[0] == '\n');
  if (!blank || transfer.headEnded || transfer.headStatus / 100 == 1) return;
  transfer.headEnded = true;
  transfer.floor.Start(Clock::now());
}

// Judges the head curl has just read: a 200 (or, resumed, a 206) with usable lengths.
HttpResult CheckHead(Transfer& transfer) {
  long status = 0;
  if (curl_easy_getinfo(transfer.curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status < 0 ||
      status > 999) {
    status = 0;
  }
  curl_off_t length = -1;
  RawHead& raw = transfer.lines.raw();
  raw.status = static_cast<std::uint32_t>(status);
  raw.lengthKnown =
      curl_easy_getinfo(transfer.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
      !transfer.lines.chunked() && length >= 0;
  raw.contentLength = raw.lengthKnown ? static_cast<std::uint64_t>(length) : 0;
  return JudgeHead(raw, transfer.resumed, transfer.head);
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  Transfer& transfer = *static_cast<Transfer*>(user);
  std::size_t length = size * count;
  transfer.lastReceived = Clock::now();
  // Every status line (a 1xx comes before the final one) starts a new set of headers.
  if (length >= 5 && std::strncmp(data, "HTTP/", 5) == 0) {
    transfer.headStatus = StatusOf(data, length);
  }
  NoteHeadEnd(transfer, data, length);
  transfer.lines.Take(data, length);
  return length;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  Transfer& transfer = *static_cast<Transfer*>(user);
  std::size_t length = size * count;
  transfer.lastReceived = Clock::now();
  transfer.floor.Count(length);
  if (!transfer.begun) {
    transfer.refused = CheckHead(transfer);
    auto started = Clock::now();
    if (transfer.refused == HttpResult::kOk && !transfer.sink.Begin(transfer.head)) {
      transfer.refused = HttpResult::kSinkRefused;
    }
    transfer.floor.Exclude(Clock::now() - started);
    if (transfer.refused != HttpResult::kOk) return 0;  // stops the transfer
    transfer.begun = true;
  }
  std::size_t take = std::min<std::size_t>(length, transfer.head.contentLength - transfer.received);
  std::size_t done = 0;
  while (done < take) {
    std::size_t room = kReceiveBuffer - transfer.gatheredCount;
    std::size_t piece = std::min(room, take - done);
    std::memcpy(transfer.gathered.data() + transfer.gatheredCount, data + done, piece);
    transfer.gatheredCount += static_cast<std::uint32_t>(piece);
    done += piece;
    if (transfer.gatheredCount == kReceiveBuffer && !HandOn(transfer)) return 0;
  }
  transfer.received += static_cast<std::uint32_t>(take);
  // Fewer bytes than offered stop the transfer; that happens only past the declared length.
  return take;
}

// The time limits as WinINet applies them: the receive limit to each wait for data once
// connected, both limits together to the whole way to the final head. Then the floor on the
// body's progress. libcurl's low-speed check averages over its last five seconds, so after a
// burst of data it fires up to five seconds late, and it knows no window of its own; these
// checks, called about once a second while idle, do not wait. libcurl calls this after each
// round of reading too: what that round gathered is handed on. Returning 1 ends the transfer.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  Transfer& transfer = *static_cast<Transfer*>(user);
  if (!HandOn(transfer)) return 1;
  if (!transfer.sink.Wanted()) {
    transfer.refused = HttpResult::kSinkRefused;
    return 1;
  }
  auto now = Clock::now();
  bool late = !transfer.headEnded && now > transfer.headDeadline;
  curl_off_t connectMicros = 0;
  if (curl_easy_getinfo(transfer.curl, CURLINFO_CONNECT_TIME_T, &connectMicros) != CURLE_OK ||
      connectMicros == 0) {
    transfer.lastReceived = now;  // still connecting: the connect limit applies
  } else if (now - transfer.lastReceived > transfer.receiveLimit) {
    late = true;
  }
  if (!transfer.floor.Holds(now)) late = true;
  transfer.timedOut = transfer.timedOut || late;
  return late ? 1 : 0;
}

// Certificates are always verified, chain and host name: libcurl's defaults, stated here so
// that no later change loses them. A CA file adds its certificates to the system's (the bundle
// is replaced, the system's folder of certificates stays).
bool SetTlsOptions(CURL* curl, const std::string& caFile) {
  return curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
         (caFile.empty() || curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str()) == CURLE_OK);
}

bool SetOptions(CURL* curl, const char* url, curl_slist* headers, Transfer& transfer) {
  // libcurl's own check of a silent server counts body bytes only: it must not fire before
  // OnProgress's bound on the way to the head.
  auto limitMs = (transfer.connectLimit + transfer.receiveLimit).count();
  long lowSpeedSeconds = static_cast<long>(std::max<long long>(1, (limitMs + 999) / 1000));
  // Proxy options are left alone: libcurl then honours http_proxy, https_proxy and no_proxy.
  // No cookie file is named, so the cookie engine stays off. A smaller receive buffer than
  // asked for (an older libcurl caps it) only costs speed.
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReceiveBuffer);
  return curl_easy_setopt(curl, CURLOPT_URL, url) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
         curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                          static_cast<long>(transfer.connectLimit.count())) == CURLE_OK &&
         // A server that sends nothing ends the transfer. OnProgress is the exact check, at
         // the receive limit; this one stays should a libcurl ever not call it.
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
  // A limit or the floor ended it: as WinINet reports that, by whether the final head was in.
  if (transfer.timedOut) {
    return transfer.headEnded ? HttpResult::kReadFailed : HttpResult::kOpenFailed;
  }
  long status = 0;
  curl_easy_getinfo(transfer.curl, CURLINFO_RESPONSE_CODE, &status);
  // No response head at all: lookup, connection, TLS or request failed.
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

// The request always reaches the server: no cache on the way may answer it. A resumed
// request adds its range and the condition on it.
std::unique_ptr<curl_slist, SlistFree> RequestHeaders(const std::string& range,
                                                      const std::string& ifRange) {
  std::unique_ptr<curl_slist, SlistFree> headers(
      curl_slist_append(nullptr, "Cache-Control: no-cache"));
  if (!headers) return headers;
  std::string lines[] = {"Pragma: no-cache", range, ifRange};
  for (const std::string& line : lines) {
    if (!line.empty() && curl_slist_append(headers.get(), line.c_str()) == nullptr) {
      headers.reset();
      break;
    }
  }
  return headers;
}

}  // namespace

HttpResult HttpGet(const HttpRequest& request, HttpSink& sink, HttpHeadFacts* facts) {
  if (facts != nullptr) *facts = HttpHeadFacts();
  std::string range;
  std::string ifRange;
  if (!BuildRequestHeaders(request, range, ifRange)) return HttpResult::kOpenFailed;
  if (!IsConnected(request.url)) return HttpResult::kNoNetwork;
  if (!CaFileUsable(request.caFile)) return HttpResult::kOpenFailed;
  CURL* curl = ThreadHandle();
  if (curl == nullptr) return HttpResult::kSessionFailed;
  OptionsReset reset(curl);

  std::unique_ptr<curl_slist, SlistFree> headers = RequestHeaders(range, ifRange);
  if (!headers) return HttpResult::kSessionFailed;
  Transfer transfer(curl, sink, !range.empty(), g_connectTimeoutMs.load(),
                    g_receiveTimeoutMs.load());
  if (!transfer.gathered.Allocate(kReceiveBuffer) ||
      !SetOptions(curl, request.url, headers.get(), transfer) ||
      !SetTlsOptions(curl, request.caFile)) {
    return HttpResult::kSessionFailed;
  }
  CURLcode code = curl_easy_perform(curl);
  if (code == CURLE_OPERATION_TIMEDOUT) transfer.timedOut = true;
  // Whatever arrived before the end, a failed one included, reaches the sink.
  HandOn(transfer);
  // Once the whole declared body is in, how the transfer ended does not matter: a longer
  // body was cut on purpose.
  HttpResult result = HttpResult::kOk;
  if (!transfer.begun || transfer.received != transfer.head.contentLength) {
    result = Judge(transfer, code);
  }
  // A head cut short by a limit explains nothing.
  if (facts != nullptr && (transfer.headEnded || !transfer.timedOut)) {
    *facts = FactsOf(transfer.lines.raw());
  }
  return result;
}

void ForceNetworkState(int state) { g_forcedNetworkState = state < 0 ? -1 : (state != 0); }

void SetHttpTimeouts(std::uint32_t connectMs, std::uint32_t receiveMs) {
  g_connectTimeoutMs = connectMs != 0 ? connectMs : kDefaultConnectTimeoutMs;
  g_receiveTimeoutMs = receiveMs != 0 ? receiveMs : kDefaultReceiveTimeoutMs;
}

}  // namespace repair::platform
