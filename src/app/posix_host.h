// The Linux program's host: a lock file as the single-instance marker, the terminal window,
// a message loop on poll(), detached threads and a spawned chained program.
#pragma once

#include <memory>
#include <thread>

#include "app/app_host.h"
#include "platform/posix/instance_lock.h"
#include "ui/terminal/terminal_window.h"

namespace repair {

// The worker ends its run through the window: the host joins it (JoinWorker, or at the
// latest when the host goes) before the window goes.
class PosixAppHost final : public AppHost {
 public:
  explicit PosixAppHost(const TerminalOptions& options = TerminalOptions::ForStandardStreams());
  ~PosixAppHost() override;
  PosixAppHost(const PosixAppHost&) = delete;
  PosixAppHost& operator=(const PosixAppHost&) = delete;

  // The marker is an flock()ed file "NAME.lock" in $XDG_RUNTIME_DIR, or "NAME-UID.lock" in
  // /tmp when that is not set or not usable; it is held until ReleaseInstance or exit. Only
  // a lock held by another process answers false.
  bool AcquireInstance(const char* name) override;
  void ReleaseInstance() override;
  void InitializeShell() override {}
  void ShutdownShell() override {}
  WindowControls* CreateMainWindow(const WindowTexts& texts) override;
  // Waits on the window's timers, its EndRun wake-up, the keyboard (Ctrl-C closes the
  // window, q asks whether to) and SIGINT, SIGTERM, SIGHUP (close it too).
  bool RunMessageLoop(const std::function<void(int)>& onTimer) override;
  bool StartThread(void (*entry)(void*), void* parameter) override;
  void JoinWorker() override;
  // The parameters are split by the tool's own quoting rules, so "\"three four\"" arrives as
  // one argument. An unmatched quote, which those rules refuse, keeps the arguments before it
  // and makes the rest one argument: a leading "/recoverfail" must reach the program whatever
  // follows it. A name without a slash is looked for in the current folder first, then on
  // PATH. The terminal is given back to the program first. Nobody waits for it.
  void LaunchProgram(const char* path, const char* parameters) override;
  // Flushes every C stream. Nothing is closed: standard output still carries the last
  // lines, and there is no portable way to close only the streams the program opened.
  void CloseStreams() override;
  void Sleep(std::uint32_t milliseconds) override;

  // Gives the terminal back (modes, cursor, main screen) and leaves the outcome in its
  // scroll-back, as destroying the window would, but keeps the window: an end of run that
  // comes later still finds it, and then does nothing. Idempotent.
  void ReleaseTerminal();

 private:
  TerminalOptions options_;
  std::unique_ptr<TerminalWindow> window_;
  platform::InstanceLock lock_;
  std::thread worker_;
};

}  // namespace repair
