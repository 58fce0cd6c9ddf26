#include "app/run_context.h"

#include <string>

#include "app/run_context_test_helper.h"
#include "common/format.h"
#include "engine/manifest.h"
#include "platform/paths.h"
#include "platform/process_info.h"
#include "strings/string_keys.h"

namespace repair {
namespace {

// The setting's number of downloads at once: digits alone, surrounding blanks allowed, 1 to
// the most; anything else (empty, 0, a word, a sign) is no choice and leaves the default.
std::uint32_t DownloadsAtOnce(const std::string& setting) {
  const std::size_t first = setting.find_first_not_of(" \t");
  const std::size_t last = setting.find_last_not_of(" \t");
  if (first == std::string::npos) return kDefaultDownloadsAtOnce;
  std::uint32_t value = 0;
  for (std::size_t i = first; i <= last; ++i) {
    const char c = setting[i];
    if (c < '0' || c > '9') return kDefaultDownloadsAtOnce;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
    if (value > kMaxDownloadsAtOnce) return kMaxDownloadsAtOnce;
  }
  return value == 0 ? kDefaultDownloadsAtOnce : value;
}

// The part of FillRunContext that does not ask the system: `executablePath` is given.
// An executable path that cannot be split leaves a relative CA file as it is.
bool FillFromPath(WindowControls* window, const CommandLineOptions& options,
                  const char* executablePath, RecoveryContext& context) {
  context = RecoveryContext{};
  context.window = window;
  RecoveryRequest& request = context.request;

  // Both parts are formed in path buffers: a folder or a name that does not fit stays empty.
  bool complete = false;
  platform::PathParts parts{};
  if (executablePath != nullptr && platform::SplitPath(executablePath, parts)) {
    char text[kPathBufferSize];
    complete = FormatPath(text, "%s%s", parts.drive, parts.folder);
    request.baseFolder = text;
    complete = FormatPath(text, "%s%s", parts.name, parts.ext) && complete;
    request.ownFileName = text;
  }

  // The table holds no value over 255 bytes: each of these fits a path buffer.
  LookupText(kSysLocalVerFName, request.versionFileName);
  LookupText(kSysFileHashFName, request.manifestFileName);
  LookupText(kSysRemotePath, request.remotePath);
  // Beside the program, like the string file, unless the setting says where it starts.
  std::string caFile;
  LookupText(kSysCaFile, caFile);
  request.caFile =
      caFile.empty() || platform::IsRootedPath(caFile) ? caFile : request.baseFolder + caFile;

  // The log is written by a program that may run elevated, from a name in a file any user may
  // change: only a plain name below the program's folder is taken, and the run makes it as it
  // makes a cache file, through no link. Anything else leaves the log off.
  std::string runLog;
  LookupText(kSysRunLog, runLog);
  if (!runLog.empty() && !request.baseFolder.empty() && IsSafeRelativeName(runLog)) {
    char path[kPathBufferSize];
    if (platform::BuildLocalPath(path, request.baseFolder.c_str(), runLog.c_str())) {
      request.runLogPath = path;
    }
  }

  std::string downloads;
  LookupText(kSysMaxDownloads, downloads);
  request.maxDownloads = DownloadsAtOnce(downloads);

  // A rollback request beats an explicit version wherever it stands on the command line.
  if (options.rollback) {
    request.versionMode = VersionMode::Rollback;
  } else if (options.explicitVersion) {
    request.versionMode = VersionMode::Explicit;
    request.major = options.major;
    request.minor = options.minor;
  } else {
    request.versionMode = VersionMode::Current;
  }
  context.quiet = options.quiet ? 1 : 0;
  return complete;
}

}  // namespace

bool FillRunContext(WindowControls* window, const CommandLineOptions& options,
                    RecoveryContext& context) {
  char executablePath[kPathBufferSize] = {};
  if (!platform::GetExecutablePath(executablePath, sizeof(executablePath))) return false;
  return FillFromPath(window, options, executablePath, context);
}

bool RunContextTestHelper::FillFromPath(WindowControls* window, const CommandLineOptions& options,
                                        const char* executablePath, RecoveryContext& context) {
  return repair::FillFromPath(window, options, executablePath, context);
}

}  // namespace repair
