// What the run context's tests reach besides its interface. Only tests include this header;
// run_context.cpp defines it.
#pragma once

#include "app/command_line.h"
#include "app/run_context.h"
#include "ui/window_controls.h"

namespace repair {

class RunContextTestHelper {
 public:
  // FillRunContext with the executable's path given instead of asked of the system. A path
  // that cannot be split leaves a relative CA file as it is.
  static bool FillFromPath(WindowControls* window, const CommandLineOptions& options,
                           const char* executablePath, RecoveryContext& context);
};

}  // namespace repair
