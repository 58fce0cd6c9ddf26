#include "platform/posix/terminal_window.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/file_descriptor.h"

namespace repair {
namespace terminal {
namespace {

// Length of the UTF-8 sequence that starts at text[i], or 0 when it is not a valid one or
// encodes a control character of the C1 range.
std::size_t ValidSequenceLength(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length;
  std::uint32_t code;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  if (overlong || surrogate || code > 0x10FFFF || (code >= 0x80 && code <= 0x9F)) return 0;
  return length;
}

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Byte offset of column `column` in a sanitized text (its size when the text is shorter).
std::size_t OffsetOfColumn(const std::string& sanitized, std::size_t column) {
  std::size_t i = 0;
  for (std::size_t seen = 0; i < sanitized.size(); ++i) {
    if (IsContinuation(sanitized[i])) continue;
    if (seen == column) return i;
    ++seen;
  }
  return i;
}

}  // namespace

std::string Sanitize(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += (c == '\t') ? ' ' : (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
      ++i;
      continue;
    }
    const std::size_t length = ValidSequenceLength(text, i);
    if (length == 0) {
      out += '?';
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}

std::size_t DisplayWidth(const std::string& sanitized) {
  std::size_t width = 0;
  for (char c : sanitized) width += IsContinuation(c) ? 0 : 1;
  return width;
}

std::string FitLeft(const std::string& sanitized, std::size_t width) {
  std::string out = sanitized.substr(0, OffsetOfColumn(sanitized, width));
  out.append(width - DisplayWidth(out), ' ');
  return out;
}

std::string FitTail(const std::string& sanitized, std::size_t width) {
  const std::size_t have = DisplayWidth(sanitized);
  if (have <= width) return FitLeft(sanitized, width);
  if (width <= 3) return FitLeft(sanitized, width);
  return "..." + sanitized.substr(OffsetOfColumn(sanitized, have - (width - 3)));
}

std::vector<std::string> WrapText(const std::string& sanitized, std::size_t width) {
  std::vector<std::string> lines;
  if (width == 0) return lines;
  std::string rest = sanitized;
  while (DisplayWidth(rest) > width) {
    std::size_t cut = OffsetOfColumn(rest, width);
    std::size_t space = rest.rfind(' ', cut);
    std::size_t next = cut;
    if (space != std::string::npos && space > 0) {
      cut = space;
      next = space + 1;
    }
    std::string line = rest.substr(0, cut);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    lines.push_back(line);
    rest.erase(0, next);
  }
  lines.push_back(rest);
  return lines;
}

std::string WithoutTrailingDots(const std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && text[end - 1] == '.') --end;
  return text.substr(0, end);
}

std::vector<std::string> PlainBoxLines(const char* caption, const char* text) {
  const std::string head = std::string(caption ? caption : "") + ": ";
  const std::string indent(DisplayWidth(Sanitize(head)), ' ');
  std::vector<std::string> lines;
  const std::string body = text ? text : "";
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = body.find('\n', start);
    std::string piece = body.substr(start, end == std::string::npos ? end : end - start);
    if (!piece.empty() && piece.back() == '\r') piece.pop_back();  // a CR LF line break
    if (lines.empty()) {
      lines.push_back(head + piece);
    } else if (!piece.empty() || end != std::string::npos) {
      lines.push_back(piece.empty() ? std::string() : indent + piece);
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

}  // namespace terminal

namespace {

using terminal::FitLeft;
using terminal::FitTail;
using terminal::Sanitize;

enum Style { kPlain = 0, kTitleBar = 1, kHeader = 2 };

constexpr char kEnterScreen[] = "\x1b[?1049h\x1b[?25l\x1b[?7l\x1b[0m\x1b[2J";
constexpr char kLeaveScreen[] = "\x1b[0m\x1b[?7h\x1b[?25h\x1b[?1049l";
constexpr int kNumberWidth = 5;     // "#" and row numbers up to 99999, to start with
constexpr int kMaxNumberWidth = 10;  // every 32-bit row number
constexpr int kSizeWidth = 9;
constexpr int kProgressWidth = 11;  // "checking..."
constexpr int kFixedLines = 5;      // title, header, frame, status, bar

const char* StyleOn(int style) {
  switch (style) {
    case kTitleBar: return "\x1b[7m";
    case kHeader: return "\x1b[1;4m";
    default: return "";
  }
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 100);
        continue;
      }
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const std::string& text) { return WriteAll(fd, text.data(), text.size()); }

// Process-wide: signal handlers see only these.
volatile sig_atomic_t g_signalFd = -1;
constexpr int kCaughtSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGWINCH};
constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
struct sigaction g_previousCaught[sizeof(kCaughtSignals) / sizeof(int)];
struct sigaction g_previousCrash[sizeof(kCrashSignals) / sizeof(int)];

// What gives the terminal back after a crash or an exit that skips destructors.
volatile sig_atomic_t g_restoreArmed = 0;
int g_restoreOutputFd = -1;
int g_restoreInputFd = -1;  // -1 when the modes were not changed
struct termios g_savedModes;

void EmergencyRestore() {
  if (!g_restoreArmed) return;
  g_restoreArmed = 0;
  if (g_restoreInputFd >= 0) ::tcsetattr(g_restoreInputFd, TCSANOW, &g_savedModes);
  ssize_t ignored = ::write(g_restoreOutputFd, kLeaveScreen, sizeof(kLeaveScreen) - 1);
  (void)ignored;
}

void OnCaughtSignal(int signal) {
  const int savedErrno = errno;
  const int fd = g_signalFd;
  if (fd >= 0) {
    const unsigned char byte = static_cast<unsigned char>(signal);
    ssize_t ignored = ::write(fd, &byte, 1);
    (void)ignored;
  }
  errno = savedErrno;
}

// Puts the terminal right, then hands the signal back to whoever had it: returning re-runs a
// faulting instruction, and abort() raises again with the default action.
void OnCrashSignal(int signal) {
  EmergencyRestore();
  for (std::size_t i = 0; i < sizeof(kCrashSignals) / sizeof(int); ++i) {
    if (kCrashSignals[i] == signal) ::sigaction(signal, &g_previousCrash[i], nullptr);
  }
}

void RestoreAtExit() { EmergencyRestore(); }

bool MakePipe(int& readEnd, int& writeEnd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  readEnd = fds[0];
  writeEnd = fds[1];
  return true;
}

void Drain(int fd) {
  char sink[64];
  while (::read(fd, sink, sizeof(sink)) > 0) {
  }
}

// Reads one byte, waiting also on the signal pipe. 1: a byte; 0: end of input or error;
// -1: the signal pipe is readable.
int ReadByteOrSignal(int inputFd, int signalFd, char& byte) {
  for (;;) {
    pollfd fds[2] = {{inputFd, POLLIN, 0}, {signalFd, POLLIN, 0}};
    int ready = ::poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return 0;
    }
    if (fds[1].revents & POLLIN) return -1;
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
      ssize_t n = ::read(inputFd, &byte, 1);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      return n == 1 ? 1 : 0;
    }
  }
}

bool IsFinalProgress(const std::string& text) {
  if (text == "Ok") return true;
  // "%d %%" at 100 or more: downloaded whole.
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0 || digits > 9 || text.compare(digits, std::string::npos, " %") != 0) return false;
  return std::atoi(text.c_str()) >= 100;
}

std::string TrimRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

TerminalOptions TerminalOptions::ForStandardStreams() {
  TerminalOptions options;
  options.screen = ::isatty(options.outputFd) == 1;
  const bool interactive = ::isatty(options.inputFd) == 1;
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
      uiThread_(std::this_thread::get_id()),
      title_(Sanitize(texts.title)),
      confirmStop_(texts.confirmStop),
      confirmCaption_(texts.confirmCaption),
      numberWidth_(kNumberWidth) {
  for (std::size_t i = 0; i < headers_.size(); ++i) headers_[i] = Sanitize(texts.columns[i]);
}

bool TerminalWindow::Open() {
  if (!MakePipe(wakeRead_, wakeWrite_) || !MakePipe(signalRead_, signalWrite_)) return false;

  if (options_.catchSignals) InstallSignalHandlers();
  if (options_.screen) {
    TakeTerminal();
  } else {
    options_.keyboard = false;
  }
  return true;
}

// One window at a time owns the process's handlers; they only write the signal's number
// into the window's pipe.
void TerminalWindow::InstallSignalHandlers() {
  if (g_signalFd >= 0) return;
  g_signalFd = signalWrite_;
  struct sigaction action {};
  action.sa_handler = OnCaughtSignal;
  action.sa_flags = SA_RESTART;
  ::sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < sizeof(kCaughtSignals) / sizeof(int); ++i) {
    ::sigaction(kCaughtSignals[i], &action, &g_previousCaught[i]);
  }
  signalsInstalled_ = true;
}

// Raw keys, the alternate screen, no cursor, no line wrap; and what undoes it if the process
// ends without the destructor (exit, a crash).
void TerminalWindow::TakeTerminal() {
  screen_ = true;
  if (options_.keyboard && ::tcgetattr(options_.inputFd, &g_savedModes) == 0) {
    struct termios raw = g_savedModes;
    // Keys one by one, unechoed; Ctrl-C arrives as a byte. Output processing stays on.
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (::tcsetattr(options_.inputFd, TCSANOW, &raw) == 0) terminalTaken_ = true;
  }
  if (!terminalTaken_) options_.keyboard = false;
  g_restoreOutputFd = options_.outputFd;
  g_restoreInputFd = terminalTaken_ ? options_.inputFd : -1;
  g_restoreArmed = 1;
  static bool atExitRegistered = false;
  if (!atExitRegistered) atExitRegistered = std::atexit(RestoreAtExit) == 0;
  if (signalsInstalled_) {
    struct sigaction action {};
    action.sa_handler = OnCrashSignal;
    ::sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < sizeof(kCrashSignals) / sizeof(int); ++i) {
      ::sigaction(kCrashSignals[i], &action, &g_previousCrash[i]);
    }
  }
  WriteAll(options_.outputFd, kEnterScreen);
  UpdateSize();
  Draw();
}

TerminalWindow::~TerminalWindow() {
  ReleaseTerminal();
  if (signalsInstalled_) {
    for (std::size_t i = 0; i < sizeof(kCaughtSignals) / sizeof(int); ++i) {
      ::sigaction(kCaughtSignals[i], &g_previousCaught[i], nullptr);
    }
    g_signalFd = -1;
  }
  for (int fd : {wakeRead_, wakeWrite_, signalRead_, signalWrite_}) {
    if (fd >= 0) ::close(fd);
  }
}

void TerminalWindow::ReleaseTerminal() {
  if (!screen_) return;
  screen_ = false;
  if (signalsInstalled_) {
    for (std::size_t i = 0; i < sizeof(kCrashSignals) / sizeof(int); ++i) {
      ::sigaction(kCrashSignals[i], &g_previousCrash[i], nullptr);
    }
  }
  g_restoreArmed = 0;
  WriteAll(options_.outputFd, kLeaveScreen);
  if (terminalTaken_) ::tcsetattr(options_.inputFd, TCSANOW, &g_savedModes);
  terminalTaken_ = false;
  options_.keyboard = false;
  // The window's last words stay in the scroll-back.
  std::string summary = terminal::WithoutTrailingDots(status_);
  if (!summary.empty()) WritePlain(summary);
  for (const std::string& line : boxTranscript_) WritePlain(line);
  lastPlainStatus_ = summary;
  plainStatusShown_ = true;
}

// ---- the list ----

void TerminalWindow::InsertRow(int row, const char* firstCell) {
  if (row < 0) return;
  const std::size_t at = std::min(static_cast<std::size_t>(row), rows_.size());
  Row inserted;
  inserted.cells[0] = firstCell ? firstCell : "";
  WidenNumberColumn(inserted.cells[0]);
  rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(at), std::move(inserted));
  if (listRedraw_) Draw(); else listDirty_ = true;
}

void TerminalWindow::SetCell(int row, int subItem, const char* text) {
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size() || subItem < 0 || subItem > 3) {
    return;
  }
  std::string& cell = rows_[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(subItem)];
  const std::string value = text ? text : "";
  if (cell == value) return;
  cell = value;
  if (subItem == 0) WidenNumberColumn(cell);
  if (subItem == 3 && !screen_) ReportRowIfDone(row);
  if (listRedraw_) Draw(); else listDirty_ = true;
}

void TerminalWindow::GetCell(int row, int subItem, char* buffer, std::size_t capacity) {
  if (buffer == nullptr || capacity == 0) return;
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size() || subItem < 0 || subItem > 3) {
    return;
  }
  const std::string& cell =
      rows_[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(subItem)];
  const std::size_t length = std::min(cell.size(), capacity - 1);
  std::memcpy(buffer, cell.data(), length);
  buffer[length] = '\0';
}

void TerminalWindow::SetListRedraw(bool on) {
  listRedraw_ = on;
  if (on && listDirty_) Draw();
}

void TerminalWindow::EnsureVisible(int row) {
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return;
  visibleRow_ = row;
  const int before = scrollTop_;
  ClampScroll();
  if (scrollTop_ == before) return;
  if (listRedraw_) Draw(); else listDirty_ = true;
}

// The number column grows to the widest number it has held (it never shrinks, so that the
// columns do not jump about as the list scrolls).
void TerminalWindow::WidenNumberColumn(const std::string& number) {
  const int width = static_cast<int>(
      std::min<std::size_t>(terminal::DisplayWidth(Sanitize(number)), kMaxNumberWidth));
  numberWidth_ = std::max(numberWidth_, width);
}

int TerminalWindow::ListHeight() const { return std::max(0, rowsOnScreen_ - kFixedLines); }

void TerminalWindow::ClampScroll() {
  const int height = ListHeight();
  const int count = static_cast<int>(rows_.size());
  if (visibleRow_ >= count) visibleRow_ = -1;
  if (visibleRow_ >= 0 && height > 0) {
    if (visibleRow_ < scrollTop_) scrollTop_ = visibleRow_;
    if (visibleRow_ >= scrollTop_ + height) scrollTop_ = visibleRow_ - height + 1;
  }
  scrollTop_ = std::max(0, std::min(scrollTop_, count - height));
}

// Plain output: one line when a file's check or download is complete ("Ok", or 100 % and
// more). A recovered file shows the same percentage as a downloaded one, so its line comes
// when the download is whole; the run's end is told by the status and the boxes.
void TerminalWindow::ReportRowIfDone(int row) {
  Row& entry = rows_[static_cast<std::size_t>(row)];
  if (entry.reported || !IsFinalProgress(entry.cells[3])) return;
  entry.reported = true;
  std::string line = "#" + entry.cells[0] + " " + entry.cells[1];
  const std::string size = TrimRight(entry.cells[2]);
  if (!size.empty()) line += " (" + size + ")";
  WritePlain(line + ": " + entry.cells[3]);
}

// ---- status, progress ----

void TerminalWindow::SetStatusText(const char* text) {
  const std::string value = text ? text : "";
  if (!screen_) {
    const std::string steady = terminal::WithoutTrailingDots(value);
    if (!steady.empty() && (!plainStatusShown_ || steady != lastPlainStatus_)) WritePlain(steady);
    plainStatusShown_ = true;
    lastPlainStatus_ = steady;
  }
  if (value == status_) return;
  status_ = value;
  if (listRedraw_) Draw(); else listDirty_ = true;
}

void TerminalWindow::SetProgressPosition(int position) {
  if (position == position_) return;
  position_ = position;
  if (listRedraw_) Draw(); else listDirty_ = true;
}

void TerminalWindow::WritePlain(const std::string& line) {
  WriteAll(options_.outputFd, Sanitize(line) + "\n");
}

// ---- timers ----

void TerminalWindow::SetTimer(int id, std::uint32_t milliseconds) {
  const std::chrono::milliseconds interval(milliseconds);
  timers_[id] = Timer{Clock::now() + interval, interval};
}

void TerminalWindow::KillTimer(int id) { timers_.erase(id); }

bool TerminalWindow::PopDueTimer(Clock::time_point now, int& id) {
  auto first = timers_.end();
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (first == timers_.end() || it->second.deadline < first->second.deadline) first = it;
  }
  if (first == timers_.end() || first->second.deadline > now) return false;
  id = first->first;
  first->second.deadline = now + first->second.interval;
  return true;
}

int TerminalWindow::MillisecondsUntilNextTimer(Clock::time_point now) const {
  if (timers_.empty()) return -1;
  Clock::time_point next = Clock::time_point::max();
  for (const auto& entry : timers_) next = std::min(next, entry.second.deadline);
  if (next <= now) return 0;
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
  return wait > 1000000 ? 1000000 : static_cast<int>(wait);
}

// ---- the end of the run ----

void TerminalWindow::EndRun() {
  std::unique_lock<std::mutex> lock(endMutex_);
  const bool fromUi = std::this_thread::get_id() == uiThread_;
  if (!fromUi && !loopRunning_) return;  // the run is over: nobody takes it any more
  endRequested_ = true;
  const char byte = 'e';
  ssize_t ignored = ::write(wakeWrite_, &byte, 1);  // a full pipe is readable already
  (void)ignored;
  if (fromUi) return;  // the loop sees it when the current handler returns
  endTaken_.wait(lock, [this] { return !endRequested_ || !loopRunning_; });
}

bool TerminalWindow::TakeEndRequest() {
  Drain(wakeRead_);
  std::lock_guard<std::mutex> lock(endMutex_);
  if (!endRequested_) return false;
  endRequested_ = false;
  endTaken_.notify_all();
  return true;
}

void TerminalWindow::SetLoopRunning(bool running) {
  std::lock_guard<std::mutex> lock(endMutex_);
  loopRunning_ = running;
  if (!running) {
    endRequested_ = false;
    endTaken_.notify_all();
  }
}

// ---- input ----

void TerminalWindow::HandleSignals() {
  unsigned char signals[64];
  bool resized = false;
  for (;;) {
    ssize_t n = ::read(signalRead_, signals, sizeof(signals));
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      if (signals[i] == SIGWINCH) {
        resized = true;
      } else {
        closeRequested_ = true;
      }
    }
  }
  if (resized && screen_) {
    UpdateSize();
    InvalidateScreen();
    Draw();
  }
}

void TerminalWindow::HandleKeyboard() {
  if (!options_.keyboard) return;
  char keys[64];
  ssize_t n = ::read(options_.inputFd, keys, sizeof(keys));
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) {  // the terminal has gone
    options_.keyboard = false;
    closeRequested_ = true;
    return;
  }
  bool stop = false;
  for (ssize_t i = 0; i < n; ++i) {
    if (keys[i] == 0x03) closeRequested_ = true;  // Ctrl-C: the user means it
    if (keys[i] == 'q' || keys[i] == 'Q') stop = true;
  }
  if (stop && !closeRequested_ && ConfirmStop()) closeRequested_ = true;
}

// One key too many must not abandon a run: q asks first. While the question is open the
// window is not refreshed, so the worker waits at its next phase, as for any other box.
bool TerminalWindow::ConfirmStop() {
  return ShowMessageBox(confirmStop_.c_str(), confirmCaption_.c_str(),
                        MessageBoxKind::kYesNoQuestion) ==
         MessageBoxAnswer::kYes;
}

// ---- message boxes ----

// A terminal cannot be raised or flashed from inside; what the user sees is made whole again,
// in case another program wrote over it.
void TerminalWindow::Activate() {
  if (!screen_) return;
  InvalidateScreen();
  Draw();
}

MessageBoxAnswer TerminalWindow::ShowMessageBox(const char* text, const char* caption,
                                                MessageBoxKind kind) {
  const MessageBoxAnswer closed =
      kind == MessageBoxKind::kYesNoQuestion ? MessageBoxAnswer::kNo : MessageBoxAnswer::kOk;
  const bool question = kind == MessageBoxKind::kYesNoQuestion;
  std::vector<std::string> lines = terminal::PlainBoxLines(caption, text);
  MessageBoxAnswer answer;
  if (screen_) {
    box_.reset(new Box{caption ? caption : "", text ? text : "", kind});
    answer = AskOnScreen(kind);
    box_.reset();
    Draw();
  } else if (question) {
    std::vector<std::string> asked = lines;
    asked.back() += " [y/N]";
    for (const std::string& line : asked) WritePlain(line);
    answer = AskPlain(asked);
  } else {
    for (const std::string& line : lines) WritePlain(line);
    answer = closed;
  }
  if (question) lines.back() += answer == MessageBoxAnswer::kYes ? " [yes]" : " [no]";
  boxTranscript_.insert(boxTranscript_.end(), lines.begin(), lines.end());
  return answer;
}

// Standard output may be a file while the user sits at a terminal: the question is then put
// and answered there. Otherwise the answer comes from standard input, as a script gives it.
MessageBoxAnswer TerminalWindow::AskPlain(const std::vector<std::string>& question) {
  constexpr MessageBoxKind kQuestion = MessageBoxKind::kYesNoQuestion;
  if (options_.questionTerminal.empty()) return AskForLine(options_.inputFd, kQuestion);
  const platform::FileDescriptor terminal(
      ::open(options_.questionTerminal.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (terminal.get() < 0) return AskForLine(options_.inputFd, kQuestion);
  std::string prompt;
  for (const std::string& line : question) {
    if (!prompt.empty()) prompt += '\n';
    prompt += Sanitize(line);
  }
  ::tcflush(terminal.get(), TCIFLUSH);  // keys typed before the question do not answer it
  WriteAll(terminal.get(), prompt + " ");
  return AskForLine(terminal.get(), kQuestion);
}

MessageBoxAnswer TerminalWindow::AskOnScreen(MessageBoxKind kind) {
  const bool question = kind == MessageBoxKind::kYesNoQuestion;
  const MessageBoxAnswer closed = question ? MessageBoxAnswer::kNo : MessageBoxAnswer::kOk;
  // Keys typed before the question was on screen do not answer it.
  if (options_.keyboard && question) ::tcflush(options_.inputFd, TCIFLUSH);
  Draw();
  if (!options_.keyboard) return AskForLine(options_.inputFd, kind);
  for (;;) {
    char key = 0;
    int got = ReadByteOrSignal(options_.inputFd, signalRead_, key);
    if (got < 0) {
      HandleSignals();
      if (closeRequested_) return closed;
      continue;
    }
    if (got == 0) {
      options_.keyboard = false;
      closeRequested_ = true;
      return closed;
    }
    if (key == 0x03) {  // Ctrl-C closes the box and the window
      closeRequested_ = true;
      return closed;
    }
    if (question && (key == 'y' || key == 'Y')) return MessageBoxAnswer::kYes;
    if (question && (key == 'n' || key == 'N')) return MessageBoxAnswer::kNo;
    if (!question && (key == '\r' || key == '\n')) return MessageBoxAnswer::kOk;
  }
}

// One line of input answers: a question is Yes only for a line that starts with y or Y; end
// of input answers No. A signal that closes the window closes the box too.
MessageBoxAnswer TerminalWindow::AskForLine(int inputFd, MessageBoxKind kind) {
  const bool question = kind == MessageBoxKind::kYesNoQuestion;
  const MessageBoxAnswer closed = question ? MessageBoxAnswer::kNo : MessageBoxAnswer::kOk;
  bool first = true;
  bool yes = false;
  for (;;) {
    char byte = 0;
    int got = ReadByteOrSignal(inputFd, signalRead_, byte);
    if (got < 0) {
      HandleSignals();
      if (closeRequested_) return closed;
      continue;
    }
    if (got == 0 && first) return closed;
    if (got == 0 || byte == '\n') break;
    if (first) yes = byte == 'y' || byte == 'Y';
    first = false;
  }
  if (!question) return MessageBoxAnswer::kOk;
  return yes ? MessageBoxAnswer::kYes : MessageBoxAnswer::kNo;
}

// ---- drawing ----

void TerminalWindow::UpdateSize() {
  int columns = options_.columns;
  int rows = options_.rows;
  if (columns <= 0 || rows <= 0) {
    struct winsize size {};
    if (::ioctl(options_.outputFd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
      columns = size.ws_col;
      rows = size.ws_row;
    } else {
      columns = 80;
      rows = 24;
    }
  }
  columns_ = std::min(columns, 1000);
  rowsOnScreen_ = std::min(rows, 500);
  ClampScroll();
}

void TerminalWindow::InvalidateScreen() {
  shown_.clear();
  clearFirst_ = true;
}

std::vector<TerminalWindow::Line> TerminalWindow::Compose() const {
  const std::size_t width = static_cast<std::size_t>(columns_);
  std::vector<Line> lines;
  const auto add = [&](const std::string& text, int style) {
    lines.push_back(Line{FitLeft(text, width), style});
  };

  const std::string closeBox = options_.keyboard ? "[q] " : "";
  const std::size_t closeWidth = std::min(closeBox.size(), width);
  lines.push_back(Line{FitLeft(" " + title_, width - closeWidth) + closeBox.substr(0, closeWidth),
                       kTitleBar});

  const int nameWidth =
      std::max(4, columns_ - numberWidth_ - kSizeWidth - kProgressWidth - 3);
  const auto columnsOf = [&](const std::array<std::string, 4>& cells) {
    return FitLeft(cells[0], static_cast<std::size_t>(numberWidth_)) + " " +
           FitTail(cells[1], nameWidth) + " " + FitLeft(cells[2], kSizeWidth) + " " +
           FitLeft(cells[3], kProgressWidth);
  };
  add(columnsOf(headers_), kHeader);
  const int height = ListHeight();
  for (int i = 0; i < height; ++i) {
    const std::size_t index = static_cast<std::size_t>(scrollTop_) + static_cast<std::size_t>(i);
    if (index < rows_.size()) {
      const auto& cells = rows_[index].cells;
      add(columnsOf({Sanitize(cells[0]), Sanitize(cells[1]), Sanitize(cells[2]),
                     Sanitize(cells[3])}),
          kPlain);
    } else {
      add("", kPlain);
    }
  }
  add(std::string(width, '-'), kPlain);
  add(" " + Sanitize(status_), kPlain);

  const int clamped = std::max(0, std::min(position_, 1000));
  const std::string percent = std::to_string(clamped / 10) + " %";
  const int barWidth = std::max(0, columns_ - 4 - 6);
  const int filled = barWidth * clamped / 1000;
  add(" [" + std::string(static_cast<std::size_t>(filled), '#') +
          std::string(static_cast<std::size_t>(barWidth - filled), '.') + "] " + percent,
      kPlain);

  if (static_cast<int>(lines.size()) > rowsOnScreen_) {  // a tiny terminal: keep the bottom
    lines.erase(lines.begin(), lines.end() - rowsOnScreen_);
  }
  if (box_) OverlayBox(lines);
  return lines;
}

// The box: caption in the top frame, the text wrapped, the keys that answer it; centred.
void TerminalWindow::OverlayBox(std::vector<Line>& lines) const {
  const bool question = box_->kind == MessageBoxKind::kYesNoQuestion;
  const std::string keys = question ? "[ Yes: y ]   [ No: n ]" : "[ OK: Enter ]";
  const std::string caption = Sanitize(box_->caption);
  std::vector<std::string> text;
  const std::size_t most = static_cast<std::size_t>(std::max(1, columns_ - 8));
  std::size_t inner = std::max(keys.size(), terminal::DisplayWidth(caption) + 4);
  std::string paragraph;
  std::vector<std::string> paragraphs;
  for (char c : box_->text + "\n") {
    if (c == '\n') {
      paragraphs.push_back(Sanitize(TrimRight(paragraph)));
      paragraph.clear();
    } else {
      paragraph += c;
    }
  }
  for (const std::string& p : paragraphs) inner = std::max(inner, terminal::DisplayWidth(p));
  inner = std::min(inner, most);
  for (const std::string& p : paragraphs) {
    for (const std::string& line : terminal::WrapText(p, inner)) text.push_back(line);
  }

  std::vector<std::string> box;
  const std::size_t captionWidth = std::min(terminal::DisplayWidth(caption), inner - 1);
  std::string top = "+- " + FitLeft(caption, captionWidth) + " ";
  top += std::string(inner + 3 - terminal::DisplayWidth(top), '-') + "+";
  box.push_back(top);
  box.push_back("| " + std::string(inner, ' ') + " |");
  // A box taller than the screen drops text lines, never the keys.
  const int room = rowsOnScreen_ - 6;
  for (std::size_t i = 0; i < text.size() && static_cast<int>(i) < room; ++i) {
    box.push_back("| " + FitLeft(text[i], inner) + " |");
  }
  box.push_back("| " + std::string(inner, ' ') + " |");
  const std::size_t pad = (inner - std::min(inner, keys.size())) / 2;
  box.push_back("| " + FitLeft(std::string(pad, ' ') + keys, inner) + " |");
  box.push_back("+" + std::string(inner + 2, '-') + "+");

  // Base lines are sanitized and exactly `columns_` wide: cut them around the box.
  const std::size_t width = static_cast<std::size_t>(columns_);
  const std::size_t left = (width - std::min(width, inner + 4)) / 2;
  const std::size_t right = std::min(width, left + inner + 4);
  const std::size_t first = (lines.size() - std::min(lines.size(), box.size())) / 2;
  for (std::size_t i = 0; i < box.size() && first + i < lines.size(); ++i) {
    Line& line = lines[first + i];
    const std::string head = line.text.substr(0, FitLeft(line.text, left).size());
    const std::string tail = line.text.substr(FitLeft(line.text, right).size());
    line.boxFrom = head.size();
    line.text = head + FitLeft(box[i], right - left) + tail;
    line.boxTo = line.text.size() - tail.size();
  }
}

std::string TerminalWindow::Render(const Line& line) {
  const std::string on = StyleOn(line.style);
  const auto styled = [&](std::size_t from, std::size_t to) {
    if (from >= to) return std::string();
    const std::string part = line.text.substr(from, to - from);
    return on.empty() ? part : on + part + "\x1b[0m";
  };
  if (line.boxFrom >= line.boxTo) return styled(0, line.text.size());
  return styled(0, line.boxFrom) + line.text.substr(line.boxFrom, line.boxTo - line.boxFrom) +
         styled(line.boxTo, line.text.size());
}

void TerminalWindow::Draw() {
  listDirty_ = false;
  if (!screen_) return;
  const std::vector<Line> lines = Compose();
  std::string frame;
  if (clearFirst_) {
    frame += "\x1b[0m\x1b[2J";
    shown_.clear();
    clearFirst_ = false;
  }
  std::vector<std::string> drawn;
  drawn.reserve(lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string text = Render(lines[i]);
    if (i >= shown_.size() || shown_[i] != text) {
      char move[32];
      std::snprintf(move, sizeof(move), "\x1b[%zu;1H", i + 1);
      frame += move;
      frame += text;
    }
    drawn.push_back(text);
  }
  shown_ = std::move(drawn);
  if (!frame.empty()) WriteAll(options_.outputFd, frame);
}

std::vector<std::string> TerminalWindow::ScreenText() const {
  std::vector<std::string> text;
  for (const Line& line : Compose()) text.push_back(line.text);
  return text;
}

}  // namespace repair
