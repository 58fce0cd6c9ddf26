// The run context: what start-up hands the worker, written once before it exists.
#pragma once

#include <cstdint>
#include <string>

#include "app/command_line.h"
#include "common/format.h"
#include "engine/version_mode.h"
#include "ui/window_controls.h"

namespace repair {

struct RecoveryContext {
  WindowControls* window = nullptr;             // the main window
  char baseFolder[kPathBufferSize] = {};        // the executable's folder, with its separator
  char remotePath[kPathBufferSize] = {};        // kSysRemotePath
  char versionFileName[kPathBufferSize] = {};   // kSysLocalVerFName
  char manifestFileName[kPathBufferSize] = {};  // kSysFileHashFName
  char ownFileName[kPathBufferSize] = {};       // the executable's name and extension
  std::string caFile;  // kSysCaFile, a relative path put after baseFolder; empty: none
  VersionMode versionMode = VersionMode::Current;
  std::int32_t major = 0;
  std::int32_t minor = 0;
  std::uint8_t quiet = 0;
};

// Fills `context` from the running executable's path, the loaded string table and `options`.
// Returns false when the executable's path cannot be read or split into the fields.
bool FillRunContext(WindowControls* window, const CommandLineOptions& options,
                    RecoveryContext& context);

}  // namespace repair
