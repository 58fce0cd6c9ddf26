// What the Linux host's tests reach besides its interface: where the instance lock file goes
// and how the chained program's parameters become its arguments. Only tests include this
// header; posix_host.cpp defines it.
#pragma once

#include <string>
#include <vector>

namespace repair {

class PosixHostTestHelper {
 public:
  // The lock file's path in /tmp, "NAME-UID.lock", for when $XDG_RUNTIME_DIR is not usable.
  static std::string FallbackLockPath(const char* name);

  // The arguments LaunchProgram gives the chained program for `parameters`.
  static std::vector<std::string> SplitParameters(const char* parameters);
};

}  // namespace repair
