#include "app/run_outcome.h"

namespace repair {

int WindowsExitCode(RunOutcome outcome) { return outcome == RunOutcome::kStartFailed ? 1 : 0; }

int LinuxExitStatus(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kFinished: return 0;
    case RunOutcome::kStartFailed: return 1;
    case RunOutcome::kFailed: return 2;
    case RunOutcome::kDeclined: return 3;
    case RunOutcome::kWindowClosed: return 4;
    case RunOutcome::kAnotherCopy: return 5;
    case RunOutcome::kNoWindow: return 6;
  }
  return 2;
}

RunOutcome OutcomeAfterLoop(const LoopEnd& end) {
  if (end.windowClosed) return RunOutcome::kWindowClosed;
  if (end.declined) return RunOutcome::kDeclined;
  if (end.finished && !end.runFailed) return RunOutcome::kFinished;
  return RunOutcome::kFailed;
}

}  // namespace repair
