// The Linux program: the shell has split the command line already, so each argument is one
// token as it stands (`repair /quiet "/exec:/opt/my launcher/start" one "three four"`).
// The string file is repair.dat beside the executable's real path.
#include <signal.h>

#include <cstdio>
#include <cstdlib>

#include "app/lifecycle.h"
#include "app/posix_host.h"

int main(int argc, char** argv) {
  // A closed pipe on standard output must not end a run half-way through moving files.
  ::signal(SIGPIPE, SIG_IGN);

  repair::TokenList tokens;
  for (int i = 1; i < argc; ++i) tokens.emplace_back(argv[i] != nullptr ? argv[i] : "");
  repair::ProgramArguments arguments;
  arguments.tokens = &tokens;

  // After a declined question or a closed window the worker may still be running: it reads
  // the context and ends its run through the host's window. Both therefore live in this
  // frame, which is never left: the process ends below without unwinding it and without the
  // static destructors, which would free the file list under the worker.
  repair::PosixAppHost host;
  repair::RecoveryContext context;
  const int code = repair::RunApplication(host, arguments, context);
  host.ReleaseTerminal();  // the window stays, so a late end of run still finds it
  std::fflush(nullptr);
  std::_Exit(code);
}
