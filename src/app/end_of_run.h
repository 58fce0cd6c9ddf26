// The end of a run, after the message loop: the outcome boxes and the chained launch. Both
// read the error code and the phase of the recovery state as they are at that moment (a
// worker that is still running is not waited for).
#pragma once

#include <cstdint>
#include <string>

#include "app/app_host.h"
#include "ui/window_controls.h"

namespace repair {

// Shows the error box when the run's error code is not 0 (texts by the code; any code
// outside 1..10 shows the ERR_UNKNOWN text), then, when the run finished and `quiet` is false,
// the completion box ("recovered" or "nothing to repair"). Each box has its own test.
//
// `windowClosed` is true when the user closed the window with its close box (the message
// loop reported it): the window no longer exists, so nothing is activated, but the boxes are
// still shown through `window`, whose implementation then shows them without an owner. The
// outcome is never dropped just because the window went first.
void ReportOutcome(WindowControls& window, bool quiet, bool windowClosed);

// The chained program's parameters: "/recoverfail" when the run did not finish or left an
// error code, then, after a space when needed, `passThrough`.
std::string BuildChainedParameters(bool finished, std::int32_t error,
                                   const std::string& passThrough);

// Starts `execPath` with the parameters above; nothing when `execPath` is empty. The launch
// is not waited for and its failure is not reported.
void LaunchChained(AppHost& host, const char* execPath, const std::string& passThrough);

}  // namespace repair
