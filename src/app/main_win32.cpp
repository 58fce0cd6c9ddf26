// The Windows entry point: the raw argument text goes unchanged to the tool's own splitting.
#include <windows.h>

#include "app/lifecycle.h"
#include "platform/win32/app_host_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR arguments, int /*show*/) {
  // After a declined question or a closed window the worker may still be running: it reads
  // the context and ends its run through the host's window. Both therefore live in this
  // frame, which is never left: the process ends below (which stops the worker first)
  // without unwinding it and without the static destructors, which would free the file list
  // under the worker.
  repair::platform::Win32AppHost host(instance);
  repair::RecoveryContext context;
  repair::ProgramArguments programArguments;
  programArguments.text = arguments;
  const int code = repair::RunApplication(host, programArguments, context);
  ExitProcess(static_cast<UINT>(code));
}
