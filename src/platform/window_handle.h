// An opaque handle of the main window: an HWND on Windows, the terminal window's id elsewhere.
#pragma once

namespace repair::platform {
using WindowHandle = void*;
}
