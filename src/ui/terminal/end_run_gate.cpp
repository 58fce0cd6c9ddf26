#include "ui/terminal/end_run_gate.h"

#include "platform/posix/fd_io.h"

namespace repair::terminal {

bool EndRunGate::Open() {
  uiThread_ = std::this_thread::get_id();
  return platform::MakePipe(wakeRead_, wakeWrite_);
}

void EndRunGate::RequestEnd() {
  std::unique_lock<std::mutex> lock(mutex_);
  const bool fromUi = std::this_thread::get_id() == uiThread_;
  if (!fromUi && !loopRunning_) return;  // the run is over: nobody takes it any more
  requested_ = true;
  platform::PokePipe(wakeWrite_.get(), 'e');
  if (fromUi) return;
  taken_.wait(lock, [this] { return !requested_ || !loopRunning_; });
}

bool EndRunGate::TakeEndRequest() {
  platform::Drain(wakeRead_.get());
  std::lock_guard<std::mutex> lock(mutex_);
  if (!requested_) return false;
  requested_ = false;
  taken_.notify_all();
  return true;
}

void EndRunGate::SetLoopRunning(bool running) {
  std::lock_guard<std::mutex> lock(mutex_);
  loopRunning_ = running;
  if (!running) {
    requested_ = false;
    taken_.notify_all();
  }
}

}  // namespace repair::terminal
