// The Linux client's answer to "does this machine have a network connection for this URL?",
// asked before any request. A machine whose only way out is a proxy on loopback (a filtering
// or tunnelling proxy, a sandbox) is connected for every URL that proxy carries; a server on
// loopback needs no network at all.
#pragma once

#include <functional>
#include <string>

namespace repair::platform {

// Reads one environment variable: its value, or null when it is not set.
using EnvLookup = std::function<const char*(const char*)>;

// The host of an http(s) URL, an IPv6 literal with its brackets; empty when there is none.
std::string UrlHost(const char* url);

// "localhost", 127.0.0.0/8 or [::1].
bool IsLoopbackHost(const std::string& host);

// True when some interface other than loopback is up and running (or they cannot be listed).
bool AnyInterfaceUp();

// True when `host` (as in a URL, an IPv6 literal in brackets) is one that the no_proxy list
// `list` exempts from proxies, by libcurl's rules: "*" alone exempts every host; otherwise the
// comma- or space-separated entries are host names, matching the host itself or as a domain
// suffix (a leading dot ignored, case ignored), or IP addresses, matching exactly or, with a
// "/bits" suffix, as a network.
bool NoProxyCovers(const std::string& host, const std::string& list);

// The proxy that libcurl takes from the environment for `url`, or empty when the request goes
// straight to the server: none when no_proxy (else NO_PROXY) covers the host; otherwise
// <scheme>_proxy in lower case, then, except for http (whose upper-case name a CGI request
// header can set), in upper case, then all_proxy, then ALL_PROXY. The first of those that is
// set decides, an empty one meaning no proxy.
std::string ProxyForUrl(const char* url, const EnvLookup& env);

// The host of a proxy setting ("host:port", "scheme://user@host:port/" and the like).
std::string ProxyHost(const std::string& proxy);

// The network check: the URL's host is on loopback, or the proxy that applies to it is, or some
// interface other than loopback is up and running.
bool HasNetworkFor(const char* url, const EnvLookup& env);

}  // namespace repair::platform
