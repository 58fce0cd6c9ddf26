// The refresh against the recording fake window and the real process-wide recovery state.
#include "ui/refresh.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/format.h"
#include "engine/recovery_state.h"
#include "strings/string_table.h"
#include "support/fake_window.h"

namespace repair {
namespace {

using Rows = std::vector<std::vector<std::string>>;

std::string SizeText(std::uint32_t size) {
  char buffer[kTextBufferSize];
  FormatSizeText(buffer, size);
  return buffer;
}

std::string ProgressText(std::uint32_t state, std::uint32_t done, std::uint32_t size,
                         std::int32_t counter = 0) {
  char buffer[kTextBufferSize];
  FormatProgressText(buffer, state, done, size, counter);
  return buffer;
}

TEST(RefreshTextTest, SizeTextsTruncateToTheirUnit) {
  EXPECT_EQ(SizeText(0), "0 B ");
  EXPECT_EQ(SizeText(1023), "1023 B ");
  EXPECT_EQ(SizeText(1024), "1 KB ");
  EXPECT_EQ(SizeText(1536), "1 KB ");
  EXPECT_EQ(SizeText(1048575), "1023 KB ");
  EXPECT_EQ(SizeText(1048576), "1 MB ");
  EXPECT_EQ(SizeText(4294967295u), "4095 MB ");
}

TEST(RefreshTextTest, ProgressCellTextsByState) {
  EXPECT_EQ(ProgressText(Listed, 0, 10), "");
  EXPECT_EQ(ProgressText(0, 0, 0), "");  // a row past the end of the list
  EXPECT_EQ(ProgressText(Invalid, 0, 10), "invalid");
  EXPECT_EQ(ProgressText(Intact, 10, 10), "Ok");
  const char* checking[] = {"checking", "checking.", "checking..", "checking...", "checking"};
  for (int counter = 0; counter < 5; ++counter) {
    EXPECT_EQ(ProgressText(Checking, 0, 10, counter), checking[counter]) << counter;
  }
  EXPECT_EQ(ProgressText(Checking, 0, 10, -3), "checking");

  // Double precision before the truncation: these ratios print one less than their value.
  EXPECT_EQ(ProgressText(Downloading, 29, 100), "28 %");
  EXPECT_EQ(ProgressText(Downloaded, 57, 100), "56 %");
  EXPECT_EQ(ProgressText(Recovered, 100, 100), "100 %");
  EXPECT_EQ(ProgressText(Downloading, 150, 100), "150 %");
  EXPECT_EQ(ProgressText(Downloading, 4294967295u, 1), "2147483647 %");
  // A file of 0 bytes: nothing fetched yet while downloading, complete afterwards.
  EXPECT_EQ(ProgressText(Downloading, 0, 0), "0 %");
  EXPECT_EQ(ProgressText(Downloaded, 0, 0), "100 %");
  EXPECT_EQ(ProgressText(Recovered, 0, 0), "100 %");
}

class RefreshTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GlobalStringTable().Clear();
    ResetRecoveryState();
  }
  void TearDown() override { SetUp(); }

  static void Add(const char* name, std::uint32_t size, std::uint32_t state = Listed,
                  std::uint32_t done = 0) {
    RecoveryState& recovery = GlobalRecoveryState();
    auto entry = std::make_unique<FileEntry>(name, size, nullptr);
    entry->state = state;
    entry->done = done;
    std::lock_guard<std::mutex> lock(recovery.filesMutex);
    recovery.files.Append(std::move(entry));
  }
  static FileEntry& Entry(std::size_t index) { return *GlobalRecoveryState().files.At(index); }
  static void SetPhase(RecoveryPhase phase) {
    GlobalRecoveryState().phase = static_cast<std::int32_t>(phase);
  }
  // As the worker's handshake does: the phase, then the raised flag.
  static void Publish(RecoveryPhase phase) {
    SetPhase(phase);
    GlobalRecoveryState().phaseChanged = 1;
  }
  void Refresh(bool quiet = false) { RefreshProgress(window_, state_, quiet); }
  // Publishes CheckFiles over `count` listed entries and lets the refresh insert the rows.
  void InsertRows(int count) {
    for (int i = 0; i < count; ++i) Add(("f" + std::to_string(i)).c_str(), 10);
    Publish(RecoveryPhase::CheckFiles);
    Refresh();
  }

  test::FakeWindow window_;
  RefreshState state_;
};

TEST_F(RefreshTest, StatusDotsCycleAndTheTimerIsStoppedFirstAndArmedLast) {
  for (int i = 0; i < 7; ++i) Refresh();
  EXPECT_EQ(window_.statusTexts, (std::vector<std::string>{"Ready", "Ready.", "Ready..", "Ready...",
                                                           "Ready....", "Ready.....", "Ready"}));
  EXPECT_EQ(window_.calls.front(), "KillTimer 101");
  EXPECT_EQ(window_.calls.back(), "SetTimer 101 500");
  EXPECT_EQ(state_.counter, 7);

  // The counter wraps like the 32-bit value it is; a negative one shows no dots.
  state_.counter = INT_MAX;
  Refresh();
  EXPECT_EQ(state_.counter, INT_MIN);
  Refresh();
  EXPECT_EQ(window_.statusTexts.back(), "Ready");

  const char* defaults[] = {"Ready",
                            "Checking version",
                            "Downloading recovery information",
                            "Checking file integrity",
                            "Downloading files",
                            "Recovering files",
                            "Finished"};
  for (int phase = 0; phase <= 6; ++phase) {
    state_.counter = 0;
    SetPhase(static_cast<RecoveryPhase>(phase));
    Refresh();
    EXPECT_EQ(window_.statusTexts.back(), defaults[phase]);
  }
  GlobalStringTable().Insert("STR_PROGRESS_COMPLETE", "Done");
  state_.counter = 2;
  Refresh();
  EXPECT_EQ(window_.statusTexts.back(), "Done..");
}

std::string ByteCount(std::uint64_t bytes) {
  char buffer[kTextBufferSize];
  FormatByteCount(buffer, bytes);
  return buffer;
}

TEST(RefreshTextTest, ByteCountsTruncateToTheirUnitBeyondFourGigabytes) {
  const std::uint64_t kGiB = std::uint64_t{1} << 30;
  EXPECT_EQ(ByteCount(0), "0 B");
  EXPECT_EQ(ByteCount(1023), "1023 B");
  EXPECT_EQ(ByteCount(1024), "1 KB");
  EXPECT_EQ(ByteCount((1 << 20) - 1), "1023 KB");
  EXPECT_EQ(ByteCount(1 << 20), "1 MB");
  EXPECT_EQ(ByteCount(10 * kGiB - 1), "10239 MB");
  EXPECT_EQ(ByteCount(10 * kGiB), "10.0 GB");
  EXPECT_EQ(ByteCount(10 * kGiB + kGiB / 10 * 9 + kGiB / 20), "10.9 GB");  // 10.95: truncated
  EXPECT_EQ(ByteCount(std::uint64_t{5000} * kGiB), "5000.0 GB");
  EXPECT_EQ(PlanText("$FILES$ files, $SIZE$", 12, 5 << 20), "12 files, 5 MB");
  EXPECT_EQ(PlanText("$SIZE$ in $FILES$ ($FILES$)", 1, 0), "0 B in 1 (1)");
  EXPECT_EQ(PlanText("no numbers", 1, 1), "no numbers");
}

// Only while files are downloaded, and only once the run has planned them, does the status
// line say how much; a translated pattern is followed.
TEST_F(RefreshTest, TheDownloadPlanFollowsTheStatusTextOnceKnown) {
  SetPhase(RecoveryPhase::DownloadFiles);
  Refresh();
  EXPECT_EQ(window_.statusTexts.back(), "Downloading files");
  PublishPlanTotals(3, 3 << 20);
  state_.counter = 1;
  Refresh();
  EXPECT_EQ(window_.statusTexts.back(), "Downloading files: 3 files, 3 MB.");
  GlobalStringTable().Insert("STR_PROGRESS_DOWNLOADPLAN", "$SIZE$ in $FILES$ Dateien");
  state_.counter = 0;
  Refresh();
  EXPECT_EQ(window_.statusTexts.back(), "Downloading files: 3 MB in 3 Dateien");
  SetPhase(RecoveryPhase::RecoverFiles);
  state_.counter = 0;
  Refresh();
  EXPECT_EQ(window_.statusTexts.back(), "Recovering files");
}

TEST_F(RefreshTest, ProgressPositionFollowsThePhase) {
  SetPhase(RecoveryPhase::CheckFiles);
  Refresh();  // empty list
  Add("a", 10, Intact, 10);
  Add("b", 10, Checking);
  Add("c", 10, Listed);
  Refresh();
  Entry(1).state = Invalid;
  Refresh();
  EXPECT_EQ(window_.positions, (std::vector<int>{0, 333, 666}));

  SetPhase(RecoveryPhase::DownloadFiles);
  Entry(1).state = Intact;
  Refresh();  // nothing to transfer
  Entry(1).state = Downloading;
  Entry(1).done = 5;
  Refresh();
  Entry(1).done = 15;
  Refresh();
  SetPhase(RecoveryPhase::RecoverFiles);
  Refresh();
  SetPhase(RecoveryPhase::Ready);
  Refresh();
  EXPECT_EQ(window_.positions, (std::vector<int>{0, 333, 666, 0, 500, 1500, 1000, 0}));
}

TEST_F(RefreshTest, ConfirmationIsAnsweredBeforeThePhaseIsAcknowledged) {
  std::vector<int> flagWhileOpen;
  window_.onBox = [&] { flagWhileOpen.push_back(IsPhaseChanged()); };
  window_.answers = {MessageBoxAnswer::kNo};
  Publish(RecoveryPhase::DownloadManifest);
  Refresh();
  ASSERT_EQ(window_.boxes.size(), 1u);
  EXPECT_EQ(window_.boxes[0].text,
            "Recovery of the corrupted client files will commence. Please shut down all running "
            "operations before it begins.\nWould you like to proceed?");
  EXPECT_EQ(window_.boxes[0].caption, "Confirm");
  EXPECT_EQ(window_.boxes[0].kind, MessageBoxKind::kYesNoQuestion);
  EXPECT_EQ(flagWhileOpen, std::vector<int>{1});
  EXPECT_EQ(window_.EndRuns(), 1);  // No ends the run ...
  EXPECT_TRUE(state_.declined);     // ... as declined, for the exit status ...
  EXPECT_EQ(IsPhaseChanged(), 0);   // ... and the phase is still acknowledged
  EXPECT_EQ(window_.calls,
            (std::vector<std::string>{"KillTimer 101", "Activate", "Box Confirm", "EndRun",
                                      "Redraw off", "Redraw on", "SetTimer 101 500"}));

  Refresh();  // no new change: no second question
  Publish(RecoveryPhase::DownloadManifest);
  Refresh(/*quiet=*/true);
  EXPECT_EQ(window_.boxes.size(), 1u);
  EXPECT_EQ(IsPhaseChanged(), 0);

  GlobalStringTable().Insert("STR_CONFIRM_RECOVERY", "Go?");
  Publish(RecoveryPhase::DownloadManifest);
  Refresh();  // Yes goes on
  EXPECT_EQ(window_.boxes.back().text, "Go?");
  EXPECT_EQ(window_.EndRuns(), 1);
}

TEST_F(RefreshTest, RowsAreInsertedOnceBeforeCheckFilesIsAcknowledged) {
  Add("client.exe", 1536);
  Add("data\\maps.pak", 0);
  std::vector<int> flagWhileInserting;
  window_.onInsertRow = [&](int) { flagWhileInserting.push_back(IsPhaseChanged()); };
  Publish(RecoveryPhase::CheckFiles);
  Refresh();
  EXPECT_EQ(window_.rows,
            (Rows{{"1", "client.exe", "1 KB ", ""}, {"2", "data\\maps.pak", "0 B ", ""}}));
  EXPECT_EQ(flagWhileInserting, (std::vector<int>{1, 1}));
  EXPECT_EQ(IsPhaseChanged(), 0);
  EXPECT_TRUE(window_.boxes.empty());
  // The list is drawn once, after every row is in: drawn after each, thousands take seconds.
  std::vector<std::string> redraws;
  for (const std::string& call : window_.calls) {
    if (call.rfind("Redraw", 0) == 0 || call.rfind("InsertRow", 0) == 0) redraws.push_back(call);
  }
  ASSERT_GE(redraws.size(), 4u);
  EXPECT_EQ(redraws.front(), "Redraw off");
  EXPECT_EQ(redraws[3], "Redraw on");

  Publish(RecoveryPhase::DownloadFiles);  // other phases add no rows
  Refresh();
  EXPECT_EQ(window_.rows.size(), 2u);
  EXPECT_EQ(IsPhaseChanged(), 0);
}

// A block repair fetches part of a file: the row's percentage and the bar's share count what
// is fetched, not the file's size.
TEST_F(RefreshTest, TheRowAndTheBarCountWhatIsFetched) {
  InsertRows(2);
  SetPhase(RecoveryPhase::DownloadFiles);
  Entry(0).state = Downloading;
  Entry(0).toFetch = 4;  // of 10 bytes
  Entry(0).done = 1;
  Entry(1).state = Downloading;
  Entry(1).done = 2;  // of 10, fetched whole
  Refresh();
  EXPECT_EQ(window_.Cell(0, 3), "25 %");
  EXPECT_EQ(window_.Cell(1, 3), "20 %");
  EXPECT_EQ(window_.positions.back(), 214);  // 3 of 14 bytes
  Entry(0).done = 4;
  Entry(0).state = Downloaded;
  Refresh();
  EXPECT_EQ(window_.Cell(0, 3), "100 %");
}

TEST_F(RefreshTest, OnlyChangedCellsAreWrittenAndTheLastIsScrolledIntoView) {
  InsertRows(6);
  window_.cellWrites = 0;
  Entry(2).state = Invalid;
  Entry(5).state = Intact;
  Refresh();
  EXPECT_EQ(window_.Cell(2, 3), "invalid");
  EXPECT_EQ(window_.Cell(5, 3), "Ok");
  EXPECT_EQ(window_.cellWrites, 2);
  EXPECT_EQ(window_.ensureVisible, std::vector<int>{5});

  Refresh();  // nothing changes: -1 is sent and stored ...
  Entry(5).state = Invalid;
  Refresh();  // ... so the same row is scrolled into view again
  EXPECT_EQ(window_.ensureVisible, (std::vector<int>{5, -1, 5}));
  EXPECT_EQ(window_.cellWrites, 3);
}

TEST_F(RefreshTest, AListThatShrinksDuringThePassEndsThePass) {
  InsertRows(3);
  for (std::size_t i = 0; i < 3; ++i) Entry(i).state = Intact;
  Refresh();
  window_.onGetCell = [](int row) {
    if (row != 1) return;
    RecoveryState& recovery = GlobalRecoveryState();
    std::lock_guard<std::mutex> lock(recovery.filesMutex);
    recovery.files.Clear();
  };
  Refresh();
  EXPECT_EQ(window_.Cell(0, 3), "Ok");
  EXPECT_EQ(window_.Cell(1, 3), "");  // read past the end: no state, an empty cell
  EXPECT_EQ(window_.Cell(2, 3), "Ok");
}

TEST_F(RefreshTest, MissingControlsAreLeftOut) {
  window_.hasList = window_.hasStatus = window_.hasProgress = false;
  Add("a", 10, Intact, 10);
  Publish(RecoveryPhase::CheckFiles);
  Refresh();
  EXPECT_TRUE(window_.rows.empty());
  EXPECT_TRUE(window_.statusTexts.empty());
  EXPECT_TRUE(window_.positions.empty());
  EXPECT_EQ(IsPhaseChanged(), 0);
  EXPECT_EQ(window_.calls, (std::vector<std::string>{"KillTimer 101", "SetTimer 101 500"}));
}

}  // namespace
}  // namespace repair
