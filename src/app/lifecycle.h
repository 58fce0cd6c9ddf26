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
// code (WindowsExitCode, LinuxExitStatus).
//
// The worker is never joined: after a declined question or a closed window it is still
// running when this returns, reading `context` and ending its run through the host's window.
// So `host` and `context` must live until the process exits: the entry point keeps them in
// its own frame and ends the process without ever leaving it.
RunOutcome RunApplication(AppHost& host, const ProgramArguments& arguments,
                          RecoveryContext& context);

}  // namespace repair
