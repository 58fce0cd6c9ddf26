// How EndRun reaches the message loop, as a sent message reaches a window: a request from
// the worker thread wakes the loop through a pipe and waits until the loop has taken it.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/posix/file_descriptor.h"

namespace repair::terminal {

class EndRunGate {
 public:
  // The calling thread is the UI thread. False when the wake-up pipe cannot be made.
  bool Open();
  // The loop's poll() waits on it; readable once an end was asked for.
  int WakeFd() const { return wakeRead_.get(); }

  // From the UI thread: marks the end for the loop to see when the current handler returns.
  // From another thread while the loop runs: waits until TakeEndRequest has taken it;
  // outside the loop (before it, or once the run has ended) returns at once, asking nothing.
  void RequestEnd();
  // True once per request; releases a waiting caller.
  bool TakeEndRequest();
  void SetLoopRunning(bool running);

 private:
  std::thread::id uiThread_;
  platform::FileDescriptor wakeRead_;
  platform::FileDescriptor wakeWrite_;
  std::mutex mutex_;
  std::condition_variable taken_;
  bool requested_ = false;
  bool loopRunning_ = false;
};

}  // namespace repair::terminal
