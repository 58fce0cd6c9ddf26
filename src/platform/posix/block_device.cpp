#include "platform/posix/block_device.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/posix/file_descriptor.h"

namespace repair::platform {
namespace {

// A sysfs attribute is a few bytes; anything longer is not the flag.
constexpr std::size_t kMaxAttribute = 64;

bool ReadAttribute(const std::string& path, std::string& text) {
  text.clear();
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return false;
  char buffer[kMaxAttribute + 1];
  const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
  if (got < 0 || static_cast<std::size_t>(got) > kMaxAttribute) return false;
  text.assign(buffer, static_cast<std::size_t>(got));
  return true;
}

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace

DiskKind ParseRotationalFlag(const std::string& text) {
  if (text == "1" || text == "1\n") return DiskKind::kRotational;
  if (text == "0" || text == "0\n") return DiskKind::kSolidState;
  return DiskKind::kUnknown;
}

DiskKind RotationalKindOf(const std::string& sysRoot, unsigned major, unsigned minor) {
  if (major == 0) return DiskKind::kUnknown;
  const std::string link =
      sysRoot + "/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
  char resolved[PATH_MAX];
  if (::realpath(link.c_str(), resolved) == nullptr) return DiskKind::kUnknown;
  std::string device = resolved;
  if (Exists(device + "/partition")) {
    const std::size_t slash = device.rfind('/');
    if (slash == std::string::npos || slash == 0) return DiskKind::kUnknown;
    device.resize(slash);
  }
  std::string text;
  if (!ReadAttribute(device + "/queue/rotational", text)) return DiskKind::kUnknown;
  return ParseRotationalFlag(text);
}

}  // namespace repair::platform
