// Knobs of the HTTP client that exist for tests alone; the product never includes this.
#pragma once

#include <cstdint>

namespace repair::platform {

// Forces the answer of the network-connection check (1 connected, 0 not), or restores the
// real check (-1). On Linux the real check is "some interface other than loopback is up and
// running, or the URL's host, or the proxy that applies to the URL, is a loopback address".
void ForceNetworkState(int state);

// The limits after which a connection attempt or a silent server counts as a failure. 0
// restores that limit's default. Applies to requests started afterwards.
void SetHttpTimeouts(std::uint32_t connectMs, std::uint32_t receiveMs);

// The progress floor's knob is in progress_floor_test_hooks.h.

}  // namespace repair::platform
