#include "platform/win32/shell_launch.h"

#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include "platform/win32/scoped_handle.h"

namespace repair::platform {
namespace {

constexpr ULONG kLaunchMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
static_assert(kLaunchMask == 0x540, "process handle, synchronous start, no error dialogs");
#if !defined(_WIN64)
static_assert(sizeof(SHELLEXECUTEINFOA) == 60, "the 32-bit layout of the launch request");
#endif

}  // namespace

void InitializeShell() { OleInitialize(nullptr); }

void ShutdownShell() { OleUninitialize(); }

void ShellLaunch(const char* path, const char* parameters) {
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof(info);
  info.fMask = kLaunchMask;
  info.hwnd = nullptr;
  info.lpVerb = "open";
  info.lpFile = path;
  info.lpParameters = parameters != nullptr ? parameters : "";
  info.lpDirectory = nullptr;  // the program starts in our current folder
  info.nShow = SW_SHOW;
  ShellExecuteExA(&info);
  // Nobody waits for the program; its process handle is of no further use.
  ScopedHandle process(info.hProcess);
}

}  // namespace repair::platform
