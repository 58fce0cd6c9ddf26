#include "engine/recovery_state.h"

#include <cstring>
#include <iterator>

#include "platform/file_system.h"
#include "strings/string_keys.h"

namespace repair {
namespace {

constexpr std::uint32_t kPhasePollMs = 500;
// How soon a phase wait notices a stop request.
constexpr std::uint32_t kStopCheckMs = 50;

// Codes outside the table, None among them, take the "ERR_UNKNOWN" row.
const StringKey& ErrorKeyFor(std::int32_t code) {
  constexpr std::int32_t kRows = static_cast<std::int32_t>(std::size(kErrorKeys));
  static_assert(kRows == static_cast<std::int32_t>(RecoveryError::DiskSpace),
                "one text for each error code");
  if (code < 1 || code > kRows) code = static_cast<std::int32_t>(RecoveryError::Unknown);
  return *kErrorKeys[code - 1];
}

// Reads one field of the entry at `index` under the list lock, so that the entry cannot be
// destroyed while it is read; `absent` past the end.
template <typename Read, typename Result>
Result ReadEntry(std::uint32_t index, Read read, Result absent) {
  RecoveryState& state = GlobalRecoveryState();
  std::lock_guard<std::mutex> lock(state.filesMutex);
  const FileEntry* entry = state.files.At(index);
  return entry ? read(*entry) : absent;
}

}  // namespace

const char* ErrorMessageKey(std::int32_t code) { return ErrorKeyFor(code).key; }
const char* ErrorDefaultText(std::int32_t code) { return ErrorKeyFor(code).defaultText; }

FileEntry::FileEntry(const char* entryName, std::uint32_t entrySize, const std::uint8_t* digest)
    : name(entryName), size(entrySize), toFetch(entrySize) {
  if (digest != nullptr) {
    std::memcpy(md5, digest, kMd5Length);
  } else {
    std::memset(md5, 0, kMd5Length);
  }
}

RecoveryState& GlobalRecoveryState() {
  // Constructed on first use, so that no other static's initialisation can meet it unbuilt.
  static RecoveryState state;
  return state;
}

void SetError(RecoveryError code) {
  GlobalRecoveryState().error.store(static_cast<std::int32_t>(code), std::memory_order_relaxed);
}

RecoveryPhase GetPhase() {
  return static_cast<RecoveryPhase>(GlobalRecoveryState().phase.load(std::memory_order_acquire));
}

std::uint8_t IsPhaseChanged() {
  // Acquire: a raised flag brings with it the phase and everything the worker wrote before.
  return GlobalRecoveryState().phaseChanged.load(std::memory_order_acquire);
}

void AcknowledgePhase() {
  // Release: the UI's work for the phase is complete before the worker goes on.
  GlobalRecoveryState().phaseChanged.store(0, std::memory_order_release);
}

bool IsFinished() { return GetPhase() == RecoveryPhase::Finished; }

std::int32_t GetError() { return GlobalRecoveryState().error.load(std::memory_order_relaxed); }

bool SetPhaseAndWait(RecoveryPhase phase) {
  RecoveryState& state = GlobalRecoveryState();
  state.phase.store(static_cast<std::int32_t>(phase), std::memory_order_relaxed);
  // Release: publishes the phase and the file list to whoever sees the raised flag.
  state.phaseChanged.store(1, std::memory_order_release);
  // The worker always rests one full period, even when the UI answers at once; a stop ends
  // the wait within a slice of it.
  std::uint32_t rested = 0;
  for (;;) {
    if (StopRequested()) return false;
    platform::SleepMs(kStopCheckMs);
    rested += kStopCheckMs;
    if (rested < kPhasePollMs) continue;
    if (state.phaseChanged.load(std::memory_order_acquire) == 0) return !StopRequested();
    rested = 0;
  }
}

void RequestStop() { GlobalRecoveryState().stopRequested.store(1, std::memory_order_relaxed); }

namespace {

thread_local const std::atomic<bool>* t_cancel = nullptr;

}  // namespace

CancelScope::CancelScope(const std::atomic<bool>& cancel) { t_cancel = &cancel; }
CancelScope::~CancelScope() { t_cancel = nullptr; }

bool StopRequested() {
  if (t_cancel != nullptr && t_cancel->load(std::memory_order_relaxed)) return true;
  return GlobalRecoveryState().stopRequested.load(std::memory_order_relaxed) != 0;
}

namespace {

void ClearRun(RecoveryState& state) {
  {
    std::lock_guard<std::mutex> lock(state.filesMutex);
    state.files.Clear();
    state.planKnown = false;
    state.planFiles = 0;
    state.planBytes = 0;
  }
  state.phase.store(static_cast<std::int32_t>(RecoveryPhase::Ready), std::memory_order_relaxed);
  state.phaseChanged.store(0, std::memory_order_release);
  state.error.store(static_cast<std::int32_t>(RecoveryError::None), std::memory_order_relaxed);
  std::lock_guard<std::mutex> lock(state.detailMutex);
  state.errorDetail.clear();
}

}  // namespace

void SetErrorDetail(RecoveryError code, const std::string& detail) {
  RecoveryState& state = GlobalRecoveryState();
  {
    std::lock_guard<std::mutex> lock(state.detailMutex);
    state.errorDetail = detail;
  }
  SetError(code);
}

std::string GetErrorDetail() {
  RecoveryState& state = GlobalRecoveryState();
  std::lock_guard<std::mutex> lock(state.detailMutex);
  return state.errorDetail;
}

bool BeginRun() {
  RecoveryState& state = GlobalRecoveryState();
  if (state.running.load(std::memory_order_acquire) != 0) return false;
  ClearRun(state);
  state.running.store(1, std::memory_order_release);
  return true;
}

bool ResetRecoveryState() {
  RecoveryState& state = GlobalRecoveryState();
  if (state.running.load(std::memory_order_acquire) != 0) return false;
  ClearRun(state);
  state.stopRequested.store(0, std::memory_order_relaxed);
  return true;
}

std::uint32_t CountFiles(std::uint32_t mask) {
  RecoveryState& state = GlobalRecoveryState();
  std::lock_guard<std::mutex> lock(state.filesMutex);
  if (mask == 0) return static_cast<std::uint32_t>(state.files.size());
  std::uint32_t count = 0;
  for (const auto& entry : state.files) {
    if ((entry->state.load(std::memory_order_relaxed) & mask) != 0) ++count;
  }
  return count;
}

std::string FileNameAt(std::uint32_t index) {
  return ReadEntry(
      index, [](const FileEntry& e) { return e.name; }, std::string());
}

std::uint32_t FileStateAt(std::uint32_t index) {
  return ReadEntry(
      index, [](const FileEntry& e) { return e.state.load(std::memory_order_relaxed); },
      std::uint32_t{0});
}

std::uint32_t FileSizeAt(std::uint32_t index) {
  return ReadEntry(
      index, [](const FileEntry& e) { return e.size; }, std::uint32_t{0});
}

std::uint32_t FileDoneAt(std::uint32_t index) {
  return ReadEntry(
      index, [](const FileEntry& e) { return e.done.load(std::memory_order_relaxed); },
      std::uint32_t{0});
}

std::uint32_t FileToFetchAt(std::uint32_t index) {
  return ReadEntry(
      index, [](const FileEntry& e) { return e.toFetch.load(std::memory_order_relaxed); },
      std::uint32_t{0});
}

void PublishPlanTotals(std::uint32_t files, std::uint64_t bytes) {
  RecoveryState& state = GlobalRecoveryState();
  std::lock_guard<std::mutex> lock(state.filesMutex);
  state.planKnown = true;
  state.planFiles = files;
  state.planBytes = bytes;
}

bool PlanTotals(std::uint32_t& files, std::uint64_t& bytes) {
  RecoveryState& state = GlobalRecoveryState();
  std::lock_guard<std::mutex> lock(state.filesMutex);
  files = state.planFiles;
  bytes = state.planBytes;
  return state.planKnown;
}

bool SumTransfer(std::uint32_t& total, std::uint32_t& done) {
  total = 0;
  done = 0;
  RecoveryState& state = GlobalRecoveryState();
  std::lock_guard<std::mutex> lock(state.filesMutex);
  for (const auto& entry : state.files) {
    switch (entry->state.load(std::memory_order_relaxed)) {
      case Invalid:
      case Downloading:
      case Downloaded:
      case Recovered:
        // Unsigned arithmetic: the sums wrap modulo 2^32 as the display expects.
        total += entry->toFetch.load(std::memory_order_relaxed);
        done += entry->done.load(std::memory_order_relaxed);
        break;
      default: break;
    }
  }
  return true;
}

}  // namespace repair
