// The progress window in a terminal, for the Linux program.
//
// Two ways to show it, chosen when it is created:
// - screen: standard output is a terminal. The window fills the alternate screen: a title
//   bar, the four-column list, the status line and a text progress bar. Each change redraws
//   only the lines that differ, in one write. Message boxes are framed prompts over the list,
//   answered with y/n or Enter. The terminal (modes, cursor, screen) is restored when the
//   window goes away, before another program is started on it, and on a crash.
// - plain: anything else (a file, a pipe). One line per status change (the animated dots
//   left out), one line per file as its check or download completes, and each message box's
//   text as it stands. A question ends in "[y/N]" and is answered with a line: on the
//   terminal when standard input is one (standard output was redirected from a shell),
//   otherwise from standard input, as a script gives it.
//
// Besides WindowControls it gives the POSIX message loop what it waits on: the window's
// timers, the EndRun wake-up, the keyboard and the signals that close the window.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui/window_controls.h"

namespace repair {

// Text fitting for the screen, free of I/O. Widths count code points: a valid UTF-8 sequence
// is one column; bytes that are not valid UTF-8, and control characters (C0, DEL, C1), become
// '?' so that no text from a file, a server or the string table can steer the terminal.
namespace terminal {

std::string Sanitize(const std::string& text);
std::size_t DisplayWidth(const std::string& sanitized);
// The first `width` columns of `sanitized`, padded with spaces to exactly `width`.
std::string FitLeft(const std::string& sanitized, std::size_t width);
// As FitLeft, but a text that is too long keeps its end behind "...": the end of a path
// names the file.
std::string FitTail(const std::string& sanitized, std::size_t width);
// `sanitized` cut into lines of at most `width` columns, at spaces where there are any.
std::vector<std::string> WrapText(const std::string& sanitized, std::size_t width);
// The status text without its animated trailing full stops.
std::string WithoutTrailingDots(const std::string& text);
// "Caption: text", the text unchanged; each line feed in it starts a new line, indented to
// where the text starts. A line feed at the very end adds no line.
std::vector<std::string> PlainBoxLines(const char* caption, const char* text);

}  // namespace terminal

struct TerminalOptions {
  int outputFd = 1;
  int inputFd = 0;
  bool screen = false;    // draw the window in place (output is a terminal)
  bool keyboard = false;  // raw keys from inputFd (input is a terminal too)
  int columns = 0;        // a fixed size; 0 asks the terminal (TIOCGWINSZ, SIGWINCH)
  int rows = 0;
  bool catchSignals = true;  // SIGINT, SIGTERM, SIGHUP close the window; SIGWINCH resizes
  // Plain output: the terminal a question is put and answered on, opened when one is asked
  // ("/dev/tty" when standard input is a terminal). Empty, or not to be opened: the question
  // goes to the output only and the answer comes from inputFd.
  std::string questionTerminal;

  // What the standard streams call for.
  static TerminalOptions ForStandardStreams();
};

class TerminalWindow final : public WindowControls {
 public:
  using Clock = std::chrono::steady_clock;

  // Null when the window's pipes cannot be made. The calling thread becomes the UI thread.
  static std::unique_ptr<TerminalWindow> Create(const TerminalOptions& options,
                                                const WindowTexts& texts);
  ~TerminalWindow() override;
  TerminalWindow(const TerminalWindow&) = delete;
  TerminalWindow& operator=(const TerminalWindow&) = delete;

  // WindowControls.
  bool HasList() const override { return true; }
  bool HasStatus() const override { return true; }
  bool HasProgress() const override { return true; }
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
  void EndRun() override;

  // For the message loop, on the UI thread.
  // While the loop runs, EndRun from another thread waits until TakeEndRequest has taken it;
  // outside it (before, or once the run has ended) such a call returns at once.
  void SetLoopRunning(bool running);
  // True once per EndRun; releases a waiting caller.
  bool TakeEndRequest();
  // The timer due first, if its deadline has passed; it is re-armed with its interval, as
  // window timers repeat until killed.
  bool PopDueTimer(Clock::time_point now, int& id);
  // Milliseconds until the next deadline (rounded up), or -1 without timers.
  int MillisecondsUntilNextTimer(Clock::time_point now) const;
  int WakeFd() const { return wakeRead_; }
  int SignalFd() const { return signalRead_; }
  int KeyboardFd() const { return options_.keyboard ? options_.inputFd : -1; }
  // Reads what is waiting on SignalFd / KeyboardFd; a resize is redrawn at once. Ctrl-C
  // closes the window at once; q asks first (a question box, answered y or n).
  void HandleSignals();
  void HandleKeyboard();
  // The user asked to close the window (q confirmed, Ctrl-C, SIGINT, SIGTERM, SIGHUP), also
  // from inside a message box.
  bool CloseRequested() const { return closeRequested_; }

  // Gives the terminal back (modes, cursor, main screen) before another program uses it,
  // and leaves the outcome in its scroll-back; later output is plain. Idempotent.
  void ReleaseTerminal();

  // The screen as it would be drawn now (text only, one string per line), for the tests.
  std::vector<std::string> ScreenText() const;
  bool IsScreen() const { return screen_; }

 private:
  struct Row {
    std::array<std::string, 4> cells;
    bool reported = false;  // plain output: its completion line was printed
  };
  struct Timer {
    Clock::time_point deadline;
    std::chrono::milliseconds interval;
  };
  struct Box {
    std::string caption;
    std::string text;
    MessageBoxKind kind;
  };
  struct Line {
    std::string text;  // exactly `columns` wide
    int style = 0;
    std::size_t boxFrom = 0;  // bytes of `text` covered by a message box, drawn unstyled
    std::size_t boxTo = 0;
  };

  TerminalWindow(const TerminalOptions& options, const WindowTexts& texts);
  bool Open();
  void InstallSignalHandlers();
  void TakeTerminal();

  std::vector<Line> Compose() const;
  void OverlayBox(std::vector<Line>& lines) const;
  static std::string Render(const Line& line);
  void Draw();
  void InvalidateScreen();
  void UpdateSize();
  void ClampScroll();
  int ListHeight() const;
  void WritePlain(const std::string& line);
  void ReportRowIfDone(int row);
  void WidenNumberColumn(const std::string& number);
  MessageBoxAnswer AskOnScreen(MessageBoxKind kind);
  MessageBoxAnswer AskPlain(const std::vector<std::string>& question);
  MessageBoxAnswer AskForLine(int inputFd, MessageBoxKind kind);
  bool ConfirmStop();

  TerminalOptions options_;
  bool screen_ = false;  // drawing now (false once the terminal is released)
  std::thread::id uiThread_;

  std::string title_;
  std::array<std::string, 4> headers_;
  std::string confirmStop_;
  std::string confirmCaption_;
  std::vector<Row> rows_;
  std::string status_;
  std::string lastPlainStatus_;
  bool plainStatusShown_ = false;
  int position_ = 0;
  bool listRedraw_ = true;
  bool listDirty_ = false;
  int scrollTop_ = 0;
  int visibleRow_ = -1;
  int numberWidth_;  // columns of "#" and the row numbers: grows, never shrinks
  std::unique_ptr<Box> box_;
  std::vector<std::string> boxTranscript_;

  int columns_ = 80;
  int rowsOnScreen_ = 24;
  std::vector<std::string> shown_;  // the lines on the terminal, as written
  bool clearFirst_ = true;

  std::map<int, Timer> timers_;

  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  int signalRead_ = -1;
  int signalWrite_ = -1;
  bool signalsInstalled_ = false;
  bool terminalTaken_ = false;
  bool closeRequested_ = false;

  std::mutex endMutex_;
  std::condition_variable endTaken_;
  bool endRequested_ = false;
  bool loopRunning_ = false;
};

}  // namespace repair
