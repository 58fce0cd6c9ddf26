// The program from start-up to exit: the single instance, the command line, the string
// table, the window and its timers, the worker, the message loop, the outcome boxes, the
// chained launch and the cleanup. Written once over AppHost; the Windows and Linux entry
// points only build their host and their arguments.
#pragma once

#include "app/app_host.h"
#include "app/command_line.h"

namespace repair {

// Where the arguments come from. Windows hands over the raw argument text, which the tool's
// own quoting rules split (an unmatched quote ends start-up with exit code 1); on Linux the
// shell has split them already, and each argument is one token.
struct ProgramArguments {
  const char* text = nullptr;
  const TokenList* tokens = nullptr;
};

// Runs the whole program; returns its exit code (0 for every run that reached the message
// loop, whatever its outcome: the outcome goes to the user and the chained program).
int RunApplication(AppHost& host, const ProgramArguments& arguments);

}  // namespace repair
