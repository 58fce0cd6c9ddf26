#include "ui/refresh.h"

#include <climits>
#include <cstring>
#include <string>

#include "common/format.h"
#include "engine/recovery_state.h"
#include "strings/string_keys.h"

namespace repair {
namespace {

constexpr std::uint32_t kRefreshPeriodMs = 500;
constexpr int kProgressCell = 3;
constexpr std::uint32_t kComparedStates = Invalid | Intact;  // entries whose check is over

// Indexed by RecoveryPhase.
constexpr const StringKey* kStatusRows[] = {
    &kStrProgressReady,         &kStrProgressCheckVersionInfo, &kStrProgressDownloadHashFile,
    &kStrProgressCheckFileHash, &kStrProgressDownloadFile,     &kStrProgressRecoverFile,
    &kStrProgressComplete,
};

// Rounds `value` to double precision. A 32-bit x86 build computes in the x87 unit's 80-bit
// registers, where 29.0 / 100 * 100 is exactly 29; the shown values are those of double
// arithmetic (28 there), so every step is stored as a double before the next one.
double AsDouble(double value) {
  volatile double stored = value;
  return stored;
}

// The animation step of `counter` in a cycle of `period`; a negative counter gives 0.
int DotCount(std::int32_t counter, int period) { return counter < 0 ? 0 : counter % period; }

// Truncates toward zero; values beyond int's range (a transfer far past its declared size)
// stop at INT_MAX instead of overflowing the conversion.
int TruncateToInt(double value) {
  if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(value);
}

// The share of `done` in `size` as a whole percentage, computed in double precision before
// the truncation, so 29 of 100 bytes shows 28. A file of 0 bytes has no share to compute: it
// shows 0 % while its (empty) download runs and 100 % once it is in the cache or in place,
// which is what a user expects of a file with nothing left to fetch.
int Percentage(std::uint32_t fileState, std::uint32_t done, std::uint32_t size) {
  if (size == 0) return fileState == Downloading ? 0 : 100;
  const double share = AsDouble(static_cast<double>(done) / static_cast<double>(size));
  return TruncateToInt(AsDouble(share * 100.0));
}

int ProgressPosition(RecoveryPhase phase) {
  double numerator = 0;
  double divisor = 0;
  switch (phase) {
    case RecoveryPhase::CheckFiles:
      numerator = CountFiles(kComparedStates);
      divisor = CountFiles(0);
      break;
    case RecoveryPhase::DownloadFiles: {
      std::uint32_t total = 0;
      std::uint32_t done = 0;
      SumTransfer(total, done);
      numerator = done;
      divisor = total;
      break;
    }
    case RecoveryPhase::RecoverFiles:
    case RecoveryPhase::Finished: return 1000;
    default: return 0;
  }
  if (divisor == 0) return 0;
  return TruncateToInt(AsDouble(AsDouble(numerator / divisor) * 1000.0));
}

// Asks whether the recovery may begin; No ends the run (the refresh itself goes on). True
// when the answer was No.
bool Declined(WindowControls& window) {
  std::string question;
  std::string caption;
  LookupText(kStrConfirmRecovery, question);
  LookupText(kStrConfirm, caption);
  char text[kTextBufferSize] = {};
  char title[kTextBufferSize] = {};
  FormatText(text, "%s", question.c_str());
  FormatText(title, "%s", caption.c_str());
  window.Activate();
  if (window.ShowMessageBox(text, title, MessageBoxKind::kYesNoQuestion) != MessageBoxAnswer::kNo) {
    return false;
  }
  window.EndRun();
  return true;
}

// One row per entry; the worker waits in its handshake meanwhile, so the list holds still.
// Drawn once at the end: a list that redraws after each insertion takes seconds for a few
// thousand rows (about 16 s for 1,500 under Wine).
void InsertRows(WindowControls& window) {
  char text[kTextBufferSize];
  window.SetListRedraw(false);
  for (std::uint32_t i = 0; i < CountFiles(0); ++i) {
    const int row = static_cast<int>(i);
    FormatText(text, "%d", row + 1);
    window.InsertRow(row, text);
    FormatText(text, "%s", FileNameAt(i).c_str());
    window.SetCell(row, 1, text);
    FormatSizeText(text, FileSizeAt(i));
    window.SetCell(row, 2, text);
    window.SetCell(row, kProgressCell, nullptr);
  }
  window.SetListRedraw(true);
}

// Rewrites the progress cells whose text changed and scrolls the last of them into view.
// The count is read again after every row: each read below takes the list's lock on its own,
// and an index that has fallen off the end reads as state 0 (an empty cell), never as memory.
void UpdateCells(WindowControls& window, RefreshState& state) {
  window.SetListRedraw(false);
  int lastChanged = -1;
  char current[kTextBufferSize];
  char wanted[kTextBufferSize];
  for (std::uint32_t i = 0; i < CountFiles(0); ++i) {
    const int row = static_cast<int>(i);
    std::memset(current, 0, sizeof(current));
    std::memset(wanted, 0, sizeof(wanted));
    window.GetCell(row, kProgressCell, current, sizeof(current));
    current[sizeof(current) - 1] = '\0';
    // Of what is fetched: a block repair fetches less than the file's size.
    FormatProgressText(wanted, FileStateAt(i), FileDoneAt(i), FileToFetchAt(i), state.counter);
    if (std::strcmp(current, wanted) != 0) {
      window.SetCell(row, kProgressCell, wanted);
      lastChanged = row;
    }
  }
  // -1 is sent and stored too: after a pass without changes, a row that changes again is
  // scrolled into view again even if it was the last one shown.
  if (lastChanged != state.lastVisibleRow) {
    window.EnsureVisible(lastChanged);
    state.lastVisibleRow = lastChanged;
  }
  window.SetListRedraw(true);
}

void UpdateStatus(WindowControls& window, RecoveryPhase phase, std::int32_t counter) {
  auto index = static_cast<std::size_t>(phase);
  if (index >= sizeof(kStatusRows) / sizeof(kStatusRows[0])) index = 0;
  std::string label;
  LookupText(*kStatusRows[index], label);
  // While files are downloaded, how many and how much, once the run has planned them.
  std::uint32_t files = 0;
  std::uint64_t bytes = 0;
  if (phase == RecoveryPhase::DownloadFiles && PlanTotals(files, bytes)) {
    std::string pattern;
    LookupText(kStrProgressDownloadPlan, pattern);
    label += ": " + PlanText(pattern, files, bytes);
  }
  const std::string dots(static_cast<std::size_t>(DotCount(counter, 6)), '.');
  char text[kTextBufferSize] = {};
  FormatText(text, "%s%s", label.c_str(), dots.c_str());
  window.SetStatusText(text);
}

}  // namespace

void FormatSizeText(char* buffer, std::uint32_t size) {
  // Multiplying by a power of two is exact in double precision: the cast truncates the
  // true quotient.
  if (size < 1024u) {
    FormatText(buffer, "%u B ", static_cast<unsigned>(size));
  } else if (size < 1048576u) {
    FormatText(buffer, "%d KB ", static_cast<int>(size * (1.0 / 1024.0)));
  } else {
    FormatText(buffer, "%d MB ", static_cast<int>(size * (1.0 / 1048576.0)));
  }
}

void FormatByteCount(char* buffer, std::uint64_t bytes) {
  constexpr std::uint64_t kKiB = 1024;
  constexpr std::uint64_t kMiB = kKiB * 1024;
  constexpr std::uint64_t kGiB = kMiB * 1024;
  if (bytes < kKiB) {
    FormatText(buffer, "%u B", static_cast<unsigned>(bytes));
  } else if (bytes < kMiB) {
    FormatText(buffer, "%u KB", static_cast<unsigned>(bytes / kKiB));
  } else if (bytes < 10 * kGiB) {
    FormatText(buffer, "%u MB", static_cast<unsigned>(bytes / kMiB));
  } else {
    // Tenths, truncated: integer arithmetic, so that no rounding shows more than there is.
    const std::uint64_t tenths = bytes * 10 / kGiB;
    FormatText(buffer, "%u.%u GB", static_cast<unsigned>(tenths / 10),
               static_cast<unsigned>(tenths % 10));
  }
}

std::string PlanText(const std::string& pattern, std::uint32_t files, std::uint64_t bytes) {
  char size[kTextBufferSize];
  FormatByteCount(size, bytes);
  std::string text = pattern;
  ReplaceAll(text, "$FILES$", std::to_string(files));
  ReplaceAll(text, "$SIZE$", size);
  return text;
}

void FormatProgressText(char* buffer, std::uint32_t fileState, std::uint32_t done,
                        std::uint32_t size, std::int32_t counter) {
  switch (fileState) {
    case Checking: {
      const std::string dots(static_cast<std::size_t>(DotCount(counter, 4)), '.');
      FormatText(buffer, "checking%s", dots.c_str());
      break;
    }
    case Invalid: FormatText(buffer, "invalid"); break;
    case Downloading:
    case Downloaded:
    case Recovered: FormatText(buffer, "%d %%", Percentage(fileState, done, size)); break;
    case Intact: FormatText(buffer, "Ok"); break;
    default:  // Listed, or no entry
      buffer[0] = '\0';
      break;
  }
}

void RefreshProgress(WindowControls& window, RefreshState& state, bool quiet) {
  window.KillTimer(kRefreshTimer);

  // The flag before the phase: a raised flag is always seen with the phase that raised it.
  const bool changed = IsPhaseChanged() != 0;
  const RecoveryPhase phase = GetPhase();
  if (changed) {
    if (phase == RecoveryPhase::DownloadManifest && !quiet && Declined(window)) {
      state.declined = true;
    }
    if (phase == RecoveryPhase::CheckFiles && window.HasList()) InsertRows(window);
    // Only now: the worker goes on as soon as the flag is clear.
    AcknowledgePhase();
  }

  if (window.HasList() && phase >= RecoveryPhase::DownloadManifest) UpdateCells(window, state);
  if (window.HasStatus()) UpdateStatus(window, phase, state.counter);
  if (window.HasProgress()) window.SetProgressPosition(ProgressPosition(phase));

  // Wraps like the 32-bit counter it is (a negative count shows no dots), without the
  // undefined behaviour of a signed overflow.
  state.counter = static_cast<std::int32_t>(static_cast<std::uint32_t>(state.counter) + 1u);
  window.SetTimer(kRefreshTimer, kRefreshPeriodMs);
}

}  // namespace repair
