// Facts about the running process.
#pragma once

#include <cstddef>

namespace repair::platform {

// Writes the full path of the running executable into a buffer of `capacity` bytes.
// Returns false (buffer empty) when it cannot be found or does not fit.
// On Linux this is the executable's real path, with symbolic links resolved.
bool GetExecutablePath(char* buffer, std::size_t capacity);

}  // namespace repair::platform
