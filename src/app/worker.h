// The worker thread: started once by the start-worker timer, it runs the recovery and then
// ends the message loop.
#pragma once

#include "app/app_host.h"
#include "app/run_context.h"
#include "ui/window_controls.h"

namespace repair {

// The worker thread's entry; `context` is the RecoveryContext, complete before the thread
// exists and only read here. Runs one recovery (its outcome is left in the recovery state),
// then ends the run through the context's window.
void RunWorker(void* context);

// Kills the start-worker timer and starts RunWorker on the host's worker thread, which the
// end of run joins (AppHost::JoinWorker).
// When no thread can be created, says so in an error box and ends the run; the error code
// stays 0, so the end of run shows no second box but still reports the failure to a chained
// program. `context` must outlive the thread, which it does when the thread is joined. False when
// no thread could be created.
bool StartWorker(AppHost& host, WindowControls& window, RecoveryContext& context);

}  // namespace repair
