#include "platform/progress_floor.h"

#include <atomic>

#include "platform/http_client.h"
#include "platform/progress_floor_test_hooks.h"

namespace repair::platform {
namespace {

std::atomic<std::uint32_t> g_floorBytes{kProgressFloorBytes};
std::atomic<std::uint32_t> g_floorWindowMs{kProgressWindowMs};

}  // namespace

ProgressFloor ProgressFloor::Current() {
  return ProgressFloor(g_floorBytes.load(), std::chrono::milliseconds(g_floorWindowMs.load()));
}

void ProgressFloor::Start(Clock::time_point now) {
  started_ = true;
  windowStart_ = now;
  counted_ = 0;
}

bool ProgressFloor::Holds(Clock::time_point now) {
  if (!started_ || now - windowStart_ < window_) return true;
  if (counted_ < minBytes_) return false;
  Start(now);
  return true;
}

void SetHttpProgressFloor(std::uint32_t minBytes, std::uint32_t windowMs) {
  g_floorBytes = minBytes != 0 ? minBytes : kProgressFloorBytes;
  g_floorWindowMs = windowMs != 0 ? windowMs : kProgressWindowMs;
}

}  // namespace repair::platform
