// The slowest body both HTTP clients accept (kProgressFloorBytes in http_client.h): a body
// that brings fewer than a floor's bytes in one window of waiting for the network ends like a
// stalled one. The windows follow one another: each ends at the first check at or after its
// length, and the next starts there. Time the transfer spends handing bytes to its sink is
// not waiting for the network and is left out, so a slow disk never passes for a slow server.
#pragma once

#include <chrono>
#include <cstdint>

namespace repair::platform {

class ProgressFloor {
 public:
  using Clock = std::chrono::steady_clock;

  // The floor in force: http_client.h's, unless a test has changed it.
  static ProgressFloor Current();

  ProgressFloor(std::uint32_t minBytes, Clock::duration window)
      : minBytes_(minBytes), window_(window) {}

  // The first window starts at `now`; until then the floor holds whatever the time.
  void Start(Clock::time_point now);
  void Count(std::uint64_t bytes) { counted_ += bytes; }
  // `spent` went on anything but waiting for the network: it extends the current window.
  void Exclude(Clock::duration spent) { windowStart_ += spent; }
  // False once a whole window has passed with fewer than the floor's bytes in it. A window
  // that passed with enough starts the next one at `now`.
  bool Holds(Clock::time_point now);
  // When the current window closes: the time to ask Holds next; the end of time until started.
  Clock::time_point WindowEnd() const {
    return started_ ? windowStart_ + window_ : Clock::time_point::max();
  }

 private:
  std::uint64_t minBytes_;
  Clock::duration window_;
  bool started_ = false;
  Clock::time_point windowStart_;
  std::uint64_t counted_ = 0;  // in the current window
};

}  // namespace repair::platform
