// The refresh's cost per call with 100,000 rows: one pass with the rows inserted, then passes
// where a tenth of the rows change state (the cells are rewritten) and passes where nothing
// changes (each cell is read back and compared). The window is an in-memory list that keeps
// the cell texts, so the figure is the refresh's own work plus one string copy per cell.
#include <algorithm>
#include <chrono>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/recovery_state.h"
#include "ui/refresh.h"

namespace {

using repair::MessageBoxAnswer;
using repair::MessageBoxKind;

class MemoryWindow : public repair::WindowControls {
 public:
  bool HasList() const override { return true; }
  bool HasStatus() const override { return true; }
  bool HasProgress() const override { return true; }
  void InsertRow(int row, const char* firstCell) override {
    rows_.insert(rows_.begin() + row, std::vector<std::string>(4));
    rows_[static_cast<std::size_t>(row)][0] = firstCell;
  }
  void SetCell(int row, int subItem, const char* text) override {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return;
    rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(subItem)] = text ? text : "";
  }
  void GetCell(int row, int subItem, char* buffer, std::size_t capacity) override {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return;
    const std::string& cell =
        rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(subItem)];
    std::size_t n = std::min(cell.size(), capacity - 1);
    std::memcpy(buffer, cell.data(), n);
    buffer[n] = '\0';
  }
  void SetListRedraw(bool) override {}
  void EnsureVisible(int) override {}
  void SetStatusText(const char*) override {}
  void SetProgressPosition(int) override {}
  void SetTimer(int, std::uint32_t) override {}
  void KillTimer(int) override {}
  void Activate() override {}
  MessageBoxAnswer ShowMessageBox(const char*, const char*, MessageBoxKind) override {
    return MessageBoxAnswer::kYes;
  }
  void EndRun() override {}

 private:
  std::vector<std::vector<std::string>> rows_;
};

double TimeMs(const std::function<void()>& work) {
  auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint32_t kRows = argc > 1 ? static_cast<std::uint32_t>(std::atoi(argv[1])) : 100000;
  repair::RecoveryState& state = repair::GlobalRecoveryState();
  {
    std::lock_guard<std::mutex> lock(state.filesMutex);
    const std::uint8_t md5[16] = {};
    for (std::uint32_t i = 0; i < kRows; ++i) {
      std::string name = "data\\set" + std::to_string(i % 40) + "\\file" + std::to_string(i);
      state.files.Append(std::make_unique<repair::FileEntry>(name.c_str(), 1000 + i, md5));
    }
  }
  MemoryWindow window;
  repair::RefreshState refresh;
  state.phase.store(static_cast<std::int32_t>(repair::RecoveryPhase::CheckFiles));
  state.phaseChanged.store(1);
  double insert = TimeMs([&] { repair::RefreshProgress(window, refresh, true); });

  constexpr int kPasses = 10;
  double changing = 0, unchanged = 0;
  for (int pass = 0; pass < kPasses; ++pass) {
    for (std::uint32_t i = static_cast<std::uint32_t>(pass); i < kRows; i += kPasses) {
      state.files.At(i)->state.store(repair::Intact);
    }
    changing += TimeMs([&] { repair::RefreshProgress(window, refresh, true); });
    unchanged += TimeMs([&] { repair::RefreshProgress(window, refresh, true); });
  }
  std::printf(
      "refresh with %u rows: inserting the rows %.1f ms; a pass where 10%% of the cells "
      "change %.1f ms (%.0f ns/row); a pass with no change %.1f ms (%.0f ns/row)\n",
      kRows, insert, changing / kPasses, changing / kPasses * 1e6 / kRows, unchanged / kPasses,
      unchanged / kPasses * 1e6 / kRows);
  return 0;
}
