// The client's version file: a sealed stamp of three or four little-endian 32-bit words.
#pragma once

#include <cstdint>
#include <vector>

namespace repair::publish {

struct VersionWords {
  std::int32_t major = 0;
  std::int32_t minor = 0;
  std::int32_t third = 0;
  std::int32_t fourth = 0;
  bool hasFourth = false;  // 16-byte form; otherwise the 12-byte form
};

// The plaintext of a version file: 12 bytes, or 16 with the fourth word.
std::vector<std::uint8_t> EncodeVersionPlaintext(const VersionWords& words);

}  // namespace repair::publish
