#include "link_shaper.h"

#include <algorithm>

namespace bench {

Nanos Pacer::SerialisationTime(std::size_t bytes) const {
  // 128-bit intermediate: bytes * 8e9 overflows 64 bits past 2 GB, and a chunk is far smaller,
  // but the arithmetic should not depend on that.
  return static_cast<Nanos>(static_cast<unsigned __int128>(bytes) * 8 * 1'000'000'000 /
                            bits_per_second_);
}

Nanos Pacer::Send(Nanos now, std::size_t bytes) {
  const Nanos start = free_at_ >= now - kCatchUp ? free_at_ : now;
  free_at_ = start + SerialisationTime(bytes);
  return free_at_ + delay_;
}

void Window::OnAcked(std::size_t bytes) {
  bytes = std::min(bytes, in_flight_);
  in_flight_ -= bytes;
  window_ = std::min(max_, window_ + bytes);
}

int NextInTurn(int count, int last, const std::function<bool(int)>& ready) {
  if (count <= 0) return -1;
  if (last < 0 || last >= count) last = count - 1;
  for (int step = 1; step <= count; ++step) {
    const int candidate = (last + step) % count;
    if (ready(candidate)) return candidate;
  }
  return -1;
}

}  // namespace bench
