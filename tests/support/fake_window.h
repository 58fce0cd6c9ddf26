// Recording fakes of the window's controls and of the platform host, for the refresh and
// start-up suites: every call is kept (texts, positions, boxes, timers), answers are scripted.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/app_host.h"
#include "ui/window_controls.h"

namespace repair::test {

struct RecordedBox {
  std::string text;
  std::string caption;
  MessageBoxKind kind;
};

class FakeWindow : public WindowControls {
 public:
  // Scripted.
  bool hasList = true;
  bool hasStatus = true;
  bool hasProgress = true;
  std::deque<MessageBoxAnswer> answers;  // for questions; kYes when empty
  std::function<void()> onBox;           // runs while a box is "open"
  std::function<void(int row)> onInsertRow;
  std::function<void(int row)> onGetCell;

  // Recorded; read them on the UI thread (only EndRun comes from elsewhere).
  std::vector<std::string> calls;              // one line per call, in order
  std::vector<std::vector<std::string>> rows;  // four cells each
  std::vector<std::string> statusTexts;
  std::vector<int> positions;
  std::vector<int> ensureVisible;
  std::vector<RecordedBox> boxes;
  std::map<int, std::uint32_t> armedTimers;  // id -> delay, while armed
  int cellWrites = 0;

  int EndRuns() const { return endRuns_.load(); }
  bool IsArmed(int id) const;
  std::string Cell(int row, int subItem) const { return rows.at(row).at(subItem); }

  bool HasList() const override { return hasList; }
  bool HasStatus() const override { return hasStatus; }
  bool HasProgress() const override { return hasProgress; }
  void InsertRow(int row, const char* firstCell) override;
  void SetCell(int row, int subItem, const char* text) override;
  void GetCell(int row, int subItem, char* buffer, std::size_t capacity) override;
  void SetListRedraw(bool on) override;
  void EnsureVisible(int row) override;
  void SetStatusText(const char* text) override;
  void SetProgressPosition(int position) override;
  void SetTimer(int id, std::uint32_t milliseconds) override;
  void KillTimer(int id) override;
  void Activate() override;
  MessageBoxAnswer ShowMessageBox(const char* text, const char* caption,
                                  MessageBoxKind kind) override;
  void EndRun() override;

 private:
  void Record(const std::string& line);

  mutable std::mutex mutex_;  // guards `calls`, which EndRun may append to from the worker
  std::atomic<int> endRuns_{0};
};

class FakeHost : public AppHost {
 public:
  explicit FakeHost(FakeWindow* window) : window_(window) {}
  ~FakeHost() override;  // joins the threads it started (gives up on stuck ones)

  // Scripted.
  bool anotherCopyRuns = false;
  bool createWindowFails = false;
  bool threadFails = false;
  bool userClosesWindow = false;    // the loop ends after the first refresh, as if closed
  std::function<bool()> closeWhen;  // the loop ends as if closed once this holds after a refresh
  int refreshPeriodMs = 5;          // the loop's stand-in for the 500 ms timer
  std::function<void()> onJoined;   // runs once JoinWorker has joined the threads

  // Recorded.
  std::vector<std::string> calls;
  std::vector<int> firedTimers;
  std::vector<std::pair<std::string, std::string>> launches;  // path, parameters

  bool AcquireInstance(const char* name) override;
  void ReleaseInstance() override { calls.push_back("ReleaseInstance"); }
  void InitializeShell() override { calls.push_back("InitializeShell"); }
  void ShutdownShell() override { calls.push_back("ShutdownShell"); }
  WindowTexts createdWith;  // the texts CreateMainWindow was given
  WindowControls* CreateMainWindow(const WindowTexts& texts) override;
  // Fires the refresh timer at once, then the start-worker timer, then the refresh timer
  // every refreshPeriodMs until EndRun (each only while armed). Fails the test after 30 s.
  bool RunMessageLoop(const std::function<void(int)>& onTimer) override;
  bool StartThread(void (*entry)(void*), void* parameter) override;
  // Joins the threads it started, as the destructor does.
  void JoinWorker() override;
  void LaunchProgram(const char* path, const char* parameters) override;
  void CloseStreams() override { calls.push_back("CloseStreams"); }
  void Sleep(std::uint32_t milliseconds) override;

 private:
  void JoinThreads();

  FakeWindow* window_;
  std::vector<std::thread> threads_;
  std::atomic<int> finishedThreads_{0};
};

}  // namespace repair::test
