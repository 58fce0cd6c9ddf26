// Fuzzes LZMA unpacking with the manifest's fixed properties. The first two input bytes give
// the destination capacity (little-endian, up to 64 KiB), the rest is the stream. The
// destination is exactly that large on the heap, so that any write past it is caught.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>

#include "codec/codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || size - 2 > std::numeric_limits<std::uint32_t>::max()) return 0;
  const std::uint32_t capacity = static_cast<std::uint32_t>(data[0] | data[1] << 8);
  const std::uint8_t* stream = data + 2;
  const auto streamLength = static_cast<std::uint32_t>(size - 2);

  std::unique_ptr<std::uint8_t[]> destination(new std::uint8_t[capacity]);
  std::uint32_t produced = capacity;
  const int result = repair::UnpackLzma(stream, streamLength, destination.get(), &produced, 0);
  switch (result) {
    case repair::kCodecOk:
      if (produced > capacity) std::abort();
      break;
    case repair::kCodecFailed:
      if (produced != 0) std::abort();
      break;
    case repair::kCodecMissingArgument:
      if (streamLength != 0 || produced != capacity) std::abort();
      break;
    default: std::abort();
  }
  return 0;
}
