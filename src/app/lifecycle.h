// The program from start-up to exit: the single instance, the command line, the string
// table, the window and its timers, the worker, the message loop, the outcome boxes, the
// chained launch and the cleanup. Written once over AppHost; the Windows and Linux entry
// points only build their host and their arguments.
#pragma once

#include "app/app_host.h"
#include "app/command_line.h"
#include "app/run_context.h"
#include "app/run_outcome.h"

namespace repair {

// Where the arguments come from. Windows hands over the raw argument text, which the tool's
// own quoting rules split (an unmatched quote ends start-up: kStartFailed); on Linux the
// shell has split them already, and each argument is one token.
struct ProgramArguments {
  const char* text = nullptr;
  const TokenList* tokens = nullptr;
};

// Runs the whole program; returns how it ended, which each entry point turns into its exit
// code (WindowsExitCode, LinuxExitStatus). The worker, if one was started, has returned
// before this does: once the message loop has ended, the run is asked to stop and joined
// before the outcome is read.
RunOutcome RunApplication(AppHost& host, const ProgramArguments& arguments,
                          RecoveryContext& context);

}  // namespace repair
