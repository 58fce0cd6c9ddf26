// The POSIX host: the instance lock file, the message loop with its timers, the end of the
// run from another thread and the signals that close the window, and the chained launch.
#include "app/posix_host.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/posix_host_test_helper.h"
#include "platform/posix/file_descriptor.h"
#include "strings/string_table.h"
#include "support/test_support.h"
#include "ui/window_texts.h"

namespace repair {
namespace {

using test::TempDir;

// A host whose window prints plain lines to /dev/null.
struct QuietHost {
  explicit QuietHost(bool catchSignals = false) : host(Options(catchSignals)) {
    GlobalStringTable().Clear();
    window = host.CreateMainWindow(LookupWindowTexts());
  }
  static TerminalOptions Options(bool catchSignals) {
    static const platform::FileDescriptor devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
    TerminalOptions options;
    options.outputFd = devNull.get();
    options.inputFd = devNull.get();
    options.catchSignals = catchSignals;
    return options;
  }
  PosixAppHost host;
  WindowControls* window = nullptr;
};

// Sets XDG_RUNTIME_DIR for one test and puts the old value back.
class ScopedRuntimeDir {
 public:
  explicit ScopedRuntimeDir(const char* value) {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value)
      ::setenv("XDG_RUNTIME_DIR", value, 1);
    else
      ::unsetenv("XDG_RUNTIME_DIR");
  }
  ~ScopedRuntimeDir() {
    if (had_)
      ::setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
    else
      ::unsetenv("XDG_RUNTIME_DIR");
  }

 private:
  bool had_ = false;
  std::string old_;
};

std::string UniqueName(const char* what) {
  return std::string("repair_test_") + what + "_" + std::to_string(::getpid());
}

TEST(InstanceLockTest, OnlyOneHolderAtATime) {
  TempDir runtime;
  ScopedRuntimeDir scope(runtime.path().c_str());
  const std::string name = UniqueName("one");
  PosixAppHost first(QuietHost::Options(false));
  PosixAppHost second(QuietHost::Options(false));
  EXPECT_TRUE(first.AcquireInstance(name.c_str()));
  EXPECT_TRUE(first.AcquireInstance(name.c_str()));  // holding it already
  EXPECT_FALSE(second.AcquireInstance(name.c_str()));
  struct stat info {};
  EXPECT_EQ(::stat((runtime.path() + "/" + name + ".lock").c_str(), &info), 0);
  first.ReleaseInstance();
  EXPECT_TRUE(second.AcquireInstance(name.c_str()));
}

TEST(InstanceLockTest, FallsBackToTmpWithTheUserId) {
  const std::string name = UniqueName("fallback");
  const std::string fallback = PosixHostTestHelper::FallbackLockPath(name.c_str());
  EXPECT_EQ(fallback, "/tmp/" + name + "-" + std::to_string(::geteuid()) + ".lock");
  for (const char* runtime : {static_cast<const char*>(nullptr), "", "relative/dir",
                              "/nonexistent/folder/for/the/test"}) {
    ScopedRuntimeDir scope(runtime);
    PosixAppHost first(QuietHost::Options(false));
    PosixAppHost second(QuietHost::Options(false));
    EXPECT_TRUE(first.AcquireInstance(name.c_str()));
    EXPECT_FALSE(second.AcquireInstance(name.c_str())) << (runtime ? runtime : "(unset)");
  }
  ::unlink(fallback.c_str());
}

TEST(InstanceLockTest, IgnoresFilesItCannotTrust) {
  TempDir runtime;
  ScopedRuntimeDir scope(runtime.path().c_str());
  const std::string name = UniqueName("planted");
  const std::string planted = runtime.path() + "/" + name + ".lock";
  // A symbolic link in the lock file's place is not followed.
  ASSERT_EQ(::symlink((runtime.path() + "/elsewhere").c_str(), planted.c_str()), 0);
  {
    PosixAppHost host(QuietHost::Options(false));
    EXPECT_TRUE(host.AcquireInstance(name.c_str()));
  }
  struct stat info {};
  EXPECT_NE(::lstat((runtime.path() + "/elsewhere").c_str(), &info), 0);
  ::unlink(planted.c_str());
  ::unlink(PosixHostTestHelper::FallbackLockPath(name.c_str()).c_str());

  // A file of another user, held by them, does not keep this user from running.
  {
    const platform::FileDescriptor theirs(::open(planted.c_str(), O_RDWR | O_CREAT, 0644));
    ASSERT_TRUE(theirs.valid());
    if (::geteuid() != 0 || ::fchown(theirs.get(), 65534, 65534) != 0) {
      GTEST_SKIP() << "needs root to plant another user's file";
    }
    ASSERT_EQ(::flock(theirs.get(), LOCK_EX | LOCK_NB), 0);
    PosixAppHost host(QuietHost::Options(false));
    EXPECT_TRUE(host.AcquireInstance(name.c_str()));
  }
  ::unlink(PosixHostTestHelper::FallbackLockPath(name.c_str()).c_str());
}

TEST(MessageLoopTest, TimersFireInDeadlineOrderAndRepeatUntilKilled) {
  QuietHost q;
  ASSERT_NE(q.window, nullptr);
  q.window->SetTimer(101, 30);
  q.window->SetTimer(100, 20);
  q.window->SetTimer(7, 10);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // all three are due
  std::vector<int> fired;
  const bool closed = q.host.RunMessageLoop([&](int id) {
    fired.push_back(id);
    if (id == 100 || id == 101) q.window->KillTimer(id);
    if (id == 7 && std::count(fired.begin(), fired.end(), 7) == 3) {
      q.window->KillTimer(7);
      q.window->EndRun();  // from the UI thread: the loop ends after this handler
    }
  });
  EXPECT_FALSE(closed);
  EXPECT_EQ(fired, (std::vector<int>{7, 100, 101, 7, 7}));
}

TEST(MessageLoopTest, AnEndBeforeTheLoopEndsItAtOnce) {
  QuietHost q;
  q.window->SetTimer(101, 0);
  q.window->EndRun();
  int calls = 0;
  EXPECT_FALSE(q.host.RunMessageLoop([&](int) { ++calls; }));
  EXPECT_EQ(calls, 0);
}

void EndFromWorker(void* parameter) {
  auto* args = static_cast<std::pair<WindowControls*, std::atomic<bool>*>*>(parameter);
  args->first->EndRun();
  args->second->store(true);
}

TEST(MessageLoopTest, EndRunFromAnotherThreadWaitsUntilTheLoopTakesIt) {
  QuietHost q;
  auto* window = static_cast<TerminalWindow*>(q.window);
  std::atomic<bool> returned{false};
  std::pair<WindowControls*, std::atomic<bool>*> args{q.window, &returned};
  bool sawEarlyReturn = false;
  q.window->SetTimer(100, 0);
  const bool closed = q.host.RunMessageLoop([&](int id) {
    if (id != 100) return;
    q.window->KillTimer(100);
    ASSERT_TRUE(q.host.StartThread(EndFromWorker, &args));
    // Hold the UI thread until the worker has asked, then give it time to (wrongly) return.
    pollfd wake{window->WakeFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&wake, 1, 10000), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    sawEarlyReturn = returned.load();
  });
  EXPECT_FALSE(closed);
  EXPECT_FALSE(sawEarlyReturn) << "EndRun returned before the loop had taken it";
  for (int i = 0; i < 1000 && !returned; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(returned.load());

  // Once the loop has ended and the terminal is given back, as the program's last steps
  // do, a late EndRun finds the window and does not hang its thread.
  q.host.ReleaseTerminal();
  auto late = std::async(std::launch::async, [&] { q.window->EndRun(); });
  EXPECT_EQ(late.wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

// A worker whose end of run comes after the loop ended for another reason (a closed window)
// does not hold up the UI thread that joins it, and a joined host may start another.
TEST(MessageLoopTest, JoiningAWorkerThatEndsTheRunLate) {
  QuietHost q;
  static std::atomic<bool> loopEnded;
  loopEnded = false;
  q.window->SetTimer(100, 0);
  q.host.RunMessageLoop([&](int id) {
    q.window->KillTimer(id);
    ASSERT_TRUE(q.host.StartThread(
        [](void* window) {
          while (!loopEnded.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
          static_cast<WindowControls*>(window)->EndRun();
        },
        q.window));
    EXPECT_FALSE(q.host.StartThread([](void*) {}, nullptr)) << "one worker at a time";
    q.window->EndRun();
  });
  loopEnded = true;
  q.host.JoinWorker();  // a hang here is what the test catches
  q.host.JoinWorker();  // nothing left: returns at once
  EXPECT_TRUE(q.host.StartThread([](void*) {}, nullptr));
}

TEST(MessageLoopTest, TerminationSignalsCloseTheWindow) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    QuietHost q(true);
    q.window->SetTimer(101, 0);
    int refreshes = 0;
    const bool closed = q.host.RunMessageLoop([&](int) {
      if (++refreshes == 2) ::raise(signal);
      q.window->SetTimer(101, 1);
    });
    EXPECT_TRUE(closed) << signal;
    EXPECT_EQ(refreshes, 2);
  }
  struct sigaction now {};
  ::sigaction(SIGTERM, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL) << "the window left its handler behind";
}

// The signals that close or resize the window reach the UI thread, never the worker, and the
// UI thread keeps its own mask.
TEST(StartThreadTest, TheWorkerLeavesTheWindowsSignalsToTheUiThread) {
  QuietHost q;
  std::promise<std::vector<int>> seen;
  std::future<std::vector<int>> blocked = seen.get_future();
  ASSERT_TRUE(q.host.StartThread(
      [](void* parameter) {
        sigset_t mask;
        ::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
        std::vector<int> found;
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGWINCH, SIGSEGV}) {
          if (::sigismember(&mask, signal) == 1) found.push_back(signal);
        }
        static_cast<std::promise<std::vector<int>>*>(parameter)->set_value(found);
      },
      &seen));
  ASSERT_EQ(blocked.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(blocked.get(), (std::vector<int>{SIGINT, SIGTERM, SIGHUP, SIGWINCH}));
  sigset_t mine;
  ::pthread_sigmask(SIG_SETMASK, nullptr, &mine);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGWINCH}) {
    EXPECT_EQ(::sigismember(&mine, signal), 0) << signal;
  }
}

TEST(ChainedLaunchTest, ParametersSplitByTheToolsOwnRules) {
  using Args = std::vector<std::string>;
  EXPECT_EQ(PosixHostTestHelper::SplitParameters("/recoverfail \"one\" \"three four\""),
            (Args{"/recoverfail", "one", "three four"}));
  EXPECT_EQ(PosixHostTestHelper::SplitParameters("\"\" x"), (Args{"", "x"}));
  EXPECT_EQ(PosixHostTestHelper::SplitParameters(""), Args{});
  EXPECT_EQ(PosixHostTestHelper::SplitParameters(nullptr), Args{});
  EXPECT_EQ(PosixHostTestHelper::SplitParameters("/recoverfail \"a\" \"b c"),
            (Args{"/recoverfail", "a", "b c"}));
}

class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = dir.path() + "/my launcher";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    program = folder + "/start";
    std::ofstream(program) << "#!/bin/sh\n"
                              "log=\"$(dirname \"$0\")/arguments.log\"\n"
                              "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$log.new\"\n"
                              "ls -l /proc/$$/fd > \"$log.fds\" 2>&1\n"
                              "mv \"$log.new\" \"$log\"\n";
    ASSERT_EQ(::chmod(program.c_str(), 0755), 0);
  }
  std::string WaitForLog() {
    const std::string log = folder + "/arguments.log";
    for (int i = 0; i < 1000; ++i) {
      std::ifstream in(log);
      if (in) {
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "(the program did not run)";
  }

  TempDir dir;
  std::string folder;
  std::string program;
};

TEST_F(LaunchTest, StartsTheProgramWithItsArgumentsAndNotTheLock) {
  TempDir runtime;
  ScopedRuntimeDir scope(runtime.path().c_str());
  QuietHost q;
  ASSERT_TRUE(q.host.AcquireInstance(UniqueName("launch").c_str()));
  q.host.LaunchProgram(program.c_str(), "/recoverfail \"one\" \"three four\"");
  EXPECT_EQ(WaitForLog(), "/recoverfail\none\nthree four\n");
  std::ifstream fds(folder + "/arguments.log.fds");
  std::stringstream listing;
  listing << fds.rdbuf();
  EXPECT_EQ(listing.str().find(".lock"), std::string::npos) << listing.str();
}

TEST_F(LaunchTest, ANameWithoutFolderIsLookedForInTheCurrentFolder) {
  char previous[4096];
  ASSERT_NE(::getcwd(previous, sizeof(previous)), nullptr);
  ASSERT_EQ(::chdir(folder.c_str()), 0);
  QuietHost q;
  q.host.LaunchProgram("start", "");
  const std::string log = WaitForLog();
  ASSERT_EQ(::chdir(previous), 0);
  EXPECT_EQ(log, "");
}

}  // namespace
}  // namespace repair
