// Which build a run repairs towards.
#pragma once

#include <cstdint>

namespace repair {

// Current: the version file's build. Rollback: the build before it (minor - 1).
// Explicit: the numbers given on the command line; the version file is not read.
enum class VersionMode : std::int32_t { Current = 0, Rollback = 1, Explicit = 2 };

}  // namespace repair
