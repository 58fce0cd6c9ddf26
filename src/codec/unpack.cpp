// Unpacking raw LZMA streams (no size field) with the LZMA SDK's one-call decoder.

#include <cstdio>
#include <cstdlib>
#include <limits>

// The SDK's Types.h pulls in <windows.h> on Windows; keep it to the essentials.
#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#endif
#include <LzmaDec.h>

#include "codec/codec.h"
#include "codec/codec_error.h"

namespace repair {
namespace {

// lc 3, lp 0, pb 2 (0x5D) and a 65,536-byte dictionary, little-endian.
constexpr Byte kFixedProperties[LZMA_PROPS_SIZE] = {0x5D, 0x00, 0x00, 0x01, 0x00};

void* AllocateWithMalloc(void*, size_t size) { return std::malloc(size); }
void FreeWithFree(void*, void* address) { std::free(address); }

int Fail(SRes result, std::uint32_t* destinationLength) {
  *destinationLength = 0;
  char message[64];
  std::snprintf(message, sizeof message, "LZMA_UncompressBuffer : error code = %d",
                static_cast<int>(result));
  codec_internal::SetLastCodecError(message);
  return kCodecFailed;
}

}  // namespace

int UnpackLzma(const std::uint8_t* source, std::uint32_t sourceLength, std::uint8_t* destination,
               std::uint32_t* destinationLength, std::uint8_t propertiesFlag) {
  // The destination and its length are required; without them there is nothing to report
  // into, so they count as missing like the source.
  if (source == nullptr || sourceLength == 0 || destination == nullptr ||
      destinationLength == nullptr) {
    return kCodecMissingArgument;
  }

  const Byte* properties = kFixedProperties;
  const Byte* stream = source;
  std::uint32_t streamLength = sourceLength;
  if (propertiesFlag == 1) {
    // Fewer bytes than the properties need: the input ended early, as the decoder itself says
    // of a stream too short to start.
    if (sourceLength < LZMA_PROPS_SIZE) return Fail(SZ_ERROR_INPUT_EOF, destinationLength);
    properties = source;
    stream = source + LZMA_PROPS_SIZE;
    streamLength = sourceLength - LZMA_PROPS_SIZE;
  }

  static_assert(sizeof(SizeT) >= sizeof(std::uint32_t), "SizeT holds every 32-bit length");
  SizeT produced = *destinationLength;
  SizeT consumed = streamLength;
  ISzAlloc allocator = {AllocateWithMalloc, FreeWithFree};
  ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
  const SRes result = LzmaDecode(destination, &produced, stream, &consumed, properties,
                                 LZMA_PROPS_SIZE, LZMA_FINISH_END, &status, &allocator);
  if (result != SZ_OK) return Fail(result, destinationLength);

  // The decoder never produces more than the capacity it was given, which came from a 32-bit
  // count; checked all the same rather than narrowed blindly.
  if (produced > *destinationLength) return Fail(SZ_ERROR_FAIL, destinationLength);
  *destinationLength = static_cast<std::uint32_t>(produced);
  return kCodecOk;
}

}  // namespace repair
