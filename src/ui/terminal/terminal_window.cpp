#include "ui/terminal/terminal_window.h"

#include <algorithm>
#include <cstring>

#include "platform/posix/fd_io.h"
#include "ui/terminal/text_fit.h"

namespace repair {
namespace {

constexpr char kCtrlC = 0x03;

bool ValidCell(std::size_t rows, int row, int subItem) {
  return row >= 0 && static_cast<std::size_t>(row) < rows && subItem >= 0 && subItem <= 3;
}

}  // namespace

TerminalOptions TerminalOptions::ForStandardStreams() {
  TerminalOptions options;
  options.screen = platform::IsTerminal(options.outputFd);
  const bool interactive = platform::IsTerminal(options.inputFd);
  options.keyboard = options.screen && interactive;
  if (!options.screen && interactive) options.questionTerminal = "/dev/tty";
  return options;
}

std::unique_ptr<TerminalWindow> TerminalWindow::Create(const TerminalOptions& options,
                                                       const WindowTexts& texts) {
  std::unique_ptr<TerminalWindow> window(new TerminalWindow(options, texts));
  if (!window->Open()) return nullptr;
  return window;
}

TerminalWindow::TerminalWindow(const TerminalOptions& options, const WindowTexts& texts)
    : options_(options),
      confirmStop_(texts.confirmStop),
      confirmCaption_(texts.confirmCaption),
      writer_(options.outputFd),
      plain_(options.outputFd) {
  content_.title = terminal::Sanitize(texts.title);
  for (std::size_t i = 0; i < content_.headers.size(); ++i) {
    content_.headers[i] = terminal::Sanitize(texts.columns[i]);
  }
}

bool TerminalWindow::Open() {
  if (!endGate_.Open() || !signals_.Open(options_.catchSignals)) return false;
  if (!options_.screen) return true;
  // Raw keys, the alternate screen, no cursor, no line wrap; and what undoes it if the
  // process ends without the destructor (exit, a crash).
  screen_ = true;
  modes_.Take(options_.outputFd, options_.inputFd, options_.keyboard, signals_.Listening());
  SetKeyboard(modes_.RawKeys());
  UpdateSize();
  Draw();
  return true;
}

TerminalWindow::~TerminalWindow() { ReleaseTerminal(); }

void TerminalWindow::ReleaseTerminal() {
  if (!screen_) return;
  screen_ = false;
  SetKeyboard(false);
  modes_.GiveBack();
  // The window's last words stay in the scroll-back.
  plain_.Outcome(content_.status, boxTranscript_);
}

// ---- the list, the status, the progress ----

void TerminalWindow::InsertRow(int row, const char* firstCell) {
  if (row < 0) return;
  const std::size_t at = std::min(static_cast<std::size_t>(row), content_.list.size());
  terminal::RowCells cells;
  cells[0] = firstCell ? firstCell : "";
  // The number column grows to the widest number it has held (it never shrinks, so that the
  // columns do not jump about as the list scrolls).
  content_.numberWidth = std::max(content_.numberWidth, terminal::NumberWidthOf(cells[0]));
  content_.list.insert(content_.list.begin() + static_cast<std::ptrdiff_t>(at), std::move(cells));
  reported_.insert(reported_.begin() + static_cast<std::ptrdiff_t>(at), false);
  Changed();
}

void TerminalWindow::SetCell(int row, int subItem, const char* text) {
  if (!ValidCell(content_.list.size(), row, subItem)) return;
  const std::size_t index = static_cast<std::size_t>(row);
  std::string& cell = content_.list[index][static_cast<std::size_t>(subItem)];
  const std::string value = text ? text : "";
  if (cell == value) return;
  cell = value;
  if (subItem == 0) {
    content_.numberWidth = std::max(content_.numberWidth, terminal::NumberWidthOf(cell));
  }
  if (subItem == 3 && !screen_) ReportRowIfDone(index);
  Changed();
}

void TerminalWindow::GetCell(int row, int subItem, char* buffer, std::size_t capacity) {
  if (buffer == nullptr || capacity == 0) return;
  if (!ValidCell(content_.list.size(), row, subItem)) return;
  const std::string& cell =
      content_.list[static_cast<std::size_t>(row)][static_cast<std::size_t>(subItem)];
  const std::size_t length = std::min(cell.size(), capacity - 1);
  std::memcpy(buffer, cell.data(), length);
  buffer[length] = '\0';
}

void TerminalWindow::SetListRedraw(bool on) {
  listRedraw_ = on;
  if (on && listDirty_) Draw();
}

void TerminalWindow::EnsureVisible(int row) {
  if (row < 0 || static_cast<std::size_t>(row) >= content_.list.size()) return;
  visibleRow_ = row;
  const int before = content_.scrollTop;
  ClampScroll();
  if (content_.scrollTop != before) Changed();
}

void TerminalWindow::ClampScroll() {
  content_.scrollTop = terminal::ClampScrollTop(
      content_.scrollTop, visibleRow_, static_cast<int>(content_.list.size()), content_.rows);
}

// Plain output: one line when a file's check or download is complete. A recovered file shows
// the same percentage as a downloaded one, so its line comes when the download is whole; the
// run's end is told by the status and the boxes.
void TerminalWindow::ReportRowIfDone(std::size_t row) {
  const terminal::RowCells& cells = content_.list[row];
  if (reported_[row] || !terminal::IsFinalProgress(cells[3])) return;
  reported_[row] = true;
  plain_.WriteLine(terminal::CompletedFileLine(cells));
}

void TerminalWindow::SetStatusText(const char* text) {
  const std::string value = text ? text : "";
  if (!screen_) plain_.Status(value);
  if (value == content_.status) return;
  content_.status = value;
  Changed();
}

void TerminalWindow::SetProgressPosition(int position) {
  if (position == content_.position) return;
  content_.position = position;
  Changed();
}

// ---- timers, the end of the run ----

void TerminalWindow::SetTimer(int id, std::uint32_t milliseconds) {
  timers_.Set(id, milliseconds, Clock::now());
}

void TerminalWindow::KillTimer(int id) { timers_.Kill(id); }

void TerminalWindow::EndRun() { endGate_.RequestEnd(); }

// ---- input ----

void TerminalWindow::HandleSignals() {
  const platform::SignalPipe::Caught caught = signals_.Take();
  if (caught.close) closeRequested_ = true;
  if (caught.resize && screen_) {
    UpdateSize();
    writer_.Invalidate();
    Draw();
  }
}

void TerminalWindow::HandleKeyboard() {
  if (!keyboard_) return;
  char keys[64];
  const long n = platform::ReadAvailable(options_.inputFd, keys, sizeof(keys));
  if (n == 0) return;
  if (n < 0) {  // the terminal has gone
    SetKeyboard(false);
    closeRequested_ = true;
    return;
  }
  bool stop = false;
  for (long i = 0; i < n; ++i) {
    if (keys[i] == kCtrlC) closeRequested_ = true;  // the user means it
    if (keys[i] == 'q' || keys[i] == 'Q') stop = true;
  }
  if (stop && !closeRequested_ && ConfirmStop()) closeRequested_ = true;
}

// One key too many must not abandon a run: q asks first. While the question is open the
// window is not refreshed, so the worker waits at its next phase, as for any other box.
bool TerminalWindow::ConfirmStop() {
  return ShowMessageBox(confirmStop_.c_str(), confirmCaption_.c_str(),
                        MessageBoxKind::kYesNoQuestion) == MessageBoxAnswer::kYes;
}

// ---- message boxes ----

// A terminal cannot be raised or flashed from inside; what the user sees is made whole again,
// in case another program wrote over it.
void TerminalWindow::Activate() {
  if (!screen_) return;
  writer_.Invalidate();
  Draw();
}

MessageBoxAnswer TerminalWindow::ShowMessageBox(const char* text, const char* caption,
                                                MessageBoxKind kind) {
  const bool question = kind == MessageBoxKind::kYesNoQuestion;
  std::vector<std::string> lines = terminal::PlainBoxLines(caption, text);
  MessageBoxAnswer answer = terminal::ClosedAnswer(kind);
  if (screen_) {
    answer = AskOnScreen(text, caption, kind);
  } else if (question) {
    answer = AskPlain(lines);
  } else {
    plain_.WriteLines(lines);
  }
  if (question) lines.back() += answer == MessageBoxAnswer::kYes ? " [yes]" : " [no]";
  boxTranscript_.insert(boxTranscript_.end(), lines.begin(), lines.end());
  return answer;
}

// Under the error text, indented as its following lines are, in the transcript that stays in
// the scroll-back as well. The detail names paths and URLs the run was given: sanitized as every
// other text the terminal shows.
void TerminalWindow::ShowFailureDetail(const char* detail) {
  if (detail == nullptr || *detail == '\0') return;
  const std::vector<std::string> lines = {"  " + terminal::Sanitize(detail)};
  if (!screen_) plain_.WriteLines(lines);
  boxTranscript_.insert(boxTranscript_.end(), lines.begin(), lines.end());
}

terminal::AnswerSource TerminalWindow::Answers() {
  terminal::AnswerSource source;
  source.inputFd = options_.inputFd;
  source.signalFd = signals_.ReadFd();
  source.signalsClose = [this] {
    HandleSignals();
    return closeRequested_;
  };
  return source;
}

void TerminalWindow::Apply(const terminal::Answer& answer) {
  if (answer.keyboardGone) SetKeyboard(false);
  if (answer.closeWindow) closeRequested_ = true;
}

MessageBoxAnswer TerminalWindow::AskOnScreen(const char* text, const char* caption,
                                             MessageBoxKind kind) {
  content_.box.reset(new terminal::BoxContent{caption ? caption : "", text ? text : "", kind});
  // Keys typed before the question was on screen do not answer it.
  if (keyboard_ && kind == MessageBoxKind::kYesNoQuestion) {
    platform::DiscardTypeAhead(options_.inputFd);
  }
  Draw();
  const terminal::Answer answer =
      keyboard_ ? terminal::AnswerByKey(Answers(), kind) : terminal::AnswerByLine(Answers(), kind);
  Apply(answer);
  content_.box.reset();
  Draw();
  return answer.answer;
}

// The question is printed with its default; the answer comes from the question terminal or
// standard input.
MessageBoxAnswer TerminalWindow::AskPlain(std::vector<std::string> question) {
  question.back() += " [y/N]";
  plain_.WriteLines(question);
  const terminal::Answer answer =
      terminal::AnswerOnTerminal(options_.questionTerminal, question, Answers());
  Apply(answer);
  return answer.answer;
}

// ---- drawing ----

void TerminalWindow::UpdateSize() {
  int columns = options_.columns;
  int rows = options_.rows;
  if ((columns <= 0 || rows <= 0) && !platform::TerminalSize(options_.outputFd, columns, rows)) {
    columns = 80;
    rows = 24;
  }
  content_.columns = std::min(columns, 1000);
  content_.rows = std::min(rows, 500);
  ClampScroll();
}

// The title bar offers q only while keys are read.
void TerminalWindow::SetKeyboard(bool on) {
  keyboard_ = on;
  content_.closeKey = on;
}

void TerminalWindow::Changed() {
  if (listRedraw_) {
    Draw();
  } else {
    listDirty_ = true;
  }
}

void TerminalWindow::Draw() {
  listDirty_ = false;
  if (!screen_) return;
  writer_.Draw(terminal::ComposeScreen(content_));
}

}  // namespace repair
