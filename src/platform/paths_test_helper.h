// What the path module's tests reach besides its interface: the local-path functions under
// either system's rules, so that both can be tested on one. Only tests include this header;
// paths.cpp defines it.
#pragma once

#include "platform/paths.h"

namespace repair::platform {

class PathsTestHelper {
 public:
  // SplitPath and SplitFolder by Windows rules (`windowsRules`: a drive, both slash kinds) or
  // by the others ('/' alone, a leading dot part of the name), the path read in `codePage`.
  static bool SplitPath(const char* path, PathParts& parts, bool windowsRules,
                        CodePage codePage = kBytesOnly);
  static bool SplitFolder(const char* path, PathFolder& folder, bool windowsRules,
                          CodePage codePage = kBytesOnly);

  // BuildLocalPath for a system whose separator is `separator`.
  static bool BuildLocalPath(char* out, const char* baseFolder, const char* name, char separator);
};

}  // namespace repair::platform
