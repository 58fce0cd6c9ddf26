// Knobs of the disk queries that exist for tests alone; the product never includes this.
#pragma once

#include <cstdint>

namespace repair::platform {

// Makes FreeDiskBytes answer `bytes` for every path, or restores the real query (-1).
void ForceFreeDiskBytes(std::int64_t bytes);

}  // namespace repair::platform
