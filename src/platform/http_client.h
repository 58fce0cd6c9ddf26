// One HTTP GET of a whole resource: WinINet on Windows, libcurl elsewhere, set up alike.
// The request carries the agent "tovak:recovery:1.0", always goes to the server (no cached
// copy, nothing stored in a cache), keeps its connection for the next request, follows no
// redirect, and sends and stores no cookies. The system's proxy settings apply.
#pragma once

#include <cstdint>

namespace repair::platform {

enum class HttpResult {
  kOk,
  kNoNetwork,      // the machine has no network connection
  kSessionFailed,  // the client library could not be opened
  kOpenFailed,     // name lookup, connection or request failed, or the server stalled
  kBadStatus,      // no readable status, or a status other than 200 (redirects included)
  kNoLength,       // no readable Content-Length, or Content-Length 0
  kNoMemory,       // the sink refused the declared length
  kQueryFailed,    // asking for the available byte count failed
  kReadFailed,     // a read failed, the connection dropped, or the server stalled mid-body
  kShortBody,      // the body ended before its declared length
};

// Receives the body. Begin is called once with the declared Content-Length (never 0) before
// any data; Data is called with consecutive pieces, never more than the declared length in all.
// Data may be called on the calling thread only, from inside HttpGet.
class HttpSink {
 public:
  virtual ~HttpSink() = default;
  virtual bool Begin(std::uint32_t contentLength) = 0;  // false: no room (kNoMemory)
  virtual void Data(const std::uint8_t* bytes, std::uint32_t count) = 0;
};

// Fetches `url` (http:// or https://) into `sink`. A body longer than its Content-Length is
// cut at that length; kOk means the sink received exactly the declared length.
HttpResult HttpGet(const char* url, HttpSink& sink);

// For tests: force the answer of the network-connection check (1 connected, 0 not), or
// restore the real check (-1). On Linux the real check is "some interface other than
// loopback is up and running, or the URL's host is a loopback address".
void ForceNetworkState(int state);

// The Windows client library's defaults, which both backends apply unless a test shortens them.
constexpr std::uint32_t kDefaultConnectTimeoutMs = 60000;
constexpr std::uint32_t kDefaultReceiveTimeoutMs = 30000;

// For tests: the limits after which a connection attempt or a silent server counts as a
// failure. 0 restores that limit's default. Applies to requests started afterwards.
void SetHttpTimeouts(std::uint32_t connectMs, std::uint32_t receiveMs);

}  // namespace repair::platform
