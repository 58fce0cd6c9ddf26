// The platform's side of the program as start-up and the end of run see it: the single
// instance, the shell, the main window, the message loop, the worker thread and the chained
// launch. Implemented with Win32 in the Windows program and with POSIX and a terminal in the
// Linux program; tests drive start-up through a fake.
#pragma once

#include <cstdint>
#include <functional>

#include "ui/window_controls.h"

namespace repair {

class AppHost {
 public:
  virtual ~AppHost() = default;

  // Takes the system-wide instance marker `name`. False when another copy holds it (the
  // caller then exits at once); any other outcome, a failure to create it included, is true.
  virtual bool AcquireInstance(const char* name) = 0;
  virtual void ReleaseInstance() = 0;

  // What the chained launch needs around it (OLE on Windows); results are ignored.
  virtual void InitializeShell() = 0;
  virtual void ShutdownShell() = 0;

  // Creates and shows the main window with its controls and `texts`; null when the window
  // cannot be created. The host owns it until the process ends.
  virtual WindowControls* CreateMainWindow(const WindowTexts& texts) = 0;

  // Runs the message loop until the run ends (EndRun) or the user closes the window. For
  // every timer of the main window that fires, calls onTimer(id) after the message has been
  // dispatched. Returns true when the user closed the window (it no longer exists).
  virtual bool RunMessageLoop(const std::function<void(int)>& onTimer) = 0;

  // Starts entry(parameter) on the host's worker thread. False when no thread could be
  // created, or one started before has not been joined yet.
  virtual bool StartThread(void (*entry)(void*), void* parameter) = 0;
  // Waits until the thread StartThread started has returned; at once when there is none.
  // Called on the UI thread once the message loop has ended: an EndRun that the thread makes
  // meanwhile must not wait for the loop.
  virtual void JoinWorker() = 0;

  // Starts `path` with `parameters` (the tool's own quoting rules) and does not wait.
  // Failures are not reported.
  virtual void LaunchProgram(const char* path, const char* parameters) = 0;

  // Closes every C library stream still open.
  virtual void CloseStreams() = 0;

  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

}  // namespace repair
