#include "app/run_context.h"

#include <string>

#include "app/run_context_test_helper.h"
#include "platform/path_split.h"
#include "platform/process_info.h"
#include "strings/string_keys.h"

namespace repair {
namespace {

// A path that names its own start: from a root (/etc/ssl/ca.pem, \\server\share\ca.pem) or
// a drive (C:\ca.pem).
bool IsRootedPath(const std::string& path) {
  return (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
         (path.size() >= 2 && path[1] == ':');
}

// The part of FillRunContext that does not ask the system: `executablePath` is given.
// An executable path that cannot be split leaves a relative CA file as it is.
bool FillFromPath(WindowControls* window, const CommandLineOptions& options,
                  const char* executablePath, RecoveryContext& context) {
  context = RecoveryContext{};
  context.window = window;

  bool complete = false;
  platform::PathParts parts{};
  if (executablePath != nullptr && platform::SplitPath(executablePath, parts)) {
    complete = FormatPath(context.baseFolder, "%s%s", parts.drive, parts.folder);
    complete = FormatPath(context.ownFileName, "%s%s", parts.name, parts.ext) && complete;
  }

  // Every value the table can hold fits a path buffer.
  LookupTextInto(kSysLocalVerFName, context.versionFileName);
  LookupTextInto(kSysFileHashFName, context.manifestFileName);
  LookupTextInto(kSysRemotePath, context.remotePath);
  // Beside the program, like the string file, unless the setting says where it starts.
  std::string caFile;
  LookupText(kSysCaFile, caFile);
  context.caFile = caFile.empty() || IsRootedPath(caFile) ? caFile : context.baseFolder + caFile;

  // A rollback request beats an explicit version wherever it stands on the command line.
  if (options.rollback) {
    context.versionMode = VersionMode::Rollback;
  } else if (options.explicitVersion) {
    context.versionMode = VersionMode::Explicit;
    context.major = options.major;
    context.minor = options.minor;
  } else {
    context.versionMode = VersionMode::Current;
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
