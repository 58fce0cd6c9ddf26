#include "ui/win32/message_loop.h"

#include <windows.h>

#include "ui/win32/main_window.h"
#include "ui/win32/window_setup.h"

namespace repair {

bool RunMessageLoop(Win32Window& window, const std::function<void(int)>& onTimer) {
  HWND main = window.handles().window;
  MSG message{};
  for (;;) {
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      Sleep(10);
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
    if (message.message == WM_TIMER && message.hwnd == main && onTimer) {
      onTimer(static_cast<int>(message.wParam));
    }
    if (message.message == WM_QUIT) break;
  }
  window.MarkLoopEnded();
  return !window.IsOpen();
}

}  // namespace repair
