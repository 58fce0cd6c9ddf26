// The arithmetic of the emulated link, kept apart from the sockets so that it can be tested
// without a clock: one pacer per direction shared by every connection, one congestion window per
// connection and direction, and the round-robin turn over the connections that have data.
// Times are nanoseconds on any monotonic clock.
#ifndef REPAIR_BENCH_LINK_SHAPER_H_
#define REPAIR_BENCH_LINK_SHAPER_H_

#include <cstddef>
#include <cstdint>
#include <functional>

namespace bench {

using Nanos = std::int64_t;

// One direction of the link: it serialises bytes at `bits_per_second` and each byte arrives
// `delay` after its last bit left.
class Pacer {
 public:
  // A wake-up that came this late after the link fell free does not cost the link the time it
  // overslept: sending resumes where the last one ended. A longer gap is idle time.
  static constexpr Nanos kCatchUp = 1'000'000;

  Pacer(std::uint64_t bits_per_second, Nanos delay)
      : bits_per_second_(bits_per_second), delay_(delay) {}

  // True when a send may start at `now`.
  bool FreeAt(Nanos now) const { return free_at_ <= now; }
  // When the link falls free (may be in the past).
  Nanos free_at() const { return free_at_; }
  Nanos delay() const { return delay_; }

  // Puts `bytes` on the link at `now` (the caller checked FreeAt); returns when they arrive
  // at the far end.
  Nanos Send(Nanos now, std::size_t bytes);

  // How long `bytes` occupy the link.
  Nanos SerialisationTime(std::size_t bytes) const;

 private:
  std::uint64_t bits_per_second_;
  Nanos delay_;
  Nanos free_at_ = 0;
};

// The bytes one connection may have in flight in one direction: sent into the link and not yet
// acknowledged (an acknowledgement comes back one delay after the bytes reached the receiver).
// It starts as a new TCP connection's window and grows by every byte acknowledged, as slow start
// does on a link that loses nothing, up to `max_bytes`.
class Window {
 public:
  Window(std::size_t initial_bytes, std::size_t max_bytes)
      : window_(initial_bytes < max_bytes ? initial_bytes : max_bytes), max_(max_bytes) {}

  // How many more bytes may be sent now.
  std::size_t Room() const { return in_flight_ < window_ ? window_ - in_flight_ : 0; }
  std::size_t in_flight() const { return in_flight_; }
  std::size_t window() const { return window_; }

  void OnSent(std::size_t bytes) { in_flight_ += bytes; }
  // `bytes` sent earlier were acknowledged (never more than are in flight).
  void OnAcked(std::size_t bytes);

 private:
  std::size_t window_;
  std::size_t max_;
  std::size_t in_flight_ = 0;
};

// The next of `count` connections to send, in turn after `last` (the one that sent last; pass
// count - 1, or any value >= count, to start at 0), for which `ready` holds; -1 when none is.
int NextInTurn(int count, int last, const std::function<bool(int)>& ready);

}  // namespace bench

#endif  // REPAIR_BENCH_LINK_SHAPER_H_
