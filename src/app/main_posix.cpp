// The Linux program: the shell has split the command line already, so each argument is one
// token as it stands (`repair /quiet "/exec:/opt/my launcher/start" one "three four"`).
// The string file is repair.dat beside the executable's real path.
#include <signal.h>

#include <cstdio>
#include <cstdlib>

#include "app/lifecycle.h"
#include "platform/posix/app_host_posix.h"

int main(int argc, char** argv) {
  // A closed pipe on standard output must not end a run half-way through moving files.
  ::signal(SIGPIPE, SIG_IGN);

  repair::TokenList tokens;
  for (int i = 1; i < argc; ++i) tokens.emplace_back(argv[i] != nullptr ? argv[i] : "");
  repair::ProgramArguments arguments;
  arguments.tokens = &tokens;

  int code = 0;
  {
    repair::PosixAppHost host;  // its window gives the terminal back when it goes
    code = repair::RunApplication(host, arguments);
  }
  // After a declined question or a closed window the worker may still be running: end the
  // process without the static destructors, which would free the file list under it.
  std::fflush(nullptr);
  std::_Exit(code);
}
