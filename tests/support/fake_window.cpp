#include "support/fake_window.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include <gtest/gtest.h>

namespace repair::test {

void FakeWindow::Record(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls.push_back(line);
}

bool FakeWindow::IsArmed(int id) const { return armedTimers.count(id) != 0; }

void FakeWindow::InsertRow(int row, const char* firstCell) {
  Record("InsertRow " + std::to_string(row));
  if (onInsertRow) onInsertRow(row);
  if (row < 0 || static_cast<std::size_t>(row) > rows.size()) return;
  rows.insert(rows.begin() + row, std::vector<std::string>{firstCell, "", "", ""});
}

void FakeWindow::SetCell(int row, int subItem, const char* text) {
  ++cellWrites;
  if (row < 0 || static_cast<std::size_t>(row) >= rows.size()) return;
  rows[row].at(subItem) = text != nullptr ? text : "";
}

void FakeWindow::GetCell(int row, int subItem, char* buffer, std::size_t capacity) {
  if (onGetCell) onGetCell(row);
  if (row < 0 || static_cast<std::size_t>(row) >= rows.size() || capacity == 0) return;
  const std::string& cell = rows[row].at(subItem);
  const std::size_t length = std::min(cell.size(), capacity - 1);
  std::memcpy(buffer, cell.data(), length);
  buffer[length] = '\0';
}

void FakeWindow::SetListRedraw(bool on) { Record(on ? "Redraw on" : "Redraw off"); }

void FakeWindow::EnsureVisible(int row) { ensureVisible.push_back(row); }

void FakeWindow::SetStatusText(const char* text) { statusTexts.push_back(text); }

void FakeWindow::SetProgressPosition(int position) { positions.push_back(position); }

void FakeWindow::SetTimer(int id, std::uint32_t milliseconds) {
  Record("SetTimer " + std::to_string(id) + " " + std::to_string(milliseconds));
  armedTimers[id] = milliseconds;
}

void FakeWindow::KillTimer(int id) {
  Record("KillTimer " + std::to_string(id));
  armedTimers.erase(id);
}

void FakeWindow::Activate() { Record("Activate"); }

MessageBoxAnswer FakeWindow::ShowMessageBox(const char* text, const char* caption,
                                            MessageBoxKind kind) {
  Record("Box " + std::string(caption));
  boxes.push_back({text, caption, kind});
  if (onBox) onBox();
  if (kind != MessageBoxKind::kYesNoQuestion) return MessageBoxAnswer::kOk;
  if (answers.empty()) return MessageBoxAnswer::kYes;
  MessageBoxAnswer answer = answers.front();
  answers.pop_front();
  return answer;
}

void FakeWindow::EndRun() {
  Record("EndRun");
  ++endRuns_;
}

FakeHost::~FakeHost() { JoinThreads(); }

void FakeHost::JoinWorker() {
  calls.push_back("JoinWorker");
  JoinThreads();
  if (onJoined) onJoined();
}

void FakeHost::JoinThreads() {
  // A worker stuck in a handshake nobody answers is a failed test, not a hung suite.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (finishedThreads_.load() < static_cast<int>(threads_.size()) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const bool allFinished = finishedThreads_.load() == static_cast<int>(threads_.size());
  for (std::thread& thread : threads_) {
    if (allFinished) {
      thread.join();
    } else {
      thread.detach();
    }
  }
  threads_.clear();
  finishedThreads_ = 0;
  if (!allFinished) ADD_FAILURE() << "a worker thread never ended";
}

bool FakeHost::AcquireInstance(const char* name) {
  calls.push_back(std::string("AcquireInstance ") + name);
  return !anotherCopyRuns;
}

WindowControls* FakeHost::CreateMainWindow(const WindowTexts& texts) {
  calls.push_back("CreateMainWindow");
  createdWith = texts;
  return createWindowFails ? nullptr : window_;
}

bool FakeHost::RunMessageLoop(const std::function<void(int)>& onTimer) {
  calls.push_back("RunMessageLoop");
  auto fire = [&](int id) {
    if (!window_->IsArmed(id)) return;
    firedTimers.push_back(id);
    onTimer(id);
  };
  fire(kRefreshTimer);
  if (userClosesWindow) return true;
  fire(kStartWorkerTimer);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (window_->EndRuns() == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the run never ended";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(refreshPeriodMs));
    fire(kRefreshTimer);
    if (closeWhen && closeWhen()) return true;
  }
  return false;
}

bool FakeHost::StartThread(void (*entry)(void*), void* parameter) {
  calls.push_back("StartThread");
  if (threadFails) return false;
  threads_.emplace_back([this, entry, parameter] {
    entry(parameter);
    ++finishedThreads_;
  });
  return true;
}

void FakeHost::LaunchProgram(const char* path, const char* parameters) {
  calls.push_back("LaunchProgram");
  launches.emplace_back(path, parameters);
}

void FakeHost::Sleep(std::uint32_t milliseconds) {
  calls.push_back("Sleep " + std::to_string(milliseconds));
}

}  // namespace repair::test
