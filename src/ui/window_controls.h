// The progress window as the portable code sees it: the list, the status line, the progress
// bar, the window's timers and its message boxes. The Windows program implements it with the
// real window and common controls, the Linux program with a terminal, and the tests with a
// recording fake. All calls come from the UI thread, except EndRun (see there).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace repair {

enum class MessageBoxKind {
  kYesNoQuestion,  // MB_YESNO | MB_ICONQUESTION
  kOkError,        // MB_OK | MB_ICONERROR
  kOkInformation,  // MB_OK | MB_ICONINFORMATION
};

enum class MessageBoxAnswer { kYes, kNo, kOk };

// The window's two timers.
constexpr int kStartWorkerTimer = 100;  // fires once, 2000 ms after start-up
constexpr int kRefreshTimer = 101;      // 0 ms at start-up, then 500 ms after each refresh

// The texts a window shows of itself, looked up before it is created (LookupWindowTexts):
// the windows read no string file of their own.
struct WindowTexts {
  std::string title;
  std::array<std::string, 4> columns;  // "#", file name, size, progress
  // Asked by a window that offers a key of its own to stop the run (the terminal's q).
  std::string confirmStop;
  std::string confirmCaption;
};

class WindowControls {
 public:
  virtual ~WindowControls() = default;

  // Which controls exist: one whose creation failed is left out by the refresh.
  virtual bool HasList() const = 0;
  virtual bool HasStatus() const = 0;
  virtual bool HasProgress() const = 0;

  // The list: four columns, "#", file name, size, progress (sub-items 0 to 3).
  // Inserts row `row` with `firstCell` as its sub-item 0.
  virtual void InsertRow(int row, const char* firstCell) = 0;
  // Sets one cell; a null text leaves the cell empty. A row that does not exist is ignored.
  virtual void SetCell(int row, int subItem, const char* text) = 0;
  // Reads one cell into `buffer` (`capacity` bytes with the terminator). For a row that does
  // not exist the buffer is left as it is.
  virtual void GetCell(int row, int subItem, char* buffer, std::size_t capacity) = 0;
  virtual void SetListRedraw(bool on) = 0;
  // Scrolls the whole row into view; an index that is no row (-1 included) is ignored.
  virtual void EnsureVisible(int row) = 0;

  virtual void SetStatusText(const char* text) = 0;
  // Position in the bar's range of 0 to 1000; larger values show a full bar.
  virtual void SetProgressPosition(int position) = 0;

  // Timers of the window; their firing reaches the message loop's timer handler.
  virtual void SetTimer(int id, std::uint32_t milliseconds) = 0;
  virtual void KillTimer(int id) = 0;

  // Brings the window to the user's attention (restored, foreground, flashed).
  virtual void Activate() = 0;
  // A modal box owned by the window; returns the button chosen (kNo for a box closed without
  // an answer to a question).
  virtual MessageBoxAnswer ShowMessageBox(const char* text, const char* caption,
                                          MessageBoxKind kind) = 0;

  // The detail of a failure the error box just reported ("fetch http://host/a.dat: HTTP status
  // 404"), for the player's support. A window whose boxes keep their texts ignores it; the
  // terminal window prints it under the error text.
  virtual void ShowFailureDetail(const char* detail) { (void)detail; }

  // Ends the message loop, as sending the window WM_DESTROY does: the window stays on screen
  // with its last state. May be called from the worker thread; returns only once the UI
  // thread has taken the request, as a sent message does. Once the loop has ended, the UI
  // thread joining the worker takes it (or it returns at once) and nothing else follows.
  virtual void EndRun() = 0;
};

}  // namespace repair
