// The Windows entry point: the raw argument text goes unchanged to the tool's own splitting.
#include <windows.h>

#include "app/lifecycle.h"
#include "platform/win32/app_host_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR arguments, int /*show*/) {
  repair::platform::Win32AppHost host(instance);
  repair::ProgramArguments programArguments;
  programArguments.text = arguments;
  const int code = repair::RunApplication(host, programArguments);
  // After a declined question or a closed window the worker may still be running: end the
  // process (which stops it first) without the static destructors, which would free the file
  // list under it.
  ExitProcess(static_cast<UINT>(code));
}
