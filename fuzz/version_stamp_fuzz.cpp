// Fuzzes the version file decoder: any bytes as a version file. A refused file must leave the
// stamp as it was, and only the two sealed sizes can be accepted.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "engine/version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > std::numeric_limits<std::uint32_t>::max()) return 0;
  repair::VersionStamp stamp{-5, -6, -7, -8};
  const bool ok = repair::DecodeVersionStamp(data, static_cast<std::uint32_t>(size), stamp);
  if (ok && size != repair::kVersionFileShort && size != repair::kVersionFileLong) std::abort();
  if (!ok && (stamp.major != -5 || stamp.minor != -6 || stamp.third != -7 || stamp.fourth != -8)) {
    std::abort();
  }
  if (ok && size == repair::kVersionFileShort && stamp.fourth != 0) std::abort();
  return 0;
}
