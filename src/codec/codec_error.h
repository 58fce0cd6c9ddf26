// The codec's own access to its last error text. Not part of the codec's interface.
#pragma once

namespace repair::codec_internal {

// Replaces the last codec error text. Never throws: a text that cannot be stored (out of
// memory) leaves the previous one in place, since the text is diagnostic only.
void SetLastCodecError(const char* message) noexcept;

}  // namespace repair::codec_internal
