// Linux's description of a block device in sysfs: whether the disk under a file system spins.
#pragma once

#include <string>

#include "platform/disk_info.h"

namespace repair::platform {

// The kind a queue/rotational file's text names: "1" rotational, "0" solid state (a trailing
// line feed allowed); anything else unknown.
DiskKind ParseRotationalFlag(const std::string& text);

// The kind of the block device MAJOR:MINOR as the sysfs tree at `sysRoot` ("/sys") describes
// it: /dev/block/MAJOR:MINOR resolved to the device's folder; a partition (a folder with a
// "partition" file) read from its disk, the folder above; then that folder's queue/rotational.
// A device-mapper or software RAID volume has a queue of its own, which its driver fills from
// the disks below. kUnknown when any step is missing (major 0: a file system with no block
// device of its own, such as tmpfs, overlay or a btrfs subvolume).
DiskKind RotationalKindOf(const std::string& sysRoot, unsigned major, unsigned minor);

}  // namespace repair::platform
