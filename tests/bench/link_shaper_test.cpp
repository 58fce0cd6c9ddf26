#include "link_shaper.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace bench {
namespace {

constexpr Nanos kMs = 1'000'000;
constexpr std::uint64_t k100Mbit = 100'000'000;

TEST(PacerTest, SerialisesAtTheRateAndDeliversOneDelayLater) {
  Pacer pacer(k100Mbit, 20 * kMs);
  EXPECT_EQ(pacer.SerialisationTime(12'500), 1 * kMs);  // 100 Mbit/s is 12.5 bytes a microsecond
  EXPECT_EQ(pacer.SerialisationTime(0), 0);

  const Nanos start = 1000 * kMs;
  EXPECT_TRUE(pacer.FreeAt(start));
  EXPECT_EQ(pacer.Send(start, 12'500), start + 1 * kMs + 20 * kMs);
  EXPECT_FALSE(pacer.FreeAt(start + kMs - 1));
  EXPECT_TRUE(pacer.FreeAt(start + kMs));
  EXPECT_EQ(pacer.free_at(), start + kMs);
}

TEST(PacerTest, ALateWakeUpKeepsTheRateAndALongIdleGapDoesNot) {
  struct Case {
    Nanos woke_late;  // after the link fell free
    Nanos expected_start;
  };
  const Nanos free_at = 500 * kMs + kMs;  // after a first send of 12,500 bytes at 500 ms
  for (const Case& c :
       {Case{0, free_at}, Case{Pacer::kCatchUp / 2, free_at}, Case{Pacer::kCatchUp, free_at},
        Case{Pacer::kCatchUp + 1, free_at + Pacer::kCatchUp + 1},
        Case{50 * kMs, free_at + 50 * kMs}}) {
    Pacer pacer(k100Mbit, 0);
    pacer.Send(500 * kMs, 12'500);
    ASSERT_EQ(pacer.free_at(), free_at);
    EXPECT_EQ(pacer.Send(free_at + c.woke_late, 12'500), c.expected_start + kMs)
        << "woke " << c.woke_late << " ns late";
  }
}

TEST(PacerTest, AStreamOfChunksTakesItsSizeOverTheRate) {
  // 25 MB in 16 KiB chunks at 100 Mbit/s: two seconds, whatever the chunking.
  Pacer pacer(k100Mbit, 20 * kMs);
  Nanos now = 0, arrives = 0;
  std::size_t left = 25'000'000;
  while (left > 0) {
    const std::size_t chunk = left < 16384 ? left : 16384;
    now = std::max(now, pacer.free_at());
    arrives = pacer.Send(now, chunk);
    left -= chunk;
  }
  EXPECT_NEAR(static_cast<double>(arrives), 2000.0 * kMs + 20 * kMs, 1000.0);
}

TEST(WindowTest, StartsSmallGrowsByWhatIsAcknowledgedUpToTheMost) {
  Window window(14'480, 100'000);
  EXPECT_EQ(window.Room(), 14'480u);
  window.OnSent(10'000);
  EXPECT_EQ(window.Room(), 4'480u);
  window.OnSent(4'480);
  EXPECT_EQ(window.Room(), 0u);
  window.OnAcked(14'480);  // a round trip of slow start doubles it
  EXPECT_EQ(window.window(), 28'960u);
  EXPECT_EQ(window.in_flight(), 0u);
  window.OnSent(28'960);
  window.OnAcked(28'960);
  window.OnSent(57'920);
  window.OnAcked(57'920);
  EXPECT_EQ(window.window(), 100'000u);
  EXPECT_EQ(window.Room(), 100'000u);
}

TEST(WindowTest, AnAcknowledgementOfMoreThanIsInFlightCountsWhatIs) {
  Window window(1000, 1'000'000);
  window.OnSent(300);
  window.OnAcked(5000);
  EXPECT_EQ(window.in_flight(), 0u);
  EXPECT_EQ(window.window(), 1300u);
  EXPECT_EQ(Window(5000, 2000).Room(), 2000u);  // the start never exceeds the most
}

TEST(NextInTurnTest, TakesTurnsAfterTheLastAndSkipsTheIdle) {
  const std::vector<bool> ready = {true, false, true, true};
  auto is_ready = [&](int i) { return static_cast<bool>(ready[i]); };
  struct Case {
    int last, expected;
  };
  for (const Case& c : {Case{-1, 0}, Case{0, 2}, Case{1, 2}, Case{2, 3}, Case{3, 0}, Case{9, 0}}) {
    EXPECT_EQ(NextInTurn(4, c.last, is_ready), c.expected) << "after " << c.last;
  }
  EXPECT_EQ(NextInTurn(4, 2, [](int) { return false; }), -1);
  EXPECT_EQ(NextInTurn(0, -1, [](int) { return true; }), -1);
  EXPECT_EQ(NextInTurn(1, 0, [](int) { return true; }), 0);  // the only one goes again
}

// Connections with data share one pacer as the relay drives it: equal chunks in turn, so two
// bulk flows finish together and a small response that joins late is not queued behind them.
TEST(NextInTurnTest, FlowsSharingOnePacerGetEqualShares) {
  Pacer pacer(k100Mbit, 20 * kMs);
  std::vector<std::size_t> left = {1'000'000, 1'000'000, 0};
  std::map<int, Nanos> finished;
  Nanos now = 0;
  int last = -1;
  for (;;) {
    if (now >= 10 * kMs && left[2] == 0 && !finished.count(2)) left[2] = 20'000;  // joins late
    const int next = NextInTurn(3, last, [&](int i) { return left[i] > 0; });
    if (next < 0) break;
    const std::size_t chunk = left[next] < 16384 ? left[next] : 16384;
    const Nanos arrives = pacer.Send(now, chunk);
    left[next] -= chunk;
    if (left[next] == 0) finished[next] = arrives;
    last = next;
    now = pacer.free_at();
  }
  ASSERT_EQ(finished.size(), 3u);
  // Two megabytes at 12.5 MB/s: 160 ms, and both bulk flows end within a chunk of each other.
  EXPECT_LE(std::abs(finished[0] - finished[1]), pacer.SerialisationTime(16384) * 2);
  EXPECT_GE(finished[1], 160 * kMs + 20 * kMs);
  // The late 20 kB took two turns among three flows, not the bulk flows' remaining 1.7 MB.
  EXPECT_LT(finished[2], 10 * kMs + 5 * pacer.SerialisationTime(16384) + 20 * kMs);
}

}  // namespace
}  // namespace bench
