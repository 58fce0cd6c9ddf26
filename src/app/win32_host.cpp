#include "app/win32_host.h"

#include <cstdio>

#include "platform/file_system.h"
#include "platform/win32/shell_launch.h"
#include "platform/win32/thread_start.h"
#include "ui/win32/message_loop.h"

namespace repair {

bool Win32AppHost::AcquireInstance(const char* name) { return instanceMutex_.Acquire(name); }

void Win32AppHost::ReleaseInstance() { instanceMutex_.Release(); }

void Win32AppHost::InitializeShell() { platform::InitializeShell(); }

void Win32AppHost::ShutdownShell() { platform::ShutdownShell(); }

WindowControls* Win32AppHost::CreateMainWindow(const WindowTexts& texts) {
  window_ = Win32Window::Create(texts);
  return window_.get();
}

bool Win32AppHost::RunMessageLoop(const std::function<void(int)>& onTimer) {
  if (window_ == nullptr) return true;  // no window, no loop: as if it had been closed
  return repair::RunMessageLoop(*window_, onTimer);
}

bool Win32AppHost::StartThread(void (*entry)(void*), void* parameter) {
  return worker_.Start(entry, parameter);
}

void Win32AppHost::JoinWorker() { worker_.Join(); }

void Win32AppHost::LaunchProgram(const char* path, const char* parameters) {
  platform::ShellLaunch(path, parameters);
}

void Win32AppHost::CloseStreams() { _fcloseall(); }

void Win32AppHost::Sleep(std::uint32_t milliseconds) { platform::SleepMs(milliseconds); }

}  // namespace repair
