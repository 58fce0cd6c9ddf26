// The progress window on Windows: a fixed-size, centred frame with a four-column list view of
// the client files, a status line and a progress bar in a framed band beneath it. It is the
// only window of the program; its procedure answers WM_DESTROY with the quit request, so both
// closing the window and sending it WM_DESTROY end the message loop.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

#include "ui/window_controls.h"

namespace repair::platform {

constexpr char kMainWindowClass[] = "tovak_recovery";
constexpr int kMainWindowWidth = 450;   // outer size, caption and frame included
constexpr int kMainWindowHeight = 350;
constexpr int kBandHeight = 60;         // the framed band under the list
constexpr int kLargeIconGroup = 103;    // 64, 48 and 16 pixels
constexpr int kSmallIconGroup = 104;    // 16 pixels

// The left or top edge that centres `size` pixels on `screen` pixels: the difference halved
// towards minus infinity, so a screen narrower than the window gives a negative edge.
constexpr int CentredEdge(int screen, int size) {
  const int difference = screen - size;
  return difference >= 0 ? difference / 2 : -((1 - difference) / 2);
}

struct MainWindowHandles {
  HWND window = nullptr;
  HWND list = nullptr;    // the list view
  HWND status = nullptr;  // the status line
  HWND progress = nullptr;
  HFONT font = nullptr;   // of the list and the status line
};

// Registers the class, creates the main window and its controls, shows and paints it. The
// window is null when it cannot be created, and then nothing else is; a child control that
// cannot be created leaves its handle null.
MainWindowHandles CreateMainWindow(HINSTANCE instance, const WindowTexts& texts);

// Brings the window to the user's attention before a message box: restores it when minimised,
// then, unless it is the foreground window already, borrows the foreground thread's input
// state to raise, focus and flash it.
void ActivateWindow(HWND window);

// The main window with its controls behind the portable interface. The host keeps it until
// the process ends; the window and its font stay until then unless the window was destroyed
// (closed by the user), in which case the font goes with this object.
class Win32WindowControls : public WindowControls {
 public:
  // Null when the main window cannot be created.
  static std::unique_ptr<Win32WindowControls> Create(HINSTANCE instance,
                                                     const WindowTexts& texts);
  ~Win32WindowControls() override;
  Win32WindowControls(const Win32WindowControls&) = delete;
  Win32WindowControls& operator=(const Win32WindowControls&) = delete;

  HWND window() const { return handles_.window; }
  HWND list() const { return handles_.list; }
  HWND status() const { return handles_.status; }
  HWND progress() const { return handles_.progress; }

  bool HasList() const override { return handles_.list != nullptr; }
  bool HasStatus() const override { return handles_.status != nullptr; }
  bool HasProgress() const override { return handles_.progress != nullptr; }

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

  // Called by the host on the UI thread when its message loop has ended. From then on the
  // end of a run is dropped, by EndRun and by the window procedure alike, so that a worker
  // that ends late can neither cut short an outcome box with a quit request nor reach a
  // window that is gone.
  void MarkLoopEnded() { loopEnded_.store(true); }
  bool LoopEnded() const { return loopEnded_.load(); }

 private:
  explicit Win32WindowControls(const MainWindowHandles& handles) : handles_(handles) {}

  MainWindowHandles handles_;
  std::atomic<bool> loopEnded_{false};
};

}  // namespace repair::platform
