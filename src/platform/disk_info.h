// What the engine asks of the volume a path lies on: how much may still be written there, and
// whether it is a disk whose heads seek, where two readers at once are slower than one.
#pragma once

#include <cstdint>

namespace repair::platform {

// The bytes the calling process may still write on the volume that holds `path`, an existing
// file or folder (quotas and the space kept for the system's administrator left out). False
// when the system cannot tell.
bool FreeDiskBytes(const char* path, std::uint64_t& bytes);

enum class DiskKind {
  kUnknown,     // the system does not say (a network share, a virtual or layered file system)
  kSolidState,  // no seek penalty: reads at several places at once cost no more than in turn
  kRotational,  // a spinning disk: every switch between two streams costs a seek
};

// The kind of disk under the volume that holds `path` (an existing file or folder). On Linux
// the block device's queue/rotational flag in sysfs, a partition read from its whole disk; on
// Windows the volume's seek-penalty property.
DiskKind DiskKindOf(const char* path);

}  // namespace repair::platform
