// The timer-driven refresh of the progress window: mirrors the recovery state into the list,
// the status line and the progress bar, and is the UI side of the phase handshake (it asks
// for confirmation and inserts the rows, then acknowledges the phase).
#pragma once

#include <cstdint>
#include <string>

#include "ui/window_controls.h"

namespace repair {

// What the refresh keeps between two runs of itself; one per window, owned by start-up.
struct RefreshState {
  std::int32_t counter = 0;          // refreshes so far; drives the animated dots
  std::int32_t lastVisibleRow = -1;  // the row last scrolled into view (-1: none)
  bool declined = false;             // the question was answered No
};

// One refresh; called from the message loop whenever the refresh timer fires. Stops the timer
// first and arms it again for 500 ms last. With `quiet` the confirmation is skipped.
void RefreshProgress(WindowControls& window, RefreshState& state, bool quiet);

// The size cell of a file of `size` bytes into `buffer` (kTextBufferSize bytes):
// "<n> B ", "<n> KB " or "<n> MB ", the value truncated.
void FormatSizeText(char* buffer, std::uint32_t size);

// The progress cell of an entry in `fileState` with `done` of `size` bytes, at refresh
// `counter`, into `buffer` (kTextBufferSize bytes). Empty for Listed and for no state (0).
void FormatProgressText(char* buffer, std::uint32_t fileState, std::uint32_t done,
                        std::uint32_t size, std::int32_t counter);

// A byte count for the status line into `buffer` (kTextBufferSize bytes): "<n> B", "<n> KB",
// "<n> MB" (below 10 GiB) or "<n.n> GB", the value truncated.
void FormatByteCount(char* buffer, std::uint64_t bytes);

// The status line's download plan: `pattern` (the STR_PROGRESS_DOWNLOADPLAN text) with
// $FILES$ and $SIZE$ replaced by the count and FormatByteCount of `bytes`.
std::string PlanText(const std::string& pattern, std::uint32_t files, std::uint64_t bytes);

}  // namespace repair
