// Downloading one whole HTTP resource into memory.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/heap_buffer.h"
#include "engine/recovery_state.h"
#include "engine/status.h"
#include "platform/http_client.h"

namespace repair {

// GETs `url` once and returns its body in `buffer`, which is allocated here with exactly the
// response's Content-Length and released by the caller. The response must be a 200 with a
// non-zero Content-Length, and the body must deliver that many bytes; extra bytes are cut.
// `counter` (optional) is set to 0 first and raised by every piece as it arrives; another
// thread may read it meanwhile.
// Returns Ok with `size` = Content-Length. On failure `buffer` is empty, `size` 0, and the
// status names the URL, the HTTP status when a head was read, and a code: NetworkDisconnected
// (no connection), FailNetworkConnection (the HTTP client did not open), NotExistFile (no
// connection to the server, a status other than 200, redirects included, or no usable
// Content-Length), MemoryAllocation, Unknown (the available byte count could not be queried)
// or InvalidData (a read failed, the connection dropped, the server stalled, or the body ended
// short). `counter` keeps what it counted.
// `caFile` (optional) names the operator's CA certificates for https (HttpRequest::caFile);
// null or empty, the system's trusted certificates alone. A Content-Length over `maxLength`
// is refused with InvalidData before anything is allocated: what a server announces is no
// reason to reserve memory. A stop request (StopRequested) ends the transfer at its next
// piece: Stopped().
Status FetchUrl(const char* url, HeapBuffer& buffer, std::uint32_t& size,
                std::atomic<std::uint32_t>* counter, const char* caFile = nullptr,
                std::uint32_t maxLength = UINT32_MAX);

// The error code of a failed HTTP transfer, as FetchUrl gives it.
RecoveryError FetchErrorFor(platform::HttpResult result);

// The status of a failed transfer of `url`: FetchErrorFor's code, the HTTP status of the head
// when one was read, and what the client's result says in words.
Status TransferFailure(const char* url, platform::HttpResult result,
                       const platform::HttpHeadFacts& facts);

// Whether a failed transfer was turned away by the server rather than refused for what it
// asked: no answer at all (the connection refused, or closed before a status line; also what a
// failed name lookup or TLS handshake looks like), or a 503 (unavailable) or 429 (too many
// requests).
bool TurnedAway(platform::HttpResult result, const platform::HttpHeadFacts& facts);

}  // namespace repair
