// The progress window on Windows behind the portable interface: the main window with its list
// view, status line and progress bar (window_setup.h), their handles held until the process
// ends. The header leaves Win32 out, so that the host can hold the window without it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "ui/window_controls.h"

namespace repair {

struct MainWindowHandles;  // ui/win32/window_setup.h

class Win32Window : public WindowControls {
 public:
  // Creates and shows the window, with the program's own icons. Null when the main window
  // cannot be created.
  static std::unique_ptr<Win32Window> Create(const WindowTexts& texts);
  // The window and its font stay until the process ends, unless the user closed (destroyed)
  // the window, in which case the font goes with this object.
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  const MainWindowHandles& handles() const { return *handles_; }
  // False once the user has closed the window.
  bool IsOpen() const;

  bool HasList() const override;
  bool HasStatus() const override;
  bool HasProgress() const override;

  void InsertRow(int row, const char* firstCell) override;
  void SetCell(int row, int subItem, const char* text) override;
  void GetCell(int row, int subItem, char* buffer, std::size_t capacity) override;
  void SetListRedraw(bool on) override;
  void EnsureVisible(int row) override;
  void SetStatusText(const char* text) override;
  void SetProgressPosition(int position) override;
  void SetTimer(int id, std::uint32_t milliseconds) override;
  void KillTimer(int id) override;
  void Activate() override;
  MessageBoxAnswer ShowMessageBox(const char* text, const char* caption,
                                  MessageBoxKind kind) override;
  // Once the message loop has ended, does nothing: nobody takes the request any more.
  void EndRun() override;

  // Called on the UI thread when the message loop has ended. From then on the end of a run
  // is dropped, by EndRun and by the window procedure alike, so that the worker's end of run,
  // taken while the UI thread joins it, leaves no quit request to cut short an outcome box.
  void MarkLoopEnded() { loopEnded_.store(true); }
  bool LoopEnded() const { return loopEnded_.load(); }

 private:
  explicit Win32Window(std::unique_ptr<MainWindowHandles> handles);

  std::unique_ptr<MainWindowHandles> handles_;
  std::atomic<bool> loopEnded_{false};
};

}  // namespace repair
