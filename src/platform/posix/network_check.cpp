#include "platform/posix/network_check.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace repair::platform {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The host part of an authority ("user@host:port"), an IPv6 literal with its brackets.
std::string AuthorityHost(std::string authority) {
  std::size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  if (!authority.empty() && authority[0] == '[') {
    std::size_t close = authority.find(']');
    return close == std::string::npos ? std::string() : authority.substr(0, close + 1);
  }
  return authority.substr(0, authority.find(':'));
}

// True when the first `bits` bits of the two addresses of `length` bytes agree.
bool PrefixMatches(const unsigned char* a, const unsigned char* b, std::size_t length,
                   unsigned bits) {
  for (std::size_t i = 0; i < length && bits > 0; ++i) {
    unsigned take = bits >= 8 ? 8 : bits;
    auto mask = static_cast<unsigned char>(0xFF << (8 - take));
    if ((a[i] & mask) != (b[i] & mask)) return false;
    bits -= take;
  }
  return true;
}

// An address entry of a no_proxy list ("10.0.0.1", "10.0.0.0/8", "::1", "fe80::/10") against
// the host's address of the same family; no bits, or all of them, is an exact match.
bool AddressEntryMatches(int family, const void* host, std::string entry) {
  const std::size_t length = family == AF_INET ? 4 : 16;
  unsigned bits = static_cast<unsigned>(length * 8);
  std::size_t slash = entry.find('/');
  if (slash != std::string::npos) {
    const std::string digits = entry.substr(slash + 1);
    if (digits.empty() || digits.size() > 3 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
    unsigned asked = static_cast<unsigned>(std::atoi(digits.c_str()));
    if (asked > bits) return false;
    if (asked != 0) bits = asked;
    entry.erase(slash);
  }
  if (!entry.empty() && entry.front() == '[' && entry.back() == ']') {
    entry = entry.substr(1, entry.size() - 2);
  }
  unsigned char address[16] = {};
  if (inet_pton(family, entry.c_str(), address) != 1) return false;
  return PrefixMatches(static_cast<const unsigned char*>(host), address, length, bits);
}

bool NameEntryMatches(const std::string& host, std::string entry) {
  if (!entry.empty() && entry[0] == '.') entry.erase(0, 1);
  if (entry.empty() || entry.size() > host.size()) return false;
  if (entry.size() == host.size()) return strcasecmp(entry.c_str(), host.c_str()) == 0;
  // A domain suffix must start at a label.
  std::size_t start = host.size() - entry.size();
  return host[start - 1] == '.' && strcasecmp(entry.c_str(), host.c_str() + start) == 0;
}

}  // namespace

std::string UrlHost(const char* url) {
  const char* start = std::strstr(url, "://");
  if (start == nullptr) return {};
  start += 3;
  return AuthorityHost(std::string(start, std::strcspn(start, "/?#")));
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

bool NoProxyCovers(const std::string& host, const std::string& list) {
  if (list.empty() || host.empty()) return false;
  if (list == "*") return true;
  std::string bare = host;
  if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']') {
    bare = bare.substr(1, bare.size() - 2);
  }
  unsigned char address[16] = {};
  int family = 0;
  if (inet_pton(AF_INET, bare.c_str(), address) == 1) {
    family = AF_INET;
  } else if (inet_pton(AF_INET6, bare.c_str(), address) == 1) {
    family = AF_INET6;
  }
  const char* separators = ", \t";
  std::size_t position = 0;
  while ((position = list.find_first_not_of(separators, position)) != std::string::npos) {
    std::size_t end = list.find_first_of(separators, position);
    std::string entry = list.substr(position, end - position);
    position = end;
    bool match =
        family != 0 ? AddressEntryMatches(family, address, entry) : NameEntryMatches(bare, entry);
    if (match) return true;
  }
  return false;
}

std::string ProxyForUrl(const char* url, const EnvLookup& env) {
  const char* separator = std::strstr(url, "://");
  if (separator == nullptr) return {};
  const std::string scheme = Lower(std::string(url, separator));
  const char* noProxy = env("no_proxy");
  if (noProxy == nullptr) noProxy = env("NO_PROXY");
  if (noProxy != nullptr && NoProxyCovers(UrlHost(url), noProxy)) return {};

  const std::string name = scheme + "_proxy";
  const char* proxy = env(name.c_str());
  if (proxy == nullptr && scheme != "http") {
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    proxy = env(upper.c_str());
  }
  if (proxy == nullptr) proxy = env("all_proxy");
  if (proxy == nullptr) proxy = env("ALL_PROXY");
  return proxy == nullptr ? std::string() : std::string(proxy);
}

std::string ProxyHost(const std::string& proxy) {
  std::size_t start = proxy.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  std::size_t end = proxy.find_first_of("/?#", start);
  return AuthorityHost(proxy.substr(start, end == std::string::npos ? end : end - start));
}

bool HasNetworkFor(const char* url, const EnvLookup& env) {
  if (IsLoopbackHost(UrlHost(url))) return true;
  const std::string proxy = ProxyForUrl(url, env);
  if (!proxy.empty() && IsLoopbackHost(ProxyHost(proxy))) return true;
  return AnyInterfaceUp();
}

}  // namespace repair::platform
