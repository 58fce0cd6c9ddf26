#include "platform/posix/tty.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>

#include "platform/posix/fd_io.h"

namespace repair::platform {
namespace {

constexpr char kEnterScreen[] = "\x1b[?1049h\x1b[?25l\x1b[?7l\x1b[0m\x1b[2J";
constexpr char kLeaveScreen[] = "\x1b[0m\x1b[?7h\x1b[?25h\x1b[?1049l";

constexpr int kCaughtSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGWINCH};
constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr std::size_t kCaughtCount = sizeof(kCaughtSignals) / sizeof(int);
constexpr std::size_t kCrashCount = sizeof(kCrashSignals) / sizeof(int);

// Process-wide: signal handlers see only these.
volatile sig_atomic_t g_signalFd = -1;
struct sigaction g_previousCaught[kCaughtCount];
struct sigaction g_previousCrash[kCrashCount];

volatile sig_atomic_t g_restoreArmed = 0;
int g_restoreOutputFd = -1;
int g_restoreInputFd = -1;  // -1 when the modes were not changed
struct termios g_savedModes;

// Gives the terminal back after a crash or an exit that skips destructors: the saved modes
// and the main screen, once. Async-signal-safe: it only calls tcsetattr() and write() on
// what TerminalModes::Take stored before it armed the restore, and it disarms itself first,
// so that a second crash inside it does not loop. Does nothing when disarmed (GiveBack ran).
void EmergencyRestore() {
  if (!g_restoreArmed) return;
  g_restoreArmed = 0;
  if (g_restoreInputFd >= 0) ::tcsetattr(g_restoreInputFd, TCSANOW, &g_savedModes);
  ssize_t ignored = ::write(g_restoreOutputFd, kLeaveScreen, sizeof(kLeaveScreen) - 1);
  (void)ignored;
}

// Puts the terminal right, then hands the signal back to whoever had it: returning re-runs a
// faulting instruction, and abort() raises again with the default action.
void OnCrashSignal(int signal) {
  EmergencyRestore();
  for (std::size_t i = 0; i < kCrashCount; ++i) {
    if (kCrashSignals[i] == signal) ::sigaction(signal, &g_previousCrash[i], nullptr);
  }
}

void RestoreAtExit() { EmergencyRestore(); }

void OnCaughtSignal(int signal) {
  const int savedErrno = errno;
  PokePipe(g_signalFd, static_cast<unsigned char>(signal));
  errno = savedErrno;
}

// Keys one by one, unechoed; Ctrl-C arrives as a byte. Output processing stays on.
bool EnterRawKeys(int inputFd) {
  if (::tcgetattr(inputFd, &g_savedModes) != 0) return false;
  struct termios raw = g_savedModes;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
  raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  return ::tcsetattr(inputFd, TCSANOW, &raw) == 0;
}

}  // namespace

bool IsTerminal(int fd) { return ::isatty(fd) == 1; }

bool TerminalSize(int fd, int& columns, int& rows) {
  struct winsize size {};
  if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) return false;
  columns = size.ws_col;
  rows = size.ws_row;
  return true;
}

void DiscardTypeAhead(int fd) { ::tcflush(fd, TCIFLUSH); }

FileDescriptor OpenTerminal(const std::string& path) {
  return FileDescriptor(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
}

void TerminalModes::Take(int outputFd, int inputFd, bool rawKeys, bool restoreOnCrash) {
  if (taken_) return;
  taken_ = true;
  outputFd_ = outputFd;
  inputFd_ = inputFd;
  rawKeys_ = rawKeys && EnterRawKeys(inputFd);
  g_restoreOutputFd = outputFd;
  g_restoreInputFd = rawKeys_ ? inputFd : -1;
  g_restoreArmed = 1;
  static bool atExitRegistered = false;
  if (!atExitRegistered) atExitRegistered = std::atexit(RestoreAtExit) == 0;
  if (restoreOnCrash) {
    struct sigaction action {};
    action.sa_handler = OnCrashSignal;
    ::sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kCrashCount; ++i) {
      ::sigaction(kCrashSignals[i], &action, &g_previousCrash[i]);
    }
    crashHandlers_ = true;
  }
  WriteAll(outputFd, kEnterScreen, sizeof(kEnterScreen) - 1);
}

void TerminalModes::GiveBack() {
  if (!taken_) return;
  taken_ = false;
  if (crashHandlers_) {
    for (std::size_t i = 0; i < kCrashCount; ++i) {
      ::sigaction(kCrashSignals[i], &g_previousCrash[i], nullptr);
    }
    crashHandlers_ = false;
  }
  g_restoreArmed = 0;
  WriteAll(outputFd_, kLeaveScreen, sizeof(kLeaveScreen) - 1);
  if (rawKeys_) ::tcsetattr(inputFd_, TCSANOW, &g_savedModes);
  rawKeys_ = false;
}

bool SignalPipe::Open(bool listen) {
  if (!MakePipe(read_, write_)) return false;
  if (!listen || g_signalFd >= 0) return true;
  g_signalFd = write_.get();
  struct sigaction action {};
  action.sa_handler = OnCaughtSignal;
  action.sa_flags = SA_RESTART;
  ::sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < kCaughtCount; ++i) {
    ::sigaction(kCaughtSignals[i], &action, &g_previousCaught[i]);
  }
  listening_ = true;
  return true;
}

SignalPipe::~SignalPipe() {
  if (!listening_) return;
  for (std::size_t i = 0; i < kCaughtCount; ++i) {
    ::sigaction(kCaughtSignals[i], &g_previousCaught[i], nullptr);
  }
  g_signalFd = -1;
}

SignalPipe::Caught SignalPipe::Take() {
  Caught caught;
  unsigned char signals[64];
  for (;;) {
    const ssize_t n = ::read(read_.get(), signals, sizeof(signals));
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      if (signals[i] == SIGWINCH) {
        caught.resize = true;
      } else {
        caught.close = true;
      }
    }
  }
  return caught;
}

WindowSignalsBlocked::WindowSignalsBlocked() {
  sigset_t blocked;
  ::sigemptyset(&blocked);
  for (int signal : kCaughtSignals) ::sigaddset(&blocked, signal);
  ::pthread_sigmask(SIG_BLOCK, &blocked, &previous_);
}

WindowSignalsBlocked::~WindowSignalsBlocked() {
  ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace repair::platform
