// What one recovery run is asked to do: which client, which build, where its releases lie.
#pragma once

#include <cstdint>
#include <string>

#include "engine/version_mode.h"

namespace repair {

// Files downloaded at once unless the string file says otherwise, and the most it may say:
// each transfer holds about 3 MiB of buffers, so the most stays well within the memory bound.
constexpr std::uint32_t kDefaultDownloadsAtOnce = 8;
constexpr std::uint32_t kMaxDownloadsAtOnce = 16;

// The inputs of a run, complete before the run starts and only read by it. Paths and names
// longer than 259 characters are not cut here: every path the run forms from them is checked
// against its 260-byte buffer where it is formed, and one that does not fit ends the run.
struct RecoveryRequest {
  std::string baseFolder;        // the client folder, ending with its separator
  std::string remotePath;        // the remote folder template, with $MAJORVER$ and $MINORVER$
  std::string versionFileName;   // the local version file, relative to baseFolder
  std::string manifestFileName;  // the manifest's name in the remote folder
  std::string ownFileName;       // the running tool's file name in baseFolder: never replaced
  std::string caFile;            // CA certificates trusted for https besides the system's; or empty
  std::string runLogPath;        // where the run writes its log (below baseFolder); or empty
  // Files downloaded at once, 1 to kMaxDownloadsAtOnce; 0: the default.
  std::uint32_t maxDownloads = 0;
  VersionMode versionMode = VersionMode::Current;
  std::int32_t major = 0;  // read in Explicit mode only
  std::int32_t minor = 0;
};

}  // namespace repair
