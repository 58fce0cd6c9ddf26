// The recovery run: version, manifest, check, download into the cache, replace.
#pragma once

#include <cstdint>

#include "engine/version_mode.h"

namespace repair {

// The version group of the run context, handed to the run as one.
struct VersionChoice {
  VersionMode versionMode = VersionMode::Current;
  std::int32_t major = 0;
  std::int32_t minor = 0;
};

// Runs one recovery on the calling (worker) thread, reporting only through the global
// recovery state. True when the run reached Finished. A second call while a run is active
// returns false and changes nothing. `caFile` (optional) names the operator's CA certificates
// for every request of the run (see FetchUrl).
bool RunRecovery(const char* baseFolder, const char* remotePath, const char* versionFileName,
                 const char* manifestFileName, const char* ownFileName,
                 const VersionChoice* version, const char* caFile = nullptr);

// The local path of a manifest name: the base folder (ending with its separator) and the
// name, whose backslashes become the platform's separator. False when it exceeds 259 chars.
bool BuildLocalPath(char* out, const char* baseFolder, const char* name);

}  // namespace repair
