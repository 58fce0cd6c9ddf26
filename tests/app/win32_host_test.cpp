// The Win32 host under Wine: the instance mutex, the message loop and its timers, the worker
// thread and the chained launch.
#include "app/win32_host.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "strings/string_table.h"
#include "support/win32_test_util.h"
#include "ui/win32/window_setup.h"
#include "ui/window_texts.h"

namespace repair {
namespace {

using test::DrainMessages;
using test::WinePath;

std::string UniqueName(const char* base) {
  return std::string(base) + "_" + std::to_string(GetCurrentProcessId());
}

TEST(Win32AppHostTest, OnlyOneHolderOfTheInstanceNameAtATime) {
  const std::string name = UniqueName("repair_instance_test");
  Win32AppHost first;
  Win32AppHost second;
  EXPECT_TRUE(first.AcquireInstance(name.c_str()));
  EXPECT_FALSE(second.AcquireInstance(name.c_str()));
  EXPECT_FALSE(second.AcquireInstance(name.c_str()));  // a refused copy holds nothing
  first.ReleaseInstance();
  EXPECT_TRUE(second.AcquireInstance(name.c_str()));
  EXPECT_FALSE(first.AcquireInstance(name.c_str()));
}

class MessageLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GlobalStringTable().Clear();
    window_ = host_->CreateMainWindow(LookupWindowTexts());
    ASSERT_NE(window_, nullptr);
    main_ = host_->window()->handles().window;
  }
  void TearDown() override {
    if (IsWindow(main_)) DestroyWindow(main_);
    host_.reset();
    DrainMessages();  // the destroyed window's quit request
  }

  std::unique_ptr<Win32AppHost> host_ = std::make_unique<Win32AppHost>();
  WindowControls* window_ = nullptr;
  HWND main_ = nullptr;
};

TEST_F(MessageLoopTest, TimersReachTheHandlerUntilTheRunEnds) {
  std::vector<int> fired;
  window_->SetTimer(kStartWorkerTimer, 50);
  window_->SetTimer(kRefreshTimer, 0);
  const bool closed = host_->RunMessageLoop([&](int id) {
    fired.push_back(id);
    window_->KillTimer(id);
    if (id == kRefreshTimer && fired.size() < 20) window_->SetTimer(kRefreshTimer, 10);
    if (std::count(fired.begin(), fired.end(), kStartWorkerTimer) == 1 &&
        std::count(fired.begin(), fired.end(), kRefreshTimer) >= 3) {
      window_->EndRun();
    }
  });
  EXPECT_FALSE(closed);
  EXPECT_TRUE(IsWindow(main_));
  EXPECT_EQ(std::count(fired.begin(), fired.end(), kStartWorkerTimer), 1);
  EXPECT_GE(std::count(fired.begin(), fired.end(), kRefreshTimer), 3);
  EXPECT_EQ(fired.front(), kRefreshTimer);  // 0 ms: the first refresh comes at once
}

TEST_F(MessageLoopTest, AWorkersEndRunEndsTheLoop) {
  window_->SetTimer(kStartWorkerTimer, 0);
  const bool closed = host_->RunMessageLoop([&](int id) {
    window_->KillTimer(id);
    ASSERT_TRUE(host_->StartThread(
        [](void* window) { static_cast<WindowControls*>(window)->EndRun(); }, window_));
  });
  EXPECT_FALSE(closed);
  EXPECT_TRUE(IsWindow(main_));
  // From now on a worker's late end of run is dropped.
  EXPECT_TRUE(host_->window()->LoopEnded());
}

// A worker whose end of run was already under way when the loop ended for another reason
// sends WM_DESTROY while the UI thread joins it: the join takes the message, so neither
// waits for the other, and the late end of run asks for no quit.
TEST_F(MessageLoopTest, JoiningTakesTheWorkersLateEndOfRun) {
  static HWND target;
  static std::atomic<bool> loopEnded;
  target = main_;
  loopEnded = false;
  window_->SetTimer(kStartWorkerTimer, 0);
  host_->RunMessageLoop([&](int id) {
    window_->KillTimer(id);
    ASSERT_TRUE(host_->StartThread(
        [](void*) {
          while (!loopEnded.load()) Sleep(5);
          SendMessageA(target, WM_DESTROY, 0, 0);
        },
        nullptr));
    window_->EndRun();  // the loop ends on the UI thread's own account
  });
  loopEnded = true;
  host_->JoinWorker();  // a deadlock here is what the test catches
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
      << "a late end of run asked for a quit";
  host_->JoinWorker();  // nothing left to join: returns at once
  EXPECT_TRUE(host_->StartThread([](void*) {}, nullptr)) << "a joined worker may be followed";
  host_->JoinWorker();
}

TEST_F(MessageLoopTest, ClosingTheWindowEndsTheLoopAndIsReported) {
  window_->SetTimer(kRefreshTimer, 0);
  const bool closed = host_->RunMessageLoop([&](int id) {
    window_->KillTimer(id);
    PostMessageA(main_, WM_CLOSE, 0, 0);
  });
  EXPECT_TRUE(closed);
  EXPECT_FALSE(IsWindow(main_));
}

// Counts the timer messages of a plain window and, on the third, arms the main window's
// refresh timer: by then the loop has seen timers that are not the main window's.
struct OtherWindow {
  static int ticks;
  static WNDPROC original;
  static WindowControls* main;
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == 7 && ++ticks == 3) main->SetTimer(kRefreshTimer, 0);
    return CallWindowProcA(original, window, message, wParam, lParam);
  }
};
int OtherWindow::ticks = 0;
WNDPROC OtherWindow::original = nullptr;
WindowControls* OtherWindow::main = nullptr;

TEST_F(MessageLoopTest, TimersOfOtherWindowsAreNotHandedOn) {
  HWND other = CreateWindowExA(0, "Static", "other", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(other, nullptr);
  OtherWindow::main = window_;
  OtherWindow::original = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(other, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&OtherWindow::Proc)));
  ::SetTimer(other, 7, 0, nullptr);
  std::vector<int> fired;
  const bool closed = host_->RunMessageLoop([&](int id) {
    fired.push_back(id);
    window_->EndRun();
  });
  KillTimer(other, 7);
  DestroyWindow(other);
  EXPECT_FALSE(closed);
  EXPECT_GE(OtherWindow::ticks, 3);
  EXPECT_EQ(fired, std::vector<int>{kRefreshTimer});
}

TEST(Win32LaunchTest, ChainedProgramGetsTheParametersAsSeparateArguments) {
  const std::string program = WinePath(REPAIR_RECORD_ARGS_EXE);
  const std::string record = program + ".args";
  Win32AppHost host;
  auto launchAndRead = [&](const char* parameters) {
    DeleteFileA(record.c_str());
    host.LaunchProgram(program.c_str(), parameters);
    // The launch does not wait for the program; its record is complete with the end line.
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 30000) {
      std::ifstream in(record, std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      const std::string content = text.str();
      const std::string end = "--end--\n";
      if (content.size() >= end.size() &&
          content.compare(content.size() - end.size(), end.size(), end) == 0) {
        return content.substr(0, content.size() - end.size());
      }
      Sleep(50);
    }
    return std::string("<not started>");
  };
  EXPECT_EQ(launchAndRead("/recoverfail \"one\" \"three four\""),
            "/recoverfail\none\nthree four\n");
  EXPECT_EQ(launchAndRead(""), "");
  EXPECT_EQ(launchAndRead(nullptr), "");
  DeleteFileA(record.c_str());
}

}  // namespace
}  // namespace repair
