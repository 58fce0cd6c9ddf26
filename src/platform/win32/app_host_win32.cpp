#include "platform/win32/app_host_win32.h"

#include <shellapi.h>
#include <ole2.h>

#include <cstdio>

namespace repair::platform {
namespace {

constexpr ULONG kLaunchMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
static_assert(kLaunchMask == 0x540, "process handle, synchronous start, no error dialogs");
#if !defined(_WIN64)
static_assert(sizeof(SHELLEXECUTEINFOA) == 60, "the 32-bit layout of the launch request");
#endif

struct ThreadStart {
  void (*entry)(void*);
  void* parameter;
};

DWORD WINAPI ThreadMain(LPVOID raw) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(raw));
  start->entry(start->parameter);
  return 0;
}

}  // namespace

Win32AppHost::~Win32AppHost() { ReleaseInstance(); }

bool Win32AppHost::AcquireInstance(const char* name) {
  ReleaseInstance();
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  // Read at once: any later call may overwrite the last error.
  const DWORD error = GetLastError();
  if (mutex != nullptr && error == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);  // the other copy's handle keeps the name alive
    return false;
  }
  // Without a mutex the tool still runs: it only loses the guard against a second copy.
  instanceMutex_ = mutex;
  return true;
}

void Win32AppHost::ReleaseInstance() {
  if (instanceMutex_ != nullptr) {
    CloseHandle(instanceMutex_);
    instanceMutex_ = nullptr;
  }
}

void Win32AppHost::InitializeShell() { OleInitialize(nullptr); }

void Win32AppHost::ShutdownShell() { OleUninitialize(); }

WindowControls* Win32AppHost::CreateMainWindow(const WindowTexts& texts) {
  window_ = Win32WindowControls::Create(instance_, texts);
  return window_.get();
}

bool Win32AppHost::RunMessageLoop(const std::function<void(int)>& onTimer) {
  if (window_ == nullptr) return true;  // no window, no loop: as if it had been closed
  HWND main = window_->window();
  MSG message{};
  for (;;) {
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::Sleep(10);
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
    // The timers have no procedure of their own: the loop acts on them after dispatching.
    if (message.message == WM_TIMER && message.hwnd == main && onTimer) {
      onTimer(static_cast<int>(message.wParam));
    }
    if (message.message == WM_QUIT) break;
  }
  window_->MarkLoopEnded();
  // WM_DESTROY sent to end the run leaves the window in place; closing it destroys it.
  return !IsWindow(main);
}

bool Win32AppHost::StartThread(void (*entry)(void*), void* parameter) {
  auto start = std::make_unique<ThreadStart>(ThreadStart{entry, parameter});
  HANDLE thread = CreateThread(nullptr, 0, ThreadMain, start.get(), CREATE_SUSPENDED, nullptr);
  if (thread == nullptr) return false;
  start.release();  // the thread owns it now
  ResumeThread(thread);
  // The handle served only to resume the thread. It stays open: nobody waits for the thread,
  // and the process ends with the thread wherever it is.
  return true;
}

void Win32AppHost::LaunchProgram(const char* path, const char* parameters) {
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof(info);
  info.fMask = kLaunchMask;
  info.hwnd = nullptr;
  info.lpVerb = "open";
  info.lpFile = path;
  info.lpParameters = parameters != nullptr ? parameters : "";
  info.lpDirectory = nullptr;  // the chained program starts in our current folder
  info.nShow = SW_SHOW;
  ShellExecuteExA(&info);
  // Nobody waits for the chained program; its process handle is of no further use.
  if (info.hProcess != nullptr) CloseHandle(info.hProcess);
}

void Win32AppHost::CloseStreams() { _fcloseall(); }

void Win32AppHost::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace repair::platform
