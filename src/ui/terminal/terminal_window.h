// The progress window in a terminal, for the Linux program.
//
// Two ways to show it, chosen when it is created:
// - screen: standard output is a terminal. The window fills the alternate screen: a title
//   bar, the four-column list, the status line and a text progress bar (layout.h). Each
//   change redraws only the lines that differ, in one write (screen_writer.h). Message boxes
//   are framed prompts over the list, answered with y/n or Enter. The terminal (modes,
//   cursor, screen) is restored when the window goes away, before another program is started
//   on it, and on a crash.
// - plain: anything else (a file, a pipe): lines of text (plain_output.h). A question ends in
//   "[y/N]" and is answered with a line: on the terminal when standard input is one
//   (standard output was redirected from a shell), otherwise from standard input, as a script
//   gives it.
//
// Besides WindowControls it gives the POSIX message loop what it waits on: the window's
// timers, the EndRun wake-up, the keyboard and the signals that close the window.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/tty.h"
#include "ui/terminal/end_run_gate.h"
#include "ui/terminal/layout.h"
#include "ui/terminal/plain_output.h"
#include "ui/terminal/prompt.h"
#include "ui/terminal/screen_writer.h"
#include "ui/terminal/timer_queue.h"
#include "ui/window_controls.h"

namespace repair {

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
  using Clock = terminal::TimerQueue::Clock;

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
  void ShowFailureDetail(const char* detail) override;
  void EndRun() override;

  // For the message loop, on the UI thread.
  // While the loop runs, EndRun from another thread waits until TakeEndRequest has taken it;
  // outside it (before, or once the run has ended) such a call returns at once.
  void SetLoopRunning(bool running) { endGate_.SetLoopRunning(running); }
  // True once per EndRun; releases a waiting caller.
  bool TakeEndRequest() { return endGate_.TakeEndRequest(); }
  // The timer due first, if its deadline has passed; it is re-armed with its interval, as
  // window timers repeat until killed.
  bool PopDueTimer(Clock::time_point now, int& id) { return timers_.PopDue(now, id); }
  // Milliseconds until the next deadline (rounded up), or -1 without timers.
  int MillisecondsUntilNextTimer(Clock::time_point now) const {
    return timers_.MillisecondsUntilNext(now);
  }
  int WakeFd() const { return endGate_.WakeFd(); }
  int SignalFd() const { return signals_.ReadFd(); }
  int KeyboardFd() const { return keyboard_ ? options_.inputFd : -1; }
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

 private:
  friend class TerminalWindowTestHelper;  // reads the screen's text (terminal_window_test_helper.h)

  TerminalWindow(const TerminalOptions& options, const WindowTexts& texts);
  bool Open();

  void SetKeyboard(bool on);
  void Changed();  // draws now, or once the list's redraw is back on
  void Draw();
  void UpdateSize();
  void ClampScroll();
  void ReportRowIfDone(std::size_t row);
  terminal::AnswerSource Answers();
  void Apply(const terminal::Answer& answer);
  MessageBoxAnswer AskOnScreen(const char* text, const char* caption, MessageBoxKind kind);
  MessageBoxAnswer AskPlain(std::vector<std::string> question);
  bool ConfirmStop();

  TerminalOptions options_;
  bool screen_ = false;    // drawing now (false once the terminal is released)
  bool keyboard_ = false;  // raw keys from options_.inputFd
  std::string confirmStop_;
  std::string confirmCaption_;

  terminal::ScreenContent content_;
  std::vector<bool> reported_;  // plain output: the row's completion line was printed
  bool listRedraw_ = true;
  bool listDirty_ = false;
  int visibleRow_ = -1;
  std::vector<std::string> boxTranscript_;

  terminal::ScreenWriter writer_;
  terminal::PlainOutput plain_;
  terminal::TimerQueue timers_;
  terminal::EndRunGate endGate_;
  platform::SignalPipe signals_;
  platform::TerminalModes modes_;
  bool closeRequested_ = false;
};

}  // namespace repair
