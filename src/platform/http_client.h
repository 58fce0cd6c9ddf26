// One HTTP GET: WinINet on Windows, libcurl elsewhere, set up alike. The request carries the
// agent "tovak:recovery:1.0", always goes to the server (no cached copy, nothing stored in a
// cache), keeps its connection for the next request, follows no redirect, and sends and stores
// no cookies. The system's proxy settings apply: on Linux the variables https_proxy (either
// case), http_proxy (lower case only), all_proxy and no_proxy, as libcurl reads them; on
// Windows the system's own settings. An https server's certificate is always verified (chain
// and host name) against the system's trusted certificates.
#pragma once

#include <cstdint>
#include <string>

namespace repair::platform {

enum class HttpResult {
  kOk,
  kNoNetwork,      // the machine has no network connection
  kSessionFailed,  // the client library could not be opened
  kOpenFailed,     // name lookup, connection, certificate check or request failed, the CA
                   // file cannot be opened, or the server stalled or was too slow to
                   // send the head
  kBadStatus,      // no readable status, or a status other than 200 (or 206, see below)
  kNoLength,       // no readable Content-Length, or Content-Length 0
  kSinkRefused,    // the sink refused the head or a piece (it knows why)
  kQueryFailed,    // asking for the available byte count failed
  kReadFailed,     // a read failed, the connection dropped, or the server stalled or sent
                   // the body slower than the floor (see kProgressFloorBytes)
  kShortBody,      // the body ended before its declared length
};

// What to ask for. A plain request fetches the whole resource. A resumed one (resumeFrom > 0)
// asks for the bytes from resumeFrom on ("Range: bytes=N-") on the condition that the resource
// still matches `ifRange` ("If-Range", an ETag or a Last-Modified date as the server gave it);
// the server then answers 206 with the rest, or 200 with the whole resource when it changed or
// does not do ranges. A resumed request without a validator is not made: it could splice two
// versions of a file. Neither is one whose validator holds a control character or exceeds
// 1024 bytes. HttpGet answers both, like a request without a URL, with kOpenFailed and
// without connecting.
//
// A ranged request (hasRange) asks for the bytes rangeFirst to rangeLast, both included, with
// one "Range: bytes=FIRST-LAST" and no condition: the caller checks what it gets (a 206 whose
// Content-Range is the one asked for) and refuses anything else. One range per request, never
// several: a multi-range answer has a body format of its own. A ranged request that is also
// resumed, or whose last byte comes before its first, is refused as above.
//
// `caFile` names a PEM file of CA certificates that are trusted as well for https servers,
// for operators whose hosts carry certificates of their own CA; empty, the system's trusted
// certificates alone. A file that is named but cannot be opened as a regular file fails the
// request with kOpenFailed before anything is sent: verification never falls back to less.
// The WinINet client ignores it (Windows trusts what its certificate store holds).
struct HttpRequest {
  const char* url = nullptr;
  std::uint32_t resumeFrom = 0;
  std::string ifRange;
  bool hasRange = false;
  std::uint32_t rangeFirst = 0;
  std::uint32_t rangeLast = 0;
  std::string caFile;
};

// The head of an accepted response: 200 with a non-zero Content-Length, or, for a resumed or
// ranged request only, 206 with a non-zero Content-Length and a readable Content-Range
// "bytes FIRST-LAST/TOTAL" (a 206 whose Content-Range is missing, unreadable, or does not fit
// the Content-Length is kNoLength). Whether the range is the one asked for is the sink's call.
struct HttpResponseHead {
  std::uint32_t status = 0;         // 200 or 206
  std::uint32_t contentLength = 0;  // bytes in this body, never 0
  std::uint32_t rangeStart = 0;     // 206: offset of the body's first byte; 200: 0
  std::uint32_t totalLength = 0;    // 206: the whole resource's length; 200: contentLength
  std::string etag;                 // as sent (quotes and any W/ kept); empty when absent
  std::string lastModified;         // as sent; empty when absent
};

// Receives the body. Begin is called once with the head before any data; Data is called with
// consecutive pieces, never more than contentLength in all, on the calling thread only, from
// inside HttpGet. Either returning false ends the transfer with kSinkRefused.
class HttpSink {
 public:
  virtual ~HttpSink() = default;
  virtual bool Begin(const HttpResponseHead& head) = 0;
  virtual bool Data(const std::uint8_t* bytes, std::uint32_t count) = 0;
  // Asked, on the same thread, while the transfer waits for the network with nothing to
  // hand on: at least once a second. False ends the transfer with kSinkRefused, so that a
  // caller told to give up is not held by a server that has gone quiet.
  virtual bool Wanted() { return true; }
};

// What the final response head said, accepted or not, for a caller that explains a refusal
// (the operator's check of a release) rather than acts on it. status 0: no head was read.
struct HttpHeadFacts {
  std::uint32_t status = 0;
  bool lengthKnown = false;  // a readable Content-Length and no chunked body
  std::uint64_t contentLength = 0;
  std::string location;         // each as sent, surrounding white space removed; empty when
  std::string contentEncoding;  // absent
  std::string transferEncoding;
};

// Fetches the request (http:// or https://) into `sink`. Several threads may call it at once,
// each with its own request and sink: on Linux each thread keeps its own connections for its
// next call and closes them when it ends; on Windows the system keeps them for the process,
// up to 32 to one server at once. A body longer than its Content-Length
// is cut at that length; kOk means the sink received exactly contentLength bytes. `facts`
// (optional) receives what the response head said; it stays empty when no head was read or
// the call gave up on a server that did not answer.
HttpResult HttpGet(const HttpRequest& request, HttpSink& sink, HttpHeadFacts* facts = nullptr);

// The Windows client library's defaults, which both backends apply unless a test shortens them.
// The receive limit bounds each wait for data; the head, connection included, must be in
// within both limits together, however its bytes trickle in.
constexpr std::uint32_t kDefaultConnectTimeoutMs = 60000;
constexpr std::uint32_t kDefaultReceiveTimeoutMs = 30000;

// The slowest body a transfer accepts: one that brings fewer than kProgressFloorBytes in
// kProgressWindowMs of waiting for the network ends as a stall mid-body does (kReadFailed), so
// that a server sending a few bytes a second, which never leaves a gap as long as the receive
// limit, cannot hold a run for ever. About 17 bytes a second: the slowest links still in use
// move far more (a 9.6 kbit/s mobile data call about 1.2 KB/s, a 56k modem about 5 KB/s), so
// even such a link passes a window in which retransmissions after losses (their waits double,
// up to tens of seconds) took most of the minute. The window is twice the receive limit, so
// a server that goes quiet is still reported by that limit first.
constexpr std::uint32_t kProgressFloorBytes = 1024;
constexpr std::uint32_t kProgressWindowMs = 60000;

}  // namespace repair::platform
