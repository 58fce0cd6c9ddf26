// The terminal as the Linux window uses it: whether a descriptor is one and its size, raw
// keys and the alternate screen, the restore that puts the terminal right after a crash, and
// the signals that close or resize the window, turned into bytes on a pipe.
#pragma once

#include <signal.h>

#include <string>

#include "platform/posix/file_descriptor.h"

namespace repair::platform {

bool IsTerminal(int fd);
// The size of the terminal behind `fd`; false when it is none or reports no size.
bool TerminalSize(int fd, int& columns, int& rows);
// Drops the keys typed on terminal `fd` and not read yet.
void DiscardTypeAhead(int fd);
// Opens the terminal device `path` for reading and writing, never as the controlling
// terminal; an invalid descriptor when it cannot be opened.
FileDescriptor OpenTerminal(const std::string& path);

// The window's hold on a terminal: on `outputFd` the alternate screen without cursor or line
// wrap, and, where asked for, keys one by one from `inputFd`, unechoed, Ctrl-C as a byte
// (output processing stays on). Given back when the holder goes.
class TerminalModes {
 public:
  TerminalModes() = default;
  ~TerminalModes() { GiveBack(); }
  TerminalModes(const TerminalModes&) = delete;
  TerminalModes& operator=(const TerminalModes&) = delete;

  // Takes the terminal and arms the emergency restore (see tty.cpp) for an exit that skips
  // destructors and, with `restoreOnCrash`, for the crash signals too. `rawKeys` that the
  // terminal refuses leave RawKeys() false.
  void Take(int outputFd, int inputFd, bool rawKeys, bool restoreOnCrash);
  bool Taken() const { return taken_; }
  bool RawKeys() const { return rawKeys_; }
  // Main screen, cursor, line wrap and the modes as they were. Idempotent.
  void GiveBack();

 private:
  bool taken_ = false;
  bool rawKeys_ = false;
  bool crashHandlers_ = false;
  int outputFd_ = -1;
  int inputFd_ = -1;
};

// SIGINT, SIGTERM, SIGHUP and SIGWINCH, each written as a byte into a pipe that a poll() loop
// waits on. One SignalPipe at a time holds the process's handlers; while it does, others
// have their pipe but hear nothing. The handlers before it come back when it goes.
class SignalPipe {
 public:
  struct Caught {
    bool resize = false;  // SIGWINCH
    bool close = false;   // SIGINT, SIGTERM, SIGHUP
  };

  SignalPipe() = default;
  ~SignalPipe();
  SignalPipe(const SignalPipe&) = delete;
  SignalPipe& operator=(const SignalPipe&) = delete;

  // Makes the pipe and, with `listen`, installs the handlers. False when the pipe cannot be
  // made.
  bool Open(bool listen);
  bool Listening() const { return listening_; }
  int ReadFd() const { return read_.get(); }
  // Reads what the handlers wrote since the last call.
  Caught Take();

 private:
  FileDescriptor read_;
  FileDescriptor write_;
  bool listening_ = false;
};

// Blocks, on the calling thread and for the holder's life, the signals a SignalPipe listens
// for: a thread started meanwhile inherits the mask and leaves them to the window's thread.
class WindowSignalsBlocked {
 public:
  WindowSignalsBlocked();
  ~WindowSignalsBlocked();
  WindowSignalsBlocked(const WindowSignalsBlocked&) = delete;
  WindowSignalsBlocked& operator=(const WindowSignalsBlocked&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace repair::platform
