#include "engine/url.h"

#include <cstddef>
#include <string_view>

#include "common/format.h"
#include "platform/paths.h"

namespace repair {
namespace {

// Bytes that would end the path, start a query or fragment, or be read as an escape if they
// went into a request line as they are.
bool NeedsEscape(unsigned char byte) {
  return byte <= 0x20 || byte >= 0x7F || byte == '%' || byte == '#' || byte == '?' || byte == '"';
}

// Encodes `name` into `out` of `capacity` bytes; false when it does not fit. Separators become
// '/'; a slash byte that is part of a double-byte character is escaped like any other byte.
bool EncodeName(char* out, std::size_t capacity, const char* name) {
  static const char kHex[] = "0123456789ABCDEF";
  const std::string_view text(name);
  const platform::NameRules rules = platform::HostManifestRules();
  std::size_t separator = platform::NextSeparator(text, 0, rules);
  std::size_t length = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(text[i]);
    bool escape = NeedsEscape(byte);
    if (i == separator) {
      byte = '/';
      separator = platform::NextSeparator(text, i + 1, rules);
    } else if (byte == '\\' || byte == '/') {
      escape = true;
    }
    if (escape) {
      if (length + 3 >= capacity) return false;
      out[length++] = '%';
      out[length++] = kHex[byte >> 4];
      out[length++] = kHex[byte & 0x0F];
    } else {
      if (length + 1 >= capacity) return false;
      out[length++] = static_cast<char>(byte);
    }
  }
  out[length] = '\0';
  return true;
}

}  // namespace

bool BuildFileUrl(char* out, const char* remotePath, const char* name) {
  out[0] = '\0';
  if (remotePath == nullptr || name == nullptr) return false;
  char encoded[kPathBufferSize];
  if (!EncodeName(encoded, sizeof encoded, name)) return false;
  return FormatPath(out, "%s/%s", remotePath, encoded);
}

}  // namespace repair
