#include "platform/win32/transfer_channel.h"

#include <algorithm>

namespace repair::platform {

bool TransferChannel::Allocate() {
  for (HeapBuffer& buffer : buffers_) {
    if (!buffer.Allocate(kSlotSize)) return false;
  }
  return true;
}

bool TransferChannel::StartCall(std::uint32_t limitMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (left_) return false;
  inCall_ = true;
  callDeadline_ = Clock::now() + std::chrono::milliseconds(limitMs);
  changed_.notify_all();  // a caller waiting without a deadline now has one
  return true;
}

void TransferChannel::EndCall() {
  std::lock_guard<std::mutex> lock(mutex_);
  inCall_ = false;
}

void TransferChannel::PostHead(const HttpResponseHead& head) {
  std::lock_guard<std::mutex> lock(mutex_);
  head_ = head;
  headPosted_ = true;
  floor_.Start(Clock::now());
  changed_.notify_all();
}

std::uint8_t* TransferChannel::TakeSlot(int& slot) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (left_) return nullptr;
    for (int i = 0; i < kSlots; ++i) {
      if (slotFree_[i]) {
        slotFree_[i] = false;
        slot = i;
        return buffers_[i].data();
      }
    }
    Clock::time_point waited = Clock::now();
    changed_.wait(lock);
    floor_.Exclude(Clock::now() - waited);
  }
}

void TransferChannel::PostPiece(int slot, std::uint32_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  Event piece;
  piece.kind = Event::kPiece;
  piece.slot = slot;
  piece.count = count;
  pieces_.push_back(piece);
  floor_.Count(count);
  changed_.notify_all();
}

void TransferChannel::Finish(HttpResult result) {
  std::lock_guard<std::mutex> lock(mutex_);
  inCall_ = false;
  finished_ = true;
  result_ = result;
  changed_.notify_all();
}

bool TransferChannel::WaitForChange(std::unique_lock<std::mutex>& lock, Clock::time_point wakeAt) {
  if (inCall_) {
    if (Clock::now() >= callDeadline_) return false;
    wakeAt = std::min(wakeAt, callDeadline_);
  }
  if (wakeAt == Clock::time_point::max()) {
    changed_.wait(lock);
  } else {
    changed_.wait_until(lock, wakeAt);
  }
  return true;
}

TransferChannel::Event TransferChannel::Next() {
  std::unique_lock<std::mutex> lock(mutex_);
  const Clock::time_point idleAt = Clock::now() + std::chrono::milliseconds(kIdlePollMs);
  for (;;) {
    Event event;
    if (headPosted_ && !headDelivered_) {
      headDelivered_ = true;
      event.kind = Event::kHead;
      return event;
    }
    if (!pieces_.empty()) {
      event = pieces_.front();
      pieces_.pop_front();
      return event;
    }
    if (finished_) {
      event.result = result_;
      return event;
    }
    if (!floor_.Holds(Clock::now())) {
      tooSlow_ = true;
      event.kind = Event::kTooSlow;
      return event;
    }
    if (Clock::now() >= idleAt) {
      event.kind = Event::kIdle;
      return event;
    }
    if (!WaitForChange(lock, std::min(floor_.WindowEnd(), idleAt))) {
      event.kind = Event::kStalled;
      return event;
    }
  }
}

void TransferChannel::ReturnSlot(int slot) {
  std::lock_guard<std::mutex> lock(mutex_);
  slotFree_[slot] = true;
  changed_.notify_all();
}

void TransferChannel::Leave() {
  std::lock_guard<std::mutex> lock(mutex_);
  left_ = true;
  changed_.notify_all();
}

bool TransferChannel::WaitForFinish(bool outlastCall) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!finished_) {
    if (!outlastCall && inCall_) return false;
    // Its call may wait for bytes that would take the server a long time yet.
    if (tooSlow_ || !WaitForChange(lock)) return false;
  }
  return true;
}

}  // namespace repair::platform
