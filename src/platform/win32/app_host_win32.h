// The program's host on Windows: a named mutex for the single instance, OLE around the chained
// launch, the progress window, a PeekMessage loop that hands the main window's timers to the
// caller, CreateThread for the worker and ShellExecuteEx for the chained program.
#pragma once

#include <windows.h>

#include <memory>

#include "app/app_host.h"
#include "platform/win32/main_window_win32.h"

namespace repair::platform {

class Win32AppHost : public AppHost {
 public:
  explicit Win32AppHost(HINSTANCE instance) : instance_(instance) {}
  ~Win32AppHost() override;
  Win32AppHost(const Win32AppHost&) = delete;
  Win32AppHost& operator=(const Win32AppHost&) = delete;

  bool AcquireInstance(const char* name) override;
  void ReleaseInstance() override;
  void InitializeShell() override;
  void ShutdownShell() override;
  WindowControls* CreateMainWindow(const WindowTexts& texts) override;
  bool RunMessageLoop(const std::function<void(int)>& onTimer) override;
  bool StartThread(void (*entry)(void*), void* parameter) override;
  void LaunchProgram(const char* path, const char* parameters) override;
  void CloseStreams() override;
  void Sleep(std::uint32_t milliseconds) override;

  // The main window, or null before CreateMainWindow.
  Win32WindowControls* window() const { return window_.get(); }

 private:
  HINSTANCE instance_;
  HANDLE instanceMutex_ = nullptr;
  std::unique_ptr<Win32WindowControls> window_;
};

}  // namespace repair::platform
