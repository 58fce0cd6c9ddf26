// The progress window on Windows: a fixed-size, centred frame with a four-column list view of
// the client files, a status line and a progress bar in a framed band beneath it. It is the
// only window of the program; its procedure answers WM_DESTROY with the quit request, so both
// closing the window and sending it WM_DESTROY end the message loop.
#pragma once

#include <windows.h>

#include <atomic>

#include "platform/win32/scoped_handle.h"
#include "ui/window_controls.h"

namespace repair {

constexpr char kMainWindowClass[] = "tovak_recovery";
constexpr int kMainWindowWidth = 450;  // outer size, caption and frame included
constexpr int kMainWindowHeight = 350;
constexpr int kBandHeight = 60;       // the framed band under the list
constexpr int kLargeIconGroup = 103;  // 64, 48 and 16 pixels
constexpr int kSmallIconGroup = 104;  // 16 pixels

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
  platform::ScopedGdiObject<HFONT> font;  // of the list and the status line
};

// Registers the class, creates the main window and its controls, shows and paints it. The
// window is null when it cannot be created, and then nothing else is; a child control that
// cannot be created leaves its handle null.
MainWindowHandles CreateMainWindow(HINSTANCE instance, const WindowTexts& texts);

// Where the window procedure of `window` reads whether the message loop has ended; null for
// a loop that never ends. Once it has, a WM_DESTROY posts no quit request: the end of run of a
// worker that the UI thread is joining must leave no quit behind for the outcome boxes.
void WatchLoopEnd(HWND window, const std::atomic<bool>* loopEnded);

// Brings the window to the user's attention before a message box: restores it when minimised,
// then, unless it is the foreground window already, borrows the foreground thread's input
// state to raise, focus and flash it.
void ActivateWindow(HWND window);

}  // namespace repair
