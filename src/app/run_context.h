// The run context: what start-up hands the worker, written once before it exists.
#pragma once

#include <cstdint>

#include "app/command_line.h"
#include "engine/recovery_request.h"
#include "ui/window_controls.h"

namespace repair {

struct RecoveryContext {
  WindowControls* window = nullptr;  // the main window
  // What the worker hands the run whole: baseFolder is the executable's folder with its
  // separator, ownFileName its name and extension, remotePath kSysRemotePath, versionFileName
  // kSysLocalVerFName, manifestFileName kSysFileHashFName, caFile kSysCaFile (a relative path
  // put after baseFolder; empty: none), runLogPath kSysRunLog (a safe relative name put after
  // baseFolder; anything else: no log) and the version choice of the command line.
  RecoveryRequest request;
  std::uint8_t quiet = 0;
};

// Fills `context` from the running executable's path, the loaded string table and `options`.
// Returns false when the executable's path cannot be read or split into the fields.
bool FillRunContext(WindowControls* window, const CommandLineOptions& options,
                    RecoveryContext& context);

}  // namespace repair
