// The Linux program: the shell has split the command line already, so each argument is one
// token as it stands (`repair /quiet "/exec:/opt/my launcher/start" one "three four"`).
// The string file is repair.dat beside the executable's real path.
#include <signal.h>

#include <cstdio>
#include <cstring>

#include "app/lifecycle.h"
#include "app/posix_host.h"

namespace {

constexpr char kUsage[] =
    "usage: repair [/quiet] [/rollback | /version:MAJOR_MINOR] [/exec:PROGRAM] [ARG ...]\n"
    "Checks the client files in this program's folder against the release's manifest and\n"
    "repairs the damaged and missing ones. The settings come from repair.dat beside it.\n"
    "  /quiet               no question before the repair, no box after it\n"
    "  /rollback            repair towards the build before the installed one\n"
    "  /version:MAJOR_MINOR repair towards that build\n"
    "  /exec:PROGRAM        start PROGRAM at the end, with /recoverfail first after a\n"
    "                       failure, then every ARG\n"
    "Exit status:\n"
    "  0  the repair finished (nothing to do, or every file repaired)\n"
    "  1  it could not start: an unmatched quote, or repair.dat missing or unreadable\n"
    "  2  the repair failed (its message was shown)\n"
    "  3  the question was answered No\n"
    "  4  the window was closed (Ctrl-C, q, or a signal) before the repair ended\n"
    "  5  another copy of repair is running for this user\n"
    "  6  the window could not be made\n";

}  // namespace

int main(int argc, char** argv) {
  // Only as the first argument: later ones belong to the chained program.
  if (argc >= 2 && argv[1] != nullptr &&
      (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }

  // A closed pipe on standard output must not end a run half-way through moving files.
  ::signal(SIGPIPE, SIG_IGN);

  repair::TokenList tokens;
  for (int i = 1; i < argc; ++i) tokens.emplace_back(argv[i] != nullptr ? argv[i] : "");
  repair::ProgramArguments arguments;
  arguments.tokens = &tokens;

  repair::PosixAppHost host;
  repair::RecoveryContext context;
  const repair::RunOutcome outcome = repair::RunApplication(host, arguments, context);
  host.ReleaseTerminal();
  return repair::LinuxExitStatus(outcome);
}
