// The Windows entry point. The program defines main, not WinMain: the mingw start-up calls
// main in a GUI-subsystem program as well, and the raw argument text comes from the system's
// command line, unchanged, to the tool's own splitting.
#include "app/lifecycle.h"
#include "app/win32_host.h"
#include "platform/win32/program_entry.h"

int main() {
  // The process ends below at once: a fetch thread that the system's HTTP client keeps in a
  // call that does not return (a server gone quiet, once a stopped transfer has left it)
  // ends with it.
  repair::Win32AppHost host;
  repair::RecoveryContext context;
  repair::ProgramArguments programArguments;
  programArguments.text = repair::platform::ArgumentText();
  const repair::RunOutcome outcome = repair::RunApplication(host, programArguments, context);
  repair::platform::ExitProgram(repair::WindowsExitCode(outcome));
}
