// The Windows program's message loop: it dispatches every message of the UI thread and hands
// the main window's timers, which have no procedure of their own, to the caller.
#pragma once

#include <functional>

namespace repair {

class Win32Window;

// Runs until the quit request that the window procedure posts on WM_DESTROY. For every timer
// of `window` that fires, calls onTimer(id) after the message has been dispatched. Marks the
// loop ended on `window` before it returns. True iff the user closed the window (a WM_DESTROY
// sent to end the run leaves it in place).
bool RunMessageLoop(Win32Window& window, const std::function<void(int)>& onTimer);

}  // namespace repair
