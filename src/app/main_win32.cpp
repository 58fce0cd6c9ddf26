// The Windows entry point. The program defines main, not WinMain: the mingw start-up calls
// main in a GUI-subsystem program as well, and the raw argument text comes from the system's
// command line, unchanged, to the tool's own splitting.
#include "app/lifecycle.h"
#include "app/win32_host.h"
#include "platform/win32/program_entry.h"

int main() {
  // After a declined question or a closed window the worker may still be running: it reads
  // the context and ends its run through the host's window. Both therefore live in this
  // frame, which is never left: the process ends below (which stops the worker first)
  // without unwinding it and without the static destructors, which would free the file list
  // under the worker.
  repair::Win32AppHost host;
  repair::RecoveryContext context;
  repair::ProgramArguments programArguments;
  programArguments.text = repair::platform::ArgumentText();
  const repair::RunOutcome outcome = repair::RunApplication(host, programArguments, context);
  repair::platform::ExitProgram(repair::WindowsExitCode(outcome));
}
