// Start-up, the end of run and a whole run through the fake host: a real string file beside
// this test program and a real recovery run on a worker thread.
#include "app/lifecycle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/end_of_run.h"
#include "codec/builtin_key.h"
#include "codec/codec.h"
#include "engine/recovery_state.h"
#include "platform/http_client_test_hooks.h"
#include "platform/process_info.h"
#include "publish/manifest_format.h"
#include "publish/sealer.h"
#include "strings/string_table.h"
#include "support/fake_window.h"
#include "support/test_http_server.h"
#include "support/test_support.h"

#if defined(__SANITIZE_ADDRESS__)
// A frame that has returned is poisoned at once, so that a thread still reading it is caught
// wherever it reads.
extern "C" const char* __asan_default_options() { return "detect_stack_use_after_return=1"; }
#endif

namespace repair {
namespace {

namespace fs = std::filesystem;
using Calls = std::vector<std::string>;

const char kHashFileText[] =
    "Recovery information cannot be verified.  Exit the program and try again.";

class EndOfRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GlobalStringTable().Clear();
    ResetRecoveryState();
  }
  void TearDown() override { SetUp(); }

  // The state a run left behind: its phase, its error and `recovered` Recovered entries.
  static void Outcome(RecoveryPhase phase, std::int32_t error, int recovered = 0) {
    RecoveryState& state = GlobalRecoveryState();
    state.phase = static_cast<std::int32_t>(phase);
    state.error = error;
    std::lock_guard<std::mutex> lock(state.filesMutex);
    state.files.Append(std::make_unique<FileEntry>("intact.dat", 1, nullptr));
    for (int i = 0; i < recovered; ++i) {
      auto entry = std::make_unique<FileEntry>("fixed.dat", 1, nullptr);
      entry->state = Recovered;
      state.files.Append(std::move(entry));
    }
  }
  // Reports and launches as the end of run does; returns the chained program's parameters.
  std::string End(bool quiet, bool windowClosed = false) {
    ReportOutcome(window_, quiet, windowClosed);
    LaunchChained(host_, "next.exe", "\"x\"");
    EXPECT_EQ(host_.launches.size(), 1u);
    return host_.launches.empty() ? "" : host_.launches.back().second;
  }

  // Declared first, so that it goes last: the host joins the worker that reads it.
  RecoveryContext context_;
  test::FakeWindow window_;
  test::FakeHost host_{&window_};
};

TEST_F(EndOfRunTest, FinishedRunsShowCompletionUnlessQuiet) {
  Outcome(RecoveryPhase::Finished, 0, 2);
  EXPECT_EQ(End(false), "\"x\"");
  ASSERT_EQ(window_.boxes.size(), 1u);
  EXPECT_EQ(window_.boxes[0].text, "File recovery is finished.");
  EXPECT_EQ(window_.boxes[0].caption, "Confirm");
  EXPECT_EQ(window_.boxes[0].kind, MessageBoxKind::kOkInformation);

  ResetRecoveryState();
  Outcome(RecoveryPhase::Finished, 0);
  ReportOutcome(window_, false, false);
  EXPECT_EQ(window_.boxes.back().text, "There is no corrupted file.");

  window_.boxes.clear();
  ReportOutcome(window_, true, false);
  EXPECT_TRUE(window_.boxes.empty());
}

TEST_F(EndOfRunTest, FailedRunsShowTheirErrorAndTellTheChainedProgram) {
  Outcome(RecoveryPhase::DownloadFiles, 3);
  EXPECT_EQ(End(true), "/recoverfail \"x\"");
  ASSERT_EQ(window_.boxes.size(), 1u);
  EXPECT_EQ(window_.boxes[0].text,
            "Network Connection failed.  Please check your network connection.");
  EXPECT_EQ(window_.boxes[0].caption, "Error");
  EXPECT_EQ(window_.boxes[0].kind, MessageBoxKind::kOkError);
  EXPECT_EQ(window_.calls, (Calls{"Activate", "Activate", "Box Error"}));

  // Codes outside 1..10 take the ERR_UNKNOWN row; the string table's texts win.
  GlobalStringTable().Insert("STR_ERROR", "Oops");
  for (std::int32_t code : {1, 42, -5}) {
    GlobalRecoveryState().error = code;
    ReportOutcome(window_, false, false);
    EXPECT_EQ(window_.boxes.back().text, "Unknown error has occurred.  Please restart the game.")
        << code;
    EXPECT_EQ(window_.boxes.back().caption, "Oops");
  }
}

TEST_F(EndOfRunTest, RunsEndedWithoutAnErrorStillReportTheFailureToTheChainedProgram) {
  Outcome(RecoveryPhase::DownloadManifest, 0);  // declined, closed or never started
  EXPECT_EQ(End(false), "/recoverfail \"x\"");
  EXPECT_TRUE(window_.boxes.empty());

  EXPECT_EQ(BuildChainedParameters(false, 0, ""), "/recoverfail");
  EXPECT_EQ(BuildChainedParameters(true, 5, ""), "/recoverfail");
  EXPECT_EQ(BuildChainedParameters(true, 0, ""), "");
  LaunchChained(host_, "", "\"x\"");
  EXPECT_EQ(host_.launches.size(), 1u);  // no program named: nothing launched
}

TEST_F(EndOfRunTest, AClosedWindowIsNotActivatedButTheOutcomeIsStillShown) {
  Outcome(RecoveryPhase::CheckFiles, 5);
  ReportOutcome(window_, false, /*windowClosed=*/true);
  EXPECT_EQ(window_.calls, (Calls{"Box Error"}));
}

// RunApplication reads the string file beside the running program: for this test program,
// app_lifecycle_test.dat. Each test writes it if it needs it and removes it afterwards.
class LifecycleTest : public EndOfRunTest {
 protected:
  void SetUp() override {
    EndOfRunTest::SetUp();
    char executable[260] = {};
    ASSERT_TRUE(platform::GetExecutablePath(executable, sizeof(executable)));
    stringFile_ = fs::path(executable).replace_extension(".dat").string();
    fs::remove(stringFile_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove(stringFile_, ignored);
    platform::ForceNetworkState(-1);
    EndOfRunTest::TearDown();
  }
  void WriteStringFile(const std::string& text) {
    using publish::Bytes;
    const Bytes key =
        publish::PublicKeyFromPrivate(Bytes(BuiltinKey(), BuiltinKey() + BuiltinKeyLength()));
    test::WriteAll(stringFile_, publish::Seal(key, Bytes(text.begin(), text.end())));
  }
  RunOutcome Run(const char* text) {
    ProgramArguments arguments;
    arguments.text = text;
    return RunApplication(host_, arguments, context_);
  }

  std::string stringFile_;
};

TEST_F(LifecycleTest, StartUpFailuresEndWithTheirExitCodes) {
  host_.anotherCopyRuns = true;
  EXPECT_EQ(Run(""), RunOutcome::kAnotherCopy);
  EXPECT_EQ(host_.calls, (Calls{"AcquireInstance tovak_recovery"}));

  host_.anotherCopyRuns = false;
  host_.calls.clear();
  EXPECT_EQ(Run("\"/quiet"), RunOutcome::kStartFailed);  // unmatched quote
  EXPECT_EQ(host_.calls, (Calls{"AcquireInstance tovak_recovery", "InitializeShell"}));

  host_.calls.clear();
  EXPECT_EQ(Run(""), RunOutcome::kStartFailed);  // no string file
  EXPECT_EQ(host_.calls.size(), 2u);

  WriteStringFile("SYS_WINDOWTITLE=Repair\n");
  host_.createWindowFails = true;
  host_.calls.clear();
  EXPECT_EQ(Run(""), RunOutcome::kNoWindow);
  EXPECT_EQ(host_.calls.back(), "CreateMainWindow");
  EXPECT_TRUE(window_.calls.empty());
  // The window is given its texts from the string file, defaults where the file has none.
  EXPECT_EQ(host_.createdWith.title, "Repair");
  EXPECT_EQ(host_.createdWith.columns[0], "#");
  EXPECT_EQ(host_.createdWith.columns[3], "Progress");
  EXPECT_EQ(host_.createdWith.confirmCaption, "Confirm");
}

TEST_F(LifecycleTest, AWorkerThatCannotStartEndsTheRunWithAnError) {
  WriteStringFile("STR_ERROR=Failure\n");
  host_.threadFails = true;
  EXPECT_EQ(Run("/quiet /exec:next.exe"), RunOutcome::kFailed);
  EXPECT_EQ(host_.firedTimers, (std::vector<int>{101, 100}));
  ASSERT_EQ(window_.boxes.size(), 1u);
  EXPECT_EQ(window_.boxes[0].text, "Unknown error");
  EXPECT_EQ(window_.boxes[0].caption, "Failure");
  EXPECT_EQ(window_.boxes[0].kind, MessageBoxKind::kOkError);
  EXPECT_EQ(window_.EndRuns(), 1);
  ASSERT_EQ(host_.launches.size(), 1u);
  EXPECT_EQ(host_.launches[0].second, "/recoverfail");
}

TEST_F(LifecycleTest, AWholeRunAgainstAMissingManifestReportsItsError) {
  // No remote folder: the manifest URL cannot be opened, whatever network the machine has.
  WriteStringFile("SYS_REMOTEPATH=\nSTR_ERROR=Failure\n");
  platform::ForceNetworkState(1);
  const TokenList tokens = {"/version:1_0", "/exec:next.exe", "extra"};
  ProgramArguments arguments;
  arguments.tokens = &tokens;
  EXPECT_EQ(RunApplication(host_, arguments, context_), RunOutcome::kFailed);

  // Start-up armed both timers; the refresh ran first and kept re-arming itself.
  const Calls& calls = window_.calls;
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ((Calls{calls.begin(), calls.begin() + 4}),
            (Calls{"Activate", "SetTimer 100 2000", "SetTimer 101 0", "KillTimer 101"}));
  ASSERT_GE(host_.firedTimers.size(), 3u);
  EXPECT_EQ(host_.firedTimers[0], 101);
  EXPECT_EQ(host_.firedTimers[1], 100);
  EXPECT_EQ(window_.statusTexts.front(), "Ready");

  ASSERT_EQ(window_.boxes.size(), 2u);
  EXPECT_EQ(window_.boxes[0].kind, MessageBoxKind::kYesNoQuestion);
  EXPECT_EQ(window_.boxes[1].text, kHashFileText);
  EXPECT_EQ(window_.boxes[1].caption, "Failure");
  ASSERT_EQ(host_.launches.size(), 1u);
  EXPECT_EQ(host_.launches[0].first, "next.exe");
  EXPECT_EQ(host_.launches[0].second, "/recoverfail \"extra\"");

  const Calls tail(host_.calls.end() - 5, host_.calls.end());
  EXPECT_EQ(tail, (Calls{"LaunchProgram", "CloseStreams", "ShutdownShell", "ReleaseInstance",
                         "Sleep 500"}));
  EXPECT_EQ(GetError(), 0);  // the worker had ended, so the cleanup reset the state
}

// The recovery state as the end of run finds it, once the worker has been joined: the cleanup
// resets it before RunApplication returns.
struct StateAtJoin {
  bool joined = false;
  int running = -1;
  RecoveryPhase phase = RecoveryPhase::Ready;
  std::int32_t error = -1;
  std::vector<std::string> names;
  std::vector<std::uint32_t> states;

  static std::function<void()> Recorder(StateAtJoin& into) {
    return [&into] {
      into.joined = true;
      into.running = GlobalRecoveryState().running.load();
      into.phase = GetPhase();
      into.error = GetError();
      for (std::uint32_t i = 0; i < CountFiles(0); ++i) {
        into.names.push_back(FileNameAt(i));
        into.states.push_back(FileStateAt(i));
      }
    };
  }
  std::size_t Count(std::uint32_t state) const {
    return static_cast<std::size_t>(std::count(states.begin(), states.end(), state));
  }
};

// A declined question lets the worker go no further: it is stopped in its phase wait, which
// nobody would acknowledge, and joined before the end of run reports.
TEST_F(LifecycleTest, ADeclinedQuestionStopsTheWorkerBeforeTheEndOfRun) {
  WriteStringFile("SYS_REMOTEPATH=http://127.0.0.1:9/$MAJORVER$.$MINORVER$\n");
  window_.answers.push_back(MessageBoxAnswer::kNo);
  StateAtJoin atJoin;
  host_.onJoined = StateAtJoin::Recorder(atJoin);
  const TokenList tokens = {"/version:1_0", "/exec:next.exe"};
  ProgramArguments arguments;
  arguments.tokens = &tokens;
  EXPECT_EQ(RunApplication(host_, arguments, context_), RunOutcome::kDeclined);

  ASSERT_TRUE(atJoin.joined);
  EXPECT_EQ(atJoin.running, 0) << "the worker was still running at the end of run";
  EXPECT_EQ(atJoin.phase, RecoveryPhase::DownloadManifest);
  EXPECT_EQ(atJoin.error, 0);
  ASSERT_EQ(window_.boxes.size(), 1u);  // the question, and no error box after it
  EXPECT_EQ(window_.boxes[0].kind, MessageBoxKind::kYesNoQuestion);
  ASSERT_EQ(host_.launches.size(), 1u);
  EXPECT_EQ(host_.launches[0].second, "/recoverfail");
  const auto join = std::find(host_.calls.begin(), host_.calls.end(), "JoinWorker");
  EXPECT_LT(join, std::find(host_.calls.begin(), host_.calls.end(), "LaunchProgram"));
}

// The window closed while the worker is deep in the run. The run repairs this test program's
// folder (the base folder is the executable's): its files go into a folder of their own.
class ClosedWindowTest : public LifecycleTest {
 protected:
  static constexpr const char* kNames[] = {"closed_window_client\\a.dat",
                                           "closed_window_client\\b.dat"};

  void SetUp() override {
    LifecycleTest::SetUp();
    ASSERT_TRUE(server_.ok());
    base_ = fs::path(stringFile_).parent_path();
    RemoveRunFiles();
    std::vector<publish::ManifestRecord> records;
    for (const char* name : kNames) {
      const std::string content = std::string(3000, 'x') + name;
      publish::ManifestRecord record;
      record.name = name;
      record.size = static_cast<std::uint32_t>(content.size());
      ASSERT_EQ(DigestMd5(reinterpret_cast<const std::uint8_t*>(content.data()), record.size,
                          record.md5.data(), nullptr),
                0);
      records.push_back(record);
      contents_.push_back(content);
      std::string target = std::string("/1.0/") + name;
      target.replace(target.find('\\'), 1, "/");
      // A file takes about 300 ms to arrive: the window closes while one is under way.
      server_.Serve(target, test::Response::Slow(content, 200, 20));
    }
    using publish::Bytes;
    const Bytes key =
        publish::PublicKeyFromPrivate(Bytes(BuiltinKey(), BuiltinKey() + BuiltinKeyLength()));
    Bytes manifest;
    std::string error;
    ASSERT_TRUE(publish::BuildManifest(records, key, manifest, error)) << error;
    server_.ServeFile("/1.0/filehash.tsf", manifest);
    WriteStringFile("SYS_REMOTEPATH=" + server_.BaseUrl() + "/$MAJORVER$.$MINORVER$\n");
    platform::ForceNetworkState(1);
  }
  void TearDown() override {
    RemoveRunFiles();
    LifecycleTest::TearDown();
  }
  void RemoveRunFiles() {
    std::error_code ignored;
    for (const char* name : {"closed_window_client", "recovery", "filehash.tsf"}) {
      fs::remove_all(base_ / name, ignored);
    }
  }

  // Runs the program with /quiet; the user closes the window once `closeWhen` holds. The
  // worker is stopped and joined before the end of run: `atJoin_` holds what it left.
  void RunAndCloseWhen(std::function<bool()> closeWhen) {
    host_.closeWhen = std::move(closeWhen);
    host_.onJoined = StateAtJoin::Recorder(atJoin_);
    const TokenList tokens = {"/quiet", "/version:1_0"};
    ProgramArguments arguments;
    arguments.tokens = &tokens;
    outcome_ = RunApplication(host_, arguments, context_);
    EXPECT_EQ(outcome_, RunOutcome::kWindowClosed);
    ASSERT_TRUE(atJoin_.joined);
    EXPECT_EQ(atJoin_.running, 0) << "the worker was still running at the end of run";
    // A stopped run is no failure: there is nothing to show.
    EXPECT_EQ(atJoin_.error, 0);
    EXPECT_TRUE(window_.boxes.empty()) << window_.boxes.front().text;
  }
  // No client file was replaced.
  void ExpectUntouched() {
    for (const char* name : {"a.dat", "b.dat"}) {
      EXPECT_FALSE(fs::exists(base_ / "closed_window_client" / name)) << name;
    }
  }

  test::TestHttpServer server_;
  fs::path base_;
  std::vector<std::string> contents_;
  RunOutcome outcome_ = RunOutcome::kFinished;
  StateAtJoin atJoin_;
};

TEST_F(ClosedWindowTest, MidDownloadTheTransferStopsAndKeepsWhatArrived) {
  RunAndCloseWhen([] { return FileStateAt(1) == Downloading && FileDoneAt(1) > 0; });
  EXPECT_EQ(atJoin_.phase, RecoveryPhase::DownloadFiles);
  // The manifest's own entry first, then the two files: the second, fetched at the same time
  // or not yet begun, is not finished either.
  ASSERT_EQ(atJoin_.states.size(), 3u);
  EXPECT_EQ(atJoin_.states[1], static_cast<std::uint32_t>(Downloading));
  EXPECT_TRUE(atJoin_.states[2] == Downloading || atJoin_.states[2] == Invalid)
      << atJoin_.states[2];
  ExpectUntouched();
  const std::string name = atJoin_.names[1].substr(atJoin_.names[1].rfind('\\') + 1);
  EXPECT_TRUE(fs::exists(base_ / "recovery" / (name + ".recovery.part"))) << name;
}

TEST_F(ClosedWindowTest, AtAPhaseBoundaryTheWorkerGoesNoFurther) {
  RunAndCloseWhen([] { return GetPhase() == RecoveryPhase::DownloadFiles; });
  EXPECT_EQ(atJoin_.phase, RecoveryPhase::DownloadFiles);
  EXPECT_EQ(atJoin_.Count(Invalid), 3u) << "a download began after the window closed";
  ExpectUntouched();
}

}  // namespace
}  // namespace repair
