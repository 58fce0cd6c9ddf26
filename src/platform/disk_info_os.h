// The operating system's own answer to FreeDiskBytes, which each OS folder writes; the portable
// FreeDiskBytes asks it unless a test has set the figure.
#pragma once

#include <cstdint>

namespace repair::platform {

bool SystemFreeDiskBytes(const char* path, std::uint64_t& bytes);

}  // namespace repair::platform
