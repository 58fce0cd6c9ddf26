// The hand-over between the thread that makes a response's blocking WinINet calls and the
// thread that called HttpGet. The fetch thread reads the body into one of two large buffers
// while the caller hands the other to the sink, and it stamps each blocking call with the
// time it may take, so that the caller can give up on a call that never returns: Wine's
// WinINet applies no receive limit to the connection InternetOpenUrl makes, and closing a
// handle does not end a call that waits on it.
//
// The caller also holds the body to the floor on its progress (platform/progress_floor.h):
// the bytes are counted as the fetch thread posts them, from the head on, so a blocking read
// that waits for more bytes than a trickling server sends is no hiding place. The time the
// fetch thread waits for a buffer the sink still holds is not waiting for the network.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "common/heap_buffer.h"
#include "platform/http_client.h"
#include "platform/progress_floor.h"

namespace repair::platform {

class TransferChannel {
 public:
  static constexpr int kSlots = 2;
  static constexpr std::uint32_t kSlotSize = 1u << 20;
  static constexpr std::uint32_t kIdlePollMs = 250;

  struct Event {
    enum Kind {
      kHead,     // head() holds the accepted head
      kPiece,    // `count` bytes in SlotData(slot); hand the slot back with ReturnSlot
      kEnd,      // the fetch thread ended with `result`, after every piece
      kStalled,  // the fetch thread's current call outlasted its limit
      kTooSlow,  // the body came slower than the floor; the fetch thread is abandoned
      kIdle,     // nothing came for kIdlePollMs: the caller may ask whether to go on
    };
    Kind kind = kEnd;
    int slot = -1;
    std::uint32_t count = 0;
    HttpResult result = HttpResult::kOk;
  };

  TransferChannel() = default;
  TransferChannel(const TransferChannel&) = delete;
  TransferChannel& operator=(const TransferChannel&) = delete;

  // Obtains the buffers; false when there is no memory for them.
  bool Allocate();

  // The fetch thread. StartCall stamps a blocking call that may take `limitMs`; it returns
  // false, asking for no further call, once the caller has left.
  bool StartCall(std::uint32_t limitMs);
  void EndCall();
  void PostHead(const HttpResponseHead& head);
  // A free buffer of kSlotSize bytes, once the caller has handed one back; null once the
  // caller has left.
  std::uint8_t* TakeSlot(int& slot);
  void PostPiece(int slot, std::uint32_t count);
  // The fetch thread's last touch of the channel.
  void Finish(HttpResult result);

  // The caller. Next waits for what comes next: the head first, then the pieces in order,
  // then the end; a stall or a body below the floor is reported once nothing else is waiting,
  // and kIdle after each kIdlePollMs of waiting in vain.
  Event Next();
  const HttpResponseHead& head() const { return head_; }
  const std::uint8_t* SlotData(int slot) const { return buffers_[slot].data(); }
  void ReturnSlot(int slot);
  // Stops listening: the fetch thread ends at its next step, closing its handles.
  void Leave();
  // Waits until the fetch thread has finished (true), or its current call stalled or the
  // body came too slowly (false: the fetch thread ends on its own). With `outlastCall` false
  // (a sink that refused a piece, a caller that need not wait for the network) it does not
  // wait out a call in progress either: false as soon as the fetch thread is in one.
  bool WaitForFinish(bool outlastCall = true);

 private:
  using Clock = std::chrono::steady_clock;

  // Under `mutex_`: waits for a change, or until the current call's limit or `wakeAt` passes.
  // False when the call's limit has passed.
  bool WaitForChange(std::unique_lock<std::mutex>& lock,
                     Clock::time_point wakeAt = Clock::time_point::max());

  std::mutex mutex_;
  std::condition_variable changed_;
  HeapBuffer buffers_[kSlots];
  bool slotFree_[kSlots] = {true, true};
  std::deque<Event> pieces_;
  HttpResponseHead head_;
  bool headPosted_ = false;
  bool headDelivered_ = false;
  bool finished_ = false;
  HttpResult result_ = HttpResult::kOk;
  bool left_ = false;
  bool inCall_ = false;
  Clock::time_point callDeadline_;
  ProgressFloor floor_ = ProgressFloor::Current();  // started with the head
  bool tooSlow_ = false;
};

}  // namespace repair::platform
