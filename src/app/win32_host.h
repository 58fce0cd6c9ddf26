// The program's host on Windows: a named mutex for the single instance, OLE around the chained
// launch, the progress window and its message loop, a thread for the worker and the shell's
// launch of the chained program. Each is reached through the window's code (ui/win32/) or a
// small platform module (platform/win32/); this layer sees no Win32 of its own.
#pragma once

#include <memory>

#include "app/app_host.h"
#include "platform/win32/instance_mutex.h"
#include "platform/win32/thread_start.h"
#include "ui/win32/main_window.h"

namespace repair {

class Win32AppHost : public AppHost {
 public:
  Win32AppHost() = default;
  ~Win32AppHost() override = default;
  Win32AppHost(const Win32AppHost&) = delete;
  Win32AppHost& operator=(const Win32AppHost&) = delete;

  bool AcquireInstance(const char* name) override;
  void ReleaseInstance() override;
  void InitializeShell() override;
  void ShutdownShell() override;
  WindowControls* CreateMainWindow(const WindowTexts& texts) override;
  bool RunMessageLoop(const std::function<void(int)>& onTimer) override;
  bool StartThread(void (*entry)(void*), void* parameter) override;
  // Delivers the messages the worker sends to the window meanwhile: its end of run is sent.
  void JoinWorker() override;
  void LaunchProgram(const char* path, const char* parameters) override;
  void CloseStreams() override;
  void Sleep(std::uint32_t milliseconds) override;

  // The main window, or null before CreateMainWindow.
  Win32Window* window() const { return window_.get(); }

 private:
  platform::InstanceMutex instanceMutex_;
  std::unique_ptr<Win32Window> window_;
  // Declared after the window, so that it goes first: a worker left unjoined (start-up's
  // early returns never start one) is not waited for.
  platform::WorkerThread worker_;
};

}  // namespace repair
