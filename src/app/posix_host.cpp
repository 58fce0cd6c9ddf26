#include "app/posix_host.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/command_line.h"
#include "app/posix_host_test_helper.h"
#include "platform/posix/process_launch.h"
#include "platform/posix/tty.h"

namespace repair {
namespace {

// A name fit for a file name: no folder separators, never empty.
std::string LockFileStem(const char* name) {
  std::string stem = (name && *name) ? name : "instance";
  for (char& c : stem) {
    if (c == '/') c = '_';
  }
  return stem;
}

// The lock file's path; an empty text when there is no such folder.
std::string RuntimeLockPath(const char* name) {
  const char* folder = std::getenv("XDG_RUNTIME_DIR");
  if (folder == nullptr || folder[0] != '/') return std::string();
  return std::string(folder) + "/" + LockFileStem(name) + ".lock";
}

std::string FallbackLockPath(const char* name) {
  return "/tmp/" + LockFileStem(name) + "-" + std::to_string(::geteuid()) + ".lock";
}

// The chained program's parameters as its arguments. An unmatched quote keeps the arguments
// before it and makes the rest one argument.
std::vector<std::string> SplitParameters(const char* parameters) {
  const char* text = parameters ? parameters : "";
  TokenList tokens;
  std::uint32_t count = 0;
  if (SplitCommandLine(text, tokens, count)) {
    tokens.resize(count);
    return tokens;
  }
  // The quote that has no partner is the last one in the text.
  const char* lastQuote = std::strrchr(text, '"');
  if (lastQuote != nullptr) tokens.emplace_back(lastQuote + 1);
  return tokens;
}

}  // namespace

std::string PosixHostTestHelper::FallbackLockPath(const char* name) {
  return repair::FallbackLockPath(name);
}

std::vector<std::string> PosixHostTestHelper::SplitParameters(const char* parameters) {
  return repair::SplitParameters(parameters);
}

PosixAppHost::PosixAppHost(const TerminalOptions& options) : options_(options) {}

PosixAppHost::~PosixAppHost() {
  JoinWorker();
  window_.reset();
  ReleaseInstance();
}

bool PosixAppHost::AcquireInstance(const char* name) {
  if (lock_.Held()) return true;
  for (const std::string& path : {RuntimeLockPath(name), FallbackLockPath(name)}) {
    if (path.empty()) continue;
    switch (lock_.TryLock(path)) {
      case platform::LockResult::kLocked: return true;
      case platform::LockResult::kHeld: return false;
      case platform::LockResult::kUnusable: break;  // try the next place
    }
  }
  return true;  // no marker can be made: run rather than refuse
}

void PosixAppHost::ReleaseInstance() { lock_.Release(); }

WindowControls* PosixAppHost::CreateMainWindow(const WindowTexts& texts) {
  if (!window_) window_ = TerminalWindow::Create(options_, texts);
  return window_.get();
}

bool PosixAppHost::RunMessageLoop(const std::function<void(int)>& onTimer) {
  if (!window_) return true;
  TerminalWindow& window = *window_;
  window.SetLoopRunning(true);
  bool closed = false;
  for (;;) {
    if (window.TakeEndRequest()) break;
    if (window.CloseRequested()) {
      closed = true;
      break;
    }
    pollfd fds[3] = {{window.WakeFd(), POLLIN, 0},
                     {window.SignalFd(), POLLIN, 0},
                     {window.KeyboardFd(), POLLIN, 0}};
    const nfds_t count = window.KeyboardFd() >= 0 ? 3 : 2;
    const int timeout = window.MillisecondsUntilNextTimer(TerminalWindow::Clock::now());
    if (::poll(fds, count, timeout) < 0 && errno != EINTR) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));  // never spin
    }
    if (fds[1].revents & POLLIN) window.HandleSignals();
    if (count == 3 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) window.HandleKeyboard();
    if (window.CloseRequested()) continue;
    // One timer per turn, so that input and the end of the run are seen between them.
    int id = 0;
    if (window.PopDueTimer(TerminalWindow::Clock::now(), id)) onTimer(id);
  }
  window.SetLoopRunning(false);
  return closed;
}

bool PosixAppHost::StartThread(void (*entry)(void*), void* parameter) {
  if (entry == nullptr || worker_.joinable()) return false;
  // The UI thread takes the signals that close or resize the window.
  const platform::WindowSignalsBlocked blocked;
  try {
    worker_ = std::thread(entry, parameter);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

// The terminal window's EndRun returns at once once the loop has stopped running, so the
// worker's last step cannot wait for this thread.
void PosixAppHost::JoinWorker() {
  if (worker_.joinable()) worker_.join();
}

void PosixAppHost::LaunchProgram(const char* path, const char* parameters) {
  if (path == nullptr || path[0] == '\0') return;
  std::vector<std::string> arguments = SplitParameters(parameters);
  arguments.insert(arguments.begin(), path);
  ReleaseTerminal();
  platform::StartDetachedProgram(path, arguments);  // failures are not reported
}

void PosixAppHost::ReleaseTerminal() {
  if (window_) window_->ReleaseTerminal();
}

void PosixAppHost::CloseStreams() { std::fflush(nullptr); }

void PosixAppHost::Sleep(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace repair
