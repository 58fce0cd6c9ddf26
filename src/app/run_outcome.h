// How the program ended, and what each program makes of it as its exit status. The Windows
// program keeps the codes its callers know (0 for every run that reached the message loop:
// they read the outcome from "/recoverfail"); the Linux program tells scripts the outcome.
#pragma once

namespace repair {

enum class RunOutcome {
  kFinished,      // the run reached its end with no error
  kStartFailed,   // an unmatched quote, or no usable string file
  kAnotherCopy,   // another copy of the program is running
  kNoWindow,      // the window could not be created
  kFailed,        // the run ended with an error (the error box)
  kDeclined,      // the question was answered No
  kWindowClosed,  // the window was closed (or the program interrupted) before the run ended
};

// The Windows program's exit code: 1 for a start-up failure, 0 otherwise.
int WindowsExitCode(RunOutcome outcome);

// The Linux program's exit status, as its --help and README list them:
// 0 finished, 1 start-up failed, 2 the run failed, 3 declined, 4 window closed or
// interrupted, 5 another copy is running, 6 no window.
int LinuxExitStatus(RunOutcome outcome);

// What is known once the message loop has ended.
struct LoopEnd {
  bool windowClosed = false;  // the user closed the window
  bool declined = false;      // the question was answered No
  bool runFailed = false;     // the worker could not start, or the run stored an error
  bool finished = false;      // the run reached its end
};

// The outcome of a run that reached the message loop. The user's act comes first: a run still
// going when the window closed or the question was declined is not a failure of its own.
RunOutcome OutcomeAfterLoop(const LoopEnd& end);

}  // namespace repair
