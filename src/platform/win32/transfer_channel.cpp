#include "platform/win32/transfer_channel.h"

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
    changed_.wait(lock);
  }
}

void TransferChannel::PostPiece(int slot, std::uint32_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  Event piece;
  piece.kind = Event::kPiece;
  piece.slot = slot;
  piece.count = count;
  pieces_.push_back(piece);
  changed_.notify_all();
}

void TransferChannel::Finish(HttpResult result) {
  std::lock_guard<std::mutex> lock(mutex_);
  inCall_ = false;
  finished_ = true;
  result_ = result;
  changed_.notify_all();
}

bool TransferChannel::WaitForChange(std::unique_lock<std::mutex>& lock) {
  if (!inCall_) {
    changed_.wait(lock);
    return true;
  }
  Clock::time_point deadline = callDeadline_;
  if (Clock::now() >= deadline) return false;
  changed_.wait_until(lock, deadline);
  return true;
}

TransferChannel::Event TransferChannel::Next() {
  std::unique_lock<std::mutex> lock(mutex_);
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
    if (!WaitForChange(lock)) {
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

bool TransferChannel::WaitForFinish() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!finished_) {
    if (!WaitForChange(lock)) return false;
  }
  return true;
}

}  // namespace repair::platform
