#include "platform/disk_info.h"

#include <windows.h>
#include <winioctl.h>

#include <cstring>

#include "platform/disk_info_os.h"
#include "platform/win32/scoped_handle.h"

namespace repair::platform {

bool SystemFreeDiskBytes(const char* path, std::uint64_t& bytes) {
  bytes = 0;
  // The first figure is what this user may write (quotas applied), not the volume's total.
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExA(path, &available, nullptr, nullptr)) return false;
  bytes = available.QuadPart;
  return true;
}

DiskKind DiskKindOf(const char* path) {
  // "C:\" or a mounted folder's volume: the volume's device is "\\.\C:" for a drive letter.
  char volume[MAX_PATH] = {};
  if (!GetVolumePathNameA(path, volume, sizeof volume)) return DiskKind::kUnknown;
  const std::size_t length = std::strlen(volume);
  if (length != 3 || volume[1] != ':' || volume[2] != '\\') return DiskKind::kUnknown;
  char device[] = "\\\\.\\X:";
  device[4] = volume[0];
  // No access rights are needed to ask for a property: an unelevated process may ask too.
  ScopedHandle handle(CreateFileA(device, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  if (!handle) return DiskKind::kUnknown;
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceSeekPenaltyProperty;
  query.QueryType = PropertyStandardQuery;
  DEVICE_SEEK_PENALTY_DESCRIPTOR penalty{};
  DWORD returned = 0;
  if (!DeviceIoControl(handle.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &penalty,
                       sizeof penalty, &returned, nullptr) ||
      returned < sizeof penalty) {
    return DiskKind::kUnknown;
  }
  return penalty.IncursSeekPenalty ? DiskKind::kRotational : DiskKind::kSolidState;
}

}  // namespace repair::platform
