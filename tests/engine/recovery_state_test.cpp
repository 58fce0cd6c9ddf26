#include "engine/recovery_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace repair {
namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

const std::uint8_t kDigest[kMd5Length] = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                                          0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};

// Appends an entry the way the manifest step does, under the list lock, and returns it.
FileEntry* AddEntry(const std::string& name, std::uint32_t size, std::uint32_t state = Listed,
                    std::uint32_t done = 0) {
  auto entry = std::make_unique<FileEntry>(name.c_str(), size, kDigest);
  entry->state = state;
  entry->done = done;
  FileEntry* raw = entry.get();
  RecoveryState& recovery = GlobalRecoveryState();
  std::lock_guard<std::mutex> lock(recovery.filesMutex);
  recovery.files.Append(std::move(entry));
  return raw;
}

// Every test starts and ends with the process-wide state as a fresh process has it.
class RecoveryStateTest : public ::testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() {
    GlobalRecoveryState().running = 0;
    ASSERT_TRUE(ResetRecoveryState());
  }
};

TEST_F(RecoveryStateTest, NewEntryCopiesItsFieldsAndStartsListed) {
  std::string name = "data\\maps\\town.map";
  FileEntry entry(name.c_str(), 4096, kDigest);
  name[0] = 'X';  // the entry holds its own copy
  EXPECT_EQ(entry.name, "data\\maps\\town.map");
  EXPECT_EQ(entry.size, 4096u);
  EXPECT_EQ(std::memcmp(entry.md5, kDigest, kMd5Length), 0);
  EXPECT_EQ(entry.done.load(), 0u);
  EXPECT_EQ(entry.state.load(), static_cast<std::uint32_t>(Listed));
}

TEST_F(RecoveryStateTest, FreshStateIsAllZero) {
  EXPECT_EQ(GetPhase(), RecoveryPhase::Ready);
  EXPECT_EQ(IsPhaseChanged(), 0);
  EXPECT_EQ(GetError(), 0);
  EXPECT_FALSE(IsFinished());
  EXPECT_EQ(CountFiles(0), 0u);
}

TEST_F(RecoveryStateTest, PhaseFlagAndErrorAccessors) {
  RecoveryState& state = GlobalRecoveryState();
  state.phase = static_cast<std::int32_t>(RecoveryPhase::Finished);
  EXPECT_TRUE(IsFinished());
  EXPECT_EQ(GetPhase(), RecoveryPhase::Finished);
  state.phaseChanged = 1;
  EXPECT_EQ(IsPhaseChanged(), 1);
  AcknowledgePhase();
  EXPECT_EQ(IsPhaseChanged(), 0);
  SetError(RecoveryError::InvalidData);
  EXPECT_EQ(GetError(), 5);
  SetError(RecoveryError::NotExistHashFile);
  EXPECT_EQ(GetError(), 8);
}

TEST_F(RecoveryStateTest, SetPhaseAndWaitWaitsForTheAcknowledgement) {
  std::atomic<bool> acknowledged{false};
  std::atomic<bool> sawPhase{false};
  std::thread ui([&] {
    // Keep the flag raised for about 1.2 s, as a slow confirmation would, then clear it.
    Clock::time_point start = Clock::now();
    while (IsPhaseChanged() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    sawPhase = GetPhase() == RecoveryPhase::CheckFiles;
    while (MillisecondsSince(start) < 1200) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    acknowledged = true;
    AcknowledgePhase();
  });
  Clock::time_point start = Clock::now();
  SetPhaseAndWait(RecoveryPhase::CheckFiles);
  long long elapsed = MillisecondsSince(start);
  ui.join();
  EXPECT_TRUE(sawPhase) << "a raised flag comes with the phase that raised it";
  EXPECT_TRUE(acknowledged) << "returned while the flag was still raised";
  EXPECT_GE(elapsed, 1200);
  EXPECT_LT(elapsed, 5000);  // polled every 500 ms: about 1.5 s
  EXPECT_EQ(GetPhase(), RecoveryPhase::CheckFiles);
  EXPECT_EQ(IsPhaseChanged(), 0);
}

TEST_F(RecoveryStateTest, SetPhaseAndWaitRestsHalfASecondEvenWhenAcknowledgedAtOnce) {
  std::thread ui([] {
    while (IsPhaseChanged() == 0) std::this_thread::yield();
    AcknowledgePhase();
  });
  Clock::time_point start = Clock::now();
  SetPhaseAndWait(RecoveryPhase::DownloadManifest);
  long long elapsed = MillisecondsSince(start);
  ui.join();
  EXPECT_GE(elapsed, 500);
  EXPECT_LT(elapsed, 3000);
  EXPECT_EQ(GetPhase(), RecoveryPhase::DownloadManifest);
}

// Nobody acknowledges a phase once the UI has let the run go: a stop is what ends the wait.
TEST_F(RecoveryStateTest, AStopEndsAPhaseWaitThatNobodyAcknowledges) {
  for (const bool stopFirst : {false, true}) {
    if (stopFirst) RequestStop();
    std::atomic<int> result{-1};
    std::thread worker([&] { result = SetPhaseAndWait(RecoveryPhase::DownloadFiles) ? 1 : 0; });
    while (IsPhaseChanged() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    RequestStop();
    const Clock::time_point asked = Clock::now();
    while (result.load() < 0 && MillisecondsSince(asked) < 10000) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(result.load(), 0) << "the wait did not end for the stop; first: " << stopFirst;
    if (result.load() < 0) AcknowledgePhase();  // let the thread go rather than hang
    worker.join();
    EXPECT_EQ(GetPhase(), RecoveryPhase::DownloadFiles);
    Clear();
  }
}

// A stop asked for before the worker's run begins still ends that run; only the reset after
// the run forgets it.
TEST_F(RecoveryStateTest, AStopRequestOutlivesTheRunsOwnResetButNotTheFinalOne) {
  RecoveryState& state = GlobalRecoveryState();
  AddEntry("a.dat", 10);
  SetError(RecoveryError::NotExistFile);
  RequestStop();
  ASSERT_TRUE(BeginRun());
  EXPECT_TRUE(StopRequested());
  EXPECT_EQ(state.running.load(), 1);
  EXPECT_EQ(CountFiles(0), 0u);
  EXPECT_EQ(GetError(), 0);
  EXPECT_FALSE(BeginRun()) << "a second run while one is active";
  EXPECT_FALSE(ResetRecoveryState());
  EXPECT_TRUE(StopRequested());

  state.running = 0;
  EXPECT_TRUE(ResetRecoveryState());
  EXPECT_FALSE(StopRequested());
}

TEST_F(RecoveryStateTest, ResetDuringARunChangesNothing) {
  RecoveryState& state = GlobalRecoveryState();
  AddEntry("a.dat", 10);
  AddEntry("b.dat", 20);
  state.running = 1;
  state.phase = static_cast<std::int32_t>(RecoveryPhase::DownloadFiles);
  state.phaseChanged = 1;
  SetError(RecoveryError::NotExistFile);

  EXPECT_FALSE(ResetRecoveryState());
  EXPECT_EQ(CountFiles(0), 2u);
  EXPECT_EQ(GetPhase(), RecoveryPhase::DownloadFiles);
  EXPECT_EQ(IsPhaseChanged(), 1);
  EXPECT_EQ(GetError(), 6);

  state.running = 0;  // the run has ended
  EXPECT_TRUE(ResetRecoveryState());
  EXPECT_EQ(CountFiles(0), 0u);
  EXPECT_EQ(GetPhase(), RecoveryPhase::Ready);
  EXPECT_EQ(IsPhaseChanged(), 0);
  EXPECT_EQ(GetError(), 0);
  EXPECT_EQ(state.running.load(), 0);
}

TEST_F(RecoveryStateTest, CountFilesByMask) {
  for (std::uint32_t mask : {0u, 68u, 32u, 1u, 0xFFFFFFFFu}) EXPECT_EQ(CountFiles(mask), 0u);

  AddEntry("listed", 1, Listed);
  AddEntry("checking", 1, Checking);
  AddEntry("invalid", 1, Invalid);
  AddEntry("downloading", 1, Downloading);
  AddEntry("downloaded", 1, Downloaded);
  AddEntry("recovered", 1, Recovered);
  AddEntry("intact1", 1, Intact);
  AddEntry("intact2", 1, Intact);
  EXPECT_EQ(CountFiles(0), 8u);
  EXPECT_EQ(CountFiles(68), 3u);  // Invalid or Intact
  EXPECT_EQ(CountFiles(32), 1u);  // Recovered
  EXPECT_EQ(CountFiles(Intact), 2u);
  EXPECT_EQ(CountFiles(Listed | Checking), 2u);
  EXPECT_EQ(CountFiles(128), 0u);
}

TEST_F(RecoveryStateTest, SumTransferCountsExactlyTheTransferStates) {
  std::uint32_t total = 7, done = 7;
  EXPECT_TRUE(SumTransfer(total, done));
  EXPECT_EQ(total, 0u);
  EXPECT_EQ(done, 0u);

  AddEntry("a", 500, Intact, 500);
  AddEntry("b", 700, Intact, 700);
  AddEntry("c", 1000, Downloading, 250);
  EXPECT_TRUE(SumTransfer(total, done));
  EXPECT_EQ(total, 1000u);
  EXPECT_EQ(done, 250u);

  AddEntry("d", 10, Invalid, 0);
  AddEntry("e", 20, Downloaded, 20);
  AddEntry("f", 40, Recovered, 40);
  AddEntry("g", 80, Listed, 0);
  AddEntry("h", 160, Checking, 0);
  AddEntry("i", 320, Invalid | Intact, 320);  // not exactly one of the four: not counted
  EXPECT_TRUE(SumTransfer(total, done));
  EXPECT_EQ(total, 1070u);
  EXPECT_EQ(done, 310u);
}

TEST_F(RecoveryStateTest, SumTransferWrapsModulo32Bits) {
  AddEntry("big1", 0xF0000000u, Downloaded, 0xF0000000u);
  AddEntry("big2", 0x20000000u, Downloading, 0x10000010u);
  std::uint32_t total = 0, done = 0;
  EXPECT_TRUE(SumTransfer(total, done));
  EXPECT_EQ(total, 0x10000000u);
  EXPECT_EQ(done, 0x00000010u);
}

TEST_F(RecoveryStateTest, PerIndexReadsAndReadsPastTheEnd) {
  AddEntry("first.dat", 11, Intact, 11);
  AddEntry("second.dat", 22, Downloading, 5);
  AddEntry("third.dat", 33, Invalid, 0);
  EXPECT_EQ(FileNameAt(0), "first.dat");
  EXPECT_EQ(FileNameAt(2), "third.dat");
  EXPECT_EQ(FileStateAt(1), static_cast<std::uint32_t>(Downloading));
  EXPECT_EQ(FileSizeAt(1), 22u);
  EXPECT_EQ(FileDoneAt(1), 5u);
  EXPECT_EQ(FileSizeAt(2), 33u);
  for (std::uint32_t index : {3u, 4u, 1000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(FileStateAt(index), 0u) << index;
    EXPECT_EQ(FileSizeAt(index), 0u) << index;
    EXPECT_EQ(FileDoneAt(index), 0u) << index;
    EXPECT_EQ(FileNameAt(index), "") << index;
  }
}

TEST(RecoveryErrorText, KeysAndDefaultTextsOfEveryCode) {
  struct Row {
    std::int32_t code;
    const char* key;
    const char* text;
  };
  const char* unknown = "Unknown error has occurred.  Please restart the game.";
  const Row rows[] = {
      {0, "ERR_UNKNOWN", unknown},
      {1, "ERR_UNKNOWN", unknown},
      {2, "ERR_NETWORKDISCONNECTED",
       "There is no network connection.  Please check your network connection."},
      {3, "ERR_FAILNETWORKCONNECTION",
       "Network Connection failed.  Please check your network connection."},
      {4, "ERR_MEMORYALLOCATION",
       "There is not enough free memory.  Exit the programs that are not in use to free more "
       "memory space."},
      {5, "ERR_INVALIDDATA", "Invalid data has been processed.  Exit the program and try again."},
      {6, "ERR_NOTEXISTFILE", "File cannot be found.  Exit the program and try again."},
      {7, "ERR_NOTEXISTVERSIONFILE",
       "Version information cannot be verified.  Please reinstall the client."},
      {8, "ERR_NOTEXISTHASHFILE",
       "Recovery information cannot be verified.  Exit the program and try again."},
      {9, "ERR_LINKEDFOLDER",
       "A folder of the client is a link to another place, which the repair does not write "
       "through.  Move the folder back and try again."},
      {10, "ERR_DISKSPACE",
       "There is not enough free disk space for the files to download.  Free some disk space "
       "and try again."},
      {11, "ERR_UNKNOWN", unknown},
      {-1, "ERR_UNKNOWN", unknown},
      {INT32_MIN, "ERR_UNKNOWN", unknown},
      {INT32_MAX, "ERR_UNKNOWN", unknown},
  };
  for (const Row& row : rows) {
    EXPECT_STREQ(ErrorMessageKey(row.code), row.key) << row.code;
    EXPECT_STREQ(ErrorDefaultText(row.code), row.text) << row.code;
  }
  EXPECT_STREQ(ErrorMessageKey(static_cast<std::int32_t>(RecoveryError::NotExistVersionFile)),
               "ERR_NOTEXISTVERSIONFILE");
}

// One thread changes the list's shape under the lock (and updates entries without it, as the
// worker does), while another reads every row as the refresh does. Run under the sanitizers.
TEST_F(RecoveryStateTest, RowReadsAreSafeWhileTheListChangesShape) {
  RecoveryState& state = GlobalRecoveryState();
  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> passes{0};
  std::thread worker([&] {
    // For 300 ms, and at least 20 complete reader passes (within two seconds).
    Clock::time_point start = Clock::now();
    for (std::uint32_t round = 0;
         MillisecondsSince(start) < 300 || (passes < 20 && MillisecondsSince(start) < 2000);
         ++round) {
      FileEntry* added = AddEntry("f" + std::to_string(round), round, Listed);
      added->state.store(Checking);  // the worker keeps its own pointer valid
      added->done.store(round / 2);
      if (round % 3 == 0) {
        // Entries of even size are destroyed, the others put back in their order.
        std::lock_guard<std::mutex> lock(state.filesMutex);
        FileList kept;
        for (auto& entry : state.files) {
          if (entry->size % 2 != 0) kept.Append(std::move(entry));
        }
        state.files.Clear();
        for (auto& entry : kept) state.files.Append(std::move(entry));
      }
      if (round % 5000 == 4999) {
        ASSERT_TRUE(ResetRecoveryState());
      }
    }
    stop = true;
  });
  std::uint64_t rowsRead = 0;
  bool namesWellFormed = true;
  bool statesValid = true;
  while (!stop) {
    std::uint32_t count = CountFiles(0);
    for (std::uint32_t i = 0; i < count + 2; ++i) {
      std::string name = FileNameAt(i);
      std::uint32_t fileState = FileStateAt(i);
      FileSizeAt(i);
      FileDoneAt(i);
      if (!name.empty() && name[0] != 'f') namesWellFormed = false;
      if (fileState != 0 && fileState != Listed && fileState != Checking) statesValid = false;
      ++rowsRead;
    }
    std::uint32_t total = 0, done = 0;
    SumTransfer(total, done);
    CountFiles(68);
    ++passes;
  }
  worker.join();
  EXPECT_TRUE(namesWellFormed);
  EXPECT_TRUE(statesValid);
  EXPECT_GT(rowsRead, 0u);
  std::printf("[ info     ] %llu rows read in %llu passes while the list changed\n",
              static_cast<unsigned long long>(rowsRead),
              static_cast<unsigned long long>(passes.load()));
}

// Not a test of behaviour: prints what a refresh's full pass over a large list costs, so that
// CI logs show it. The refresh reads state and done of every row twice a second.
TEST_F(RecoveryStateTest, BenchmarkFullPassOverOneHundredThousandRows) {
  constexpr std::uint32_t kRows = 100000;
  {
    RecoveryState& state = GlobalRecoveryState();
    std::lock_guard<std::mutex> lock(state.filesMutex);
    for (std::uint32_t i = 0; i < kRows; ++i) {
      auto entry = std::make_unique<FileEntry>("data\\file.bin", i, kDigest);
      entry->state = (i % 2) ? Intact : Downloading;
      entry->done = i;
      state.files.Append(std::move(entry));
    }
  }
  constexpr int kPasses = 5;
  double best = 1e30;
  double sum = 0;
  std::uint64_t checksum = 0;
  for (int pass = 0; pass < kPasses; ++pass) {
    Clock::time_point start = Clock::now();
    for (std::uint32_t i = 0; i < kRows; ++i) checksum += FileStateAt(i) + FileDoneAt(i);
    double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    best = ms < best ? ms : best;
    sum += ms;
  }
  std::printf(
      "[ bench    ] FileStateAt+FileDoneAt over %u rows: best %.3f ms, mean %.3f ms "
      "(%.1f ns per row, best pass)\n",
      kRows, best, sum / kPasses, best * 1e6 / kRows);
  std::fflush(stdout);
  // The pass visits every row: (Intact + Downloading) * kRows/2 plus the sum of all `done`.
  std::uint64_t expected = static_cast<std::uint64_t>(Intact + Downloading) * (kRows / 2) +
                           static_cast<std::uint64_t>(kRows - 1) * kRows / 2;
  EXPECT_EQ(checksum, expected * kPasses);
}

}  // namespace
}  // namespace repair
